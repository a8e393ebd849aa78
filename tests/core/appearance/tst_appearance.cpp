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

    // Stored values are read exactly: no case folding, no trimming.
    void modes() {
        for (const AppearanceMode mode : allAppearanceModes)
            QCOMPARE(appearanceModeFromRawValue(rawValue(mode)), mode);
        for (const QString& raw : {u""_s, u"Hell"_s, u"sepiahell"_s, u" dunkel"_s})
            QVERIFY2(!appearanceModeFromRawValue(raw), qPrintable(raw));
    }

    // Sepia is fixed and opaque whatever the desktop's palette; the system
    // palette follows Qt's.
    void palettes() {
        const QPalette light = colorSchemePalette(ColorScheme::Light);
        const QPalette dark = colorSchemePalette(ColorScheme::Dark);
        QVERIFY(!isDark(light) && isDark(dark));
        for (int r = 0; r <= int(Palette::Role::Selection); ++r)
            for (const Palette* sepia : {&Palette::sepiaLight(), &Palette::sepiaDark()}) {
                const QColor c = sepia->color(Palette::Role(r), light);
                QCOMPARE(c, sepia->color(Palette::Role(r), dark));
                QCOMPARE(c.alpha(), 255);
            }
        const Palette& p = Palette::system();
        for (const QPalette& qt : {light, dark}) {
            QCOMPARE(p.color(Palette::Role::Paper, qt), qt.color(QPalette::Base));
            QCOMPARE(p.color(Palette::Role::Sidebar, qt), qt.color(QPalette::Window));
            // Markup fades further than quotes, both in the text's hue.
            const QColor syntax = p.color(Palette::Role::Syntax, qt);
            const QColor quote = p.color(Palette::Role::Quote, qt);
            QVERIFY(syntax.alphaF() < quote.alphaF() && quote.alphaF() < 1);
            QCOMPARE(syntax.rgb(), qt.color(QPalette::Text).rgb());
        }
    }

    void fonts() {
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
        for (int level = 1; level <= 6; ++level) {
            const ResolvedFont h = Theme::editorHeading(17, level, u"Charis SIL"_s);
            QVERIFY(h.font.pointSizeF() > 17);
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
        const auto row = [](const char* name, QVariant a, QVariant f, QVariant size,
                            const QString& appearance, const QString& family, double expected) {
            QTest::newRow(name) << a << f << size
                                << AppearancePreferences{appearance, family, expected};
        };
        const QString sys = u"system"_s, iowan = u"Iowan Old Style"_s;
        row("absent", {}, {}, {}, sys, iowan, 17);
        row("as text", u"sepiaHell"_s, u"Cochin"_s, u" 18.5 "_s, u"sepiaHell"_s, u"Cochin"_s, 18.5);
        row("numbers", 5, 12, 20, u"5"_s, u"12"_s, 20);
        row("lists", QStringList{u"hell"_s}, QStringList{u"Cochin"_s}, QStringList{u"18"_s}, sys,
            iowan, 17);
        row("no number", {}, {}, u"groß"_s, sys, iowan, 17);
        row("boolean", {}, {}, true, sys, iowan, 17);
        row("infinite", {}, {}, u"inf"_s, sys, iowan, 17);
        row("huge", {}, {}, 1e300, sys, iowan, 32);
        row("negative", {}, {}, -4, sys, iowan, 12);
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
