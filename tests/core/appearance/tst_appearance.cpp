#include "testenv.h"

#include "appearance/editorstyle.h"
#include "appearance/palette.h"
#include "appearance/theme.h"
#include "markdown/exporter.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QSettings>
#include <QTextBlock>
#include <QTextDocument>

using namespace Qt::StringLiterals;
using namespace orvik;

namespace {

void setPreference(const QString& key, const QVariant& value) {
    QSettings settings(u"Orvik"_s, u"Orvik"_s);
    if (value.isValid())
        settings.setValue(key, value);
    else
        settings.remove(key);
}

QStringList families(const QList<EditorFont>& fonts) {
    QStringList result;
    for (const EditorFont& f : fonts)
        result.append(f.family);
    return result;
}

} // namespace

class TestAppearance : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        for (const QString& key :
             {AppearancePreferences::appearanceKey(), AppearancePreferences::fontFamilyKey(),
              AppearancePreferences::fontSizeKey()})
            setPreference(key, {});
    }

    void modes() {
        struct Expected {
            const char16_t* raw;
            const char16_t* title;
            const Palette* palette;
            std::optional<ColorScheme> scheme;
        };
        const Expected expected[] = {
            {u"system", u"Wie das System", &Palette::system(), std::nullopt},
            {u"hell", u"Hell", &Palette::system(), ColorScheme::Light},
            {u"dunkel", u"Dunkel", &Palette::system(), ColorScheme::Dark},
            {u"sepiaHell", u"Sepia hell", &Palette::sepiaLight(), ColorScheme::Light},
            {u"sepiaDunkel", u"Sepia dunkel", &Palette::sepiaDark(), ColorScheme::Dark}};
        QCOMPARE(std::size(allAppearanceModes), std::size(expected));
        for (size_t i = 0; i < std::size(expected); ++i) {
            const AppearanceMode mode = allAppearanceModes[i];
            QCOMPARE(rawValue(mode), QString::fromUtf16(expected[i].raw));
            QCOMPARE(appearanceModeFromRawValue(rawValue(mode)), mode);
            QCOMPARE(title(mode), QString::fromUtf16(expected[i].title));
            QCOMPARE(&paletteFor(mode), expected[i].palette);
            QCOMPARE(forcedColorScheme(mode), expected[i].scheme);
        }
        for (const QString& raw : {u""_s, u"Hell"_s, u"sepiahell"_s, u" dunkel"_s})
            QVERIFY2(!appearanceModeFromRawValue(raw), qPrintable(raw));
    }

    void sepiaColoursAreExact() {
        using R = Palette::Role;
        const struct {
            R role;
            QRgb light, dark;
        } table[] = {{R::Paper, 0xF7EFDD, 0x23201B},   {R::Text, 0x4A3B2A, 0xD9CBB1},
                     {R::Heading, 0x33281B, 0xEFE3C8}, {R::Syntax, 0xC0AE8E, 0x6E6555},
                     {R::Quote, 0x7C6B54, 0xA5977E},   {R::Code, 0x9A5B27, 0xD4A76A},
                     {R::Link, 0x8A5A2B, 0xD4A76A},    {R::Caret, 0x9A5B27, 0xD4A76A},
                     {R::Toolbar, 0xDED0B0, 0x131110}, {R::Sidebar, 0xE9DDC3, 0x191713},
                     {R::List, 0xF1E7D1, 0x1E1B17},    {R::Selection, 0xD9C7A2, 0x3D3529}};
        QVERIFY(Palette::sepiaLight().overridesChrome && Palette::sepiaDark().overridesChrome);
        // Fixed and opaque, whatever the desktop's palette.
        for (const ColorScheme scheme : {ColorScheme::Light, ColorScheme::Dark}) {
            const QPalette qt = colorSchemePalette(scheme);
            for (const auto& row : table) {
                QCOMPARE(Palette::sepiaLight().color(row.role, qt).rgba(), 0xFF000000 | row.light);
                QCOMPARE(Palette::sepiaDark().color(row.role, qt).rgba(), 0xFF000000 | row.dark);
            }
        }
    }

    void systemPaletteFollowsTheQtPalette() {
        const Palette& p = Palette::system();
        QVERIFY(!p.overridesChrome);
        const QPalette light = colorSchemePalette(ColorScheme::Light);
        const QPalette dark = colorSchemePalette(ColorScheme::Dark);
        QVERIFY(!isDark(light) && isDark(dark));
        for (const QPalette& qt : {light, dark}) {
            QCOMPARE(p.color(Palette::Role::Paper, qt), qt.color(QPalette::Base));
            QCOMPARE(p.color(Palette::Role::Heading, qt), qt.color(QPalette::Text));
            QCOMPARE(p.color(Palette::Role::Sidebar, qt), qt.color(QPalette::Window));
            QCOMPARE(p.color(Palette::Role::Caret, qt), qt.color(QPalette::Highlight));
            // Markup fades further than quotes, both in the text's hue.
            const QColor syntax = p.color(Palette::Role::Syntax, qt);
            const QColor quote = p.color(Palette::Role::Quote, qt);
            QVERIFY(syntax.alphaF() < quote.alphaF() && quote.alphaF() < 1);
            QCOMPARE(syntax.rgb(), qt.color(QPalette::Text).rgb());
        }
        QVERIFY(p.color(Palette::Role::Code, light) != p.color(Palette::Role::Code, dark));
    }

    void fonts() {
        QCOMPARE(families(EditorFont::all()),
                 (QStringList{u"Iowan Old Style"_s, u"Charter"_s, u"Cochin"_s,
                              u"American Typewriter"_s, u"Courier New"_s, u"Apple Chancery"_s,
                              u"Charis SIL"_s, u"Linux Libertine O"_s, u"EB Garamond"_s,
                              u"TeX Gyre Pagella"_s, u"Liberation Mono"_s}));
        QList<double> factors;
        for (const EditorFont& f : EditorFont::all()) {
            QCOMPARE(f.title, f.family);
            factors.append(f.sizeFactor);
        }
        QCOMPARE(factors,
                 (QList<double>{1.0, 1.0, 1.06, 1.0, 1.02, 1.12, 1.0, 1.06, 1.1, 1.0, 1.0}));

        const QStringList debian = {u"Charis SIL"_s, u"Linux Libertine O"_s, u"EB Garamond"_s,
                                    u"TeX Gyre Pagella"_s, u"Liberation Mono"_s};
        for (const QString& family : debian + QStringList{u"DejaVu Sans Mono"_s})
            if (!QFontDatabase::hasFamily(family))
                QSKIP("the fonts of scripts/setup.sh are not installed");
        if (Theme::isInstalled(u"Charter"_s) || Theme::isInstalled(u"Iowan Old Style"_s))
            QSKIP("needs Charter and Iowan Old Style to be missing");
        // A missing family still gives a QFont, with a substitute's glyphs.
        QVERIFY(!QFontInfo(QFont(u"Charter"_s)).family().isEmpty());
        // EB Garamond's bold face has no umlauts, no ß and no German quotes:
        // headings would mix in another family's letters.
        QCOMPARE(families(EditorFont::available()),
                 (QStringList{u"Charis SIL"_s, u"Linux Libertine O"_s, u"TeX Gyre Pagella"_s,
                              u"Liberation Mono"_s}));
        QVERIFY(!Theme::writesGerman(u"EB Garamond"_s) && !Theme::writesGerman(u"Charter"_s));
        QVERIFY(Theme::writesGerman(u"DejaVu Serif"_s));
        QVERIFY(Theme::isInstalled(u"charis sil"_s) && !Theme::isInstalled(u"Charis"_s));

        const QString system =
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
        QCOMPARE(Theme::resolvedFamily(u"Charter"_s), system);
        QCOMPARE(QFontInfo(Theme::editorBody(19, u"Charter"_s)).family(), system);
        QCOMPARE(QFontInfo(Theme::editorBody(19, u"Charis SIL"_s)).family(), u"Charis SIL"_s);

        QCOMPARE(Theme::faces(u"EB Garamond"_s), (FaceSet{true, true, false}));
        // Its slanted faces are called "Oblique".
        QCOMPARE(Theme::faces(u"DejaVu Sans Mono"_s), (FaceSet{true, true, true}));
    }

    void headingFonts() {
        if (!Theme::isInstalled(u"Charis SIL"_s))
            QSKIP("Charis SIL is not installed");
        const QList<qreal> sizes = {29.24, 24.14, 20.74, 18.36, 18.36, 18.36};
        for (int level = 1; level <= 6; ++level) {
            const ResolvedFont h = Theme::editorHeading(17, level, u"Charis SIL"_s);
            QVERIFY(qFuzzyCompare(h.font.pointSizeF(), sizes[level - 1]));
            QVERIFY(!h.syntheticBold);
            QVERIFY(QFontInfo(h.font).bold());
        }
        // A family without a bold face keeps its regular one.
        for (const QString& family : {u"TeX Gyre Chorus"_s, u"Linux Libertine Display O"_s}) {
            if (!Theme::isInstalled(family))
                continue;
            const ResolvedFont h = Theme::editorHeading(17, 2, family);
            QVERIFY(h.syntheticBold);
            QCOMPARE(h.font.weight(), QFont::Normal);
            QCOMPARE(QFontInfo(h.font).family(), family);
            return;
        }
        QSKIP("no installed family without a bold face");
    }

    void storedPreferences_data() {
        QTest::addColumn<QVariant>("appearance");
        QTest::addColumn<QVariant>("family");
        QTest::addColumn<QVariant>("size");
        QTest::addColumn<AppearancePreferences>("expected");
        const auto prefs = [](const QString& appearance, const QString& family, double size) {
            return AppearancePreferences{appearance, family, size};
        };
        const QString iowan = u"Iowan Old Style"_s;
        QTest::newRow("absent") << QVariant() << QVariant() << QVariant()
                                << prefs(u"system"_s, iowan, 17);
        QTest::newRow("as text") << QVariant(u"sepiaHell"_s) << QVariant(u"Cochin"_s)
                                 << QVariant(u" 18.5 "_s)
                                 << prefs(u"sepiaHell"_s, u"Cochin"_s, 18.5);
        QTest::newRow("numbers") << QVariant(5) << QVariant(12) << QVariant(20)
                                 << prefs(u"5"_s, u"12"_s, 20);
        QTest::newRow("lists") << QVariant(QStringList{u"hell"_s})
                               << QVariant(QStringList{u"Cochin"_s})
                               << QVariant(QStringList{u"18"_s}) << prefs(u"system"_s, iowan, 17);
        QTest::newRow("no number")
            << QVariant() << QVariant() << QVariant(u"groß"_s) << prefs(u"system"_s, iowan, 17);
        QTest::newRow("boolean") << QVariant() << QVariant() << QVariant(true)
                                 << prefs(u"system"_s, iowan, 17);
        QTest::newRow("infinite") << QVariant() << QVariant() << QVariant(u"inf"_s)
                                  << prefs(u"system"_s, iowan, 17);
        QTest::newRow("huge") << QVariant() << QVariant() << QVariant(1e300)
                              << prefs(u"system"_s, iowan, 32);
        QTest::newRow("negative") << QVariant() << QVariant() << QVariant(-4)
                                  << prefs(u"system"_s, iowan, 12);
    }
    void storedPreferences() {
        QFETCH(QVariant, appearance);
        QFETCH(QVariant, family);
        QFETCH(QVariant, size);
        setPreference(AppearancePreferences::appearanceKey(), appearance);
        setPreference(AppearancePreferences::fontFamilyKey(), family);
        setPreference(AppearancePreferences::fontSizeKey(), size);
        QTEST(AppearancePreferences::current(), "expected");
    }

    void styleDerivation() {
        // Cochin stands for any listed font with a size factor; this machine
        // need not have it.
        const QList<EditorFont> available = {EditorFont::all()[1], EditorFont::all()[2]};
        MarkdownHighlighter::Style s = editorStyle({u"sepiaDunkel"_s, u"Cochin"_s, 17}, available);
        QVERIFY(qFuzzyCompare(s.baseSize, 18.02));
        QCOMPARE(s.family, u"Cochin"_s);
        QCOMPARE(s.mode, AppearanceMode::SepiaDunkel);
        QCOMPARE(s.palette, Palette::sepiaDark());
        QCOMPARE(s.key(), u"sepiaDunkel|Cochin|18"_s);

        // Stored but not available: the first available font.
        s = editorStyle({u"gibt es nicht"_s, u"Apple Chancery"_s, 20}, available);
        QCOMPARE(s, (MarkdownHighlighter::Style{20, u"Charter"_s, Palette::system(),
                                                AppearanceMode::System}));
        // Nothing available: the designed default.
        QCOMPARE(editorStyle({}, {}), MarkdownHighlighter::Style{});
        QCOMPARE(MarkdownHighlighter::Style{}.key(), u"system|Iowan Old Style|17"_s);

        if (!Theme::isInstalled(u"Linux Libertine O"_s) || Theme::isInstalled(u"Iowan Old Style"_s))
            QSKIP("needs the Debian book fonts and no Iowan Old Style");
        setPreference(AppearancePreferences::appearanceKey(), u"sepiaHell"_s);
        setPreference(AppearancePreferences::fontFamilyKey(), u"Linux Libertine O"_s);
        QCOMPARE(editorStyle().key(), u"sepiaHell|Linux Libertine O|18"_s);
        // The default family is missing here: the first available one.
        setPreference(AppearancePreferences::fontFamilyKey(), {});
        QCOMPARE(editorStyle().key(), u"sepiaHell|Charis SIL|17"_s);

        // PDF, DOCX and RTF come out in the face the editor shows, headings and
        // bold text included.
        for (const QString& chosen :
             {u"Iowan Old Style"_s, u"EB Garamond"_s, u"TeX Gyre Pagella"_s, u"Gibt es nicht"_s}) {
            setPreference(AppearancePreferences::fontFamilyKey(), chosen);
            const auto doc =
                Exporter::attributedString(u"# Überschrift\n\nText **fett** „ß“"_s, u"T"_s, chosen);
            QStringList seen{doc->defaultFont().family()};
            for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
                for (auto it = block.begin(); !it.atEnd(); ++it)
                    seen.append(it.fragment().charFormat().fontFamilies().toStringList());
            seen.removeDuplicates();
            QCOMPARE(seen, QStringList{editorStyle().family});
        }
        // A family outside the list that writes German is taken as given.
        QCOMPARE(exportFamily(u"DejaVu Serif"_s), u"DejaVu Serif"_s);
    }

    void styleKey() {
        MarkdownHighlighter::Style s{17, u"Charter"_s, Palette::system(), AppearanceMode::Hell};
        const QString key = s.key();
        QCOMPARE(key, u"hell|Charter|17"_s);
        // Fractions of a point and the palette leave it alone.
        s.baseSize = 17.99;
        s.palette = Palette::sepiaLight();
        QCOMPARE(s.key(), key);
        s.baseSize = 32 * 1.12;
        QCOMPARE(s.key(), u"hell|Charter|35"_s);
        s.baseSize = -0.5;
        QCOMPARE(s.key(), u"hell|Charter|0"_s);
    }
};

int main(int argc, char** argv) {
    orvik::test::isolateHome();
    QGuiApplication app(argc, argv);
    TestAppearance tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_appearance.moc"
