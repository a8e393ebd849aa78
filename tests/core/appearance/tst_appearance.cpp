#include "testenv.h"

#include "appearance/editorstyle.h"
#include "markdown/exporter.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QSettings>
#include <QTextBlock>

using namespace Qt::StringLiterals;
using namespace orvik;

class TestAppearance : public QObject {
    Q_OBJECT

    static void setPreference(const QString& key, const QVariant& value) {
        QSettings settings(u"Orvik"_s, u"Orvik"_s);
        value.isValid() ? settings.setValue(key, value) : settings.remove(key);
    }

private Q_SLOTS:
    void init() { QSettings(u"Orvik"_s, u"Orvik"_s).clear(); }

    // Sepia is fixed and opaque whatever the desktop's palette; the system palette follows Qt's,
    // its markup fading further than quotes, both in the text's hue.
    void palettes() {
        using R = Palette::Role;
        const QPalette light = colorSchemePalette(ColorScheme::Light),
                       dark = colorSchemePalette(ColorScheme::Dark);
        QVERIFY(!isDark(light) && isDark(dark));
        for (int r = 0; r <= int(R::Selection); ++r)
            for (const Palette* sepia : {&Palette::sepiaLight(), &Palette::sepiaDark()}) {
                const QColor c = sepia->color(R(r), light);
                QCOMPARE(c, sepia->color(R(r), dark));
                QCOMPARE(c.alpha(), 255);
            }
        const Palette& p = Palette::system();
        for (const QPalette& qt : {light, dark}) {
            QCOMPARE(p.color(R::Paper, qt), qt.color(QPalette::Base));
            QCOMPARE(p.color(R::Sidebar, qt), qt.color(QPalette::Window));
            const QColor syntax = p.color(R::Syntax, qt), quote = p.color(R::Quote, qt);
            QVERIFY(syntax.alphaF() < quote.alphaF() && quote.alphaF() < 1);
            QCOMPARE(syntax.rgb(), qt.color(QPalette::Text).rgb());
        }
    }

    // Only families whose four faces set German letters are offered; a missing one resolves to
    // the face the system really shows, not to its own name.
    void fonts() {
        for (const QString& family :
             {u"Charis SIL"_s, u"Linux Libertine O"_s, u"EB Garamond"_s, u"TeX Gyre Pagella"_s,
              u"Liberation Mono"_s, u"DejaVu Sans Mono"_s, u"Linux Libertine Display O"_s})
            if (!QFontDatabase::hasFamily(family))
                QSKIP("the fonts of scripts/setup.sh are not installed");
        if (Theme::isInstalled(u"Charter"_s) || Theme::isInstalled(u"Iowan Old Style"_s))
            QSKIP("needs Charter and Iowan Old Style to be missing");
        // EB Garamond's bold face has no umlauts, no ß and no German quotes.
        QString offered;
        for (const EditorFont& f : EditorFont::available())
            offered += f.family + u',';
        QCOMPARE(offered, u"Charis SIL,Linux Libertine O,TeX Gyre Pagella,Liberation Mono,"_s);
        QVERIFY(!Theme::writesGerman(u"EB Garamond"_s) && Theme::writesGerman(u"DejaVu Serif"_s));
        QVERIFY(Theme::isInstalled(u"charis sil"_s) && !Theme::isInstalled(u"Charis"_s));
        const QString system =
            QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
        QCOMPARE(Theme::resolvedFamily(u"Charter"_s), system);
        QCOMPARE(QFontInfo(Theme::editorBody(19, u"Charter"_s)).family(), system);
        QCOMPARE(QFontInfo(Theme::editorBody(19, u"Charis SIL"_s)).family(), u"Charis SIL"_s);
        QCOMPARE(Theme::faces(u"EB Garamond"_s), (FaceSet{true, true, false}));
        QCOMPARE(Theme::faces(u"DejaVu Sans Mono"_s), (FaceSet{true, true, true})); // "Oblique"
        // Headings are bold in their own face; a family without a bold face keeps its regular one.
        for (int level = 1; level <= 6; ++level) {
            const ResolvedFont h = Theme::editorHeading(17, level, u"Charis SIL"_s);
            QVERIFY(h.font.pointSizeF() > 17 && !h.syntheticBold && QFontInfo(h.font).bold());
        }
        const ResolvedFont h = Theme::editorHeading(17, 2, u"Linux Libertine Display O"_s);
        QVERIFY(h.syntheticBold && h.font.weight() == QFont::Normal);
        QCOMPARE(QFontInfo(h.font).family(), u"Linux Libertine Display O"_s);
    }

    // Text is read as written, a size trimmed; absent values and values of the wrong kind give
    // the defaults, sizes are brought within bounds. The same value goes under all three keys.
    void storedPreferences_data() {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<AppearancePreferences>("expected");
        const auto row = [](const char* name, QVariant stored, QString text, double size) {
            const AppearancePreferences d; // null text: the defaults
            QTest::newRow(name) << stored
                                << AppearancePreferences{text.isNull() ? d.appearance : text,
                                                         text.isNull() ? d.fontFamily : text, size};
        };
        row("absent", {}, {}, 17);
        row("text", u" 18.5 "_s, u" 18.5 "_s, 18.5);
        row("number", 20, u"20"_s, 20);
        row("list", QStringList{u"18"_s}, {}, 17);
        row("no number", u"groß"_s, u"groß"_s, 17);
        row("boolean", true, {}, 17);
        row("infinite", u"inf"_s, u"inf"_s, 17);
        row("huge", u"1e300"_s, u"1e300"_s, 32);
        row("negative", -4, u"-4"_s, 12);
    }
    void storedPreferences() {
        QFETCH(QVariant, stored);
        for (const QString& key :
             {AppearancePreferences::appearanceKey(), AppearancePreferences::fontFamilyKey(),
              AppearancePreferences::fontSizeKey()})
            setPreference(key, stored);
        QTEST(AppearancePreferences::current(), "expected");
    }

    // A stored family that is not available gives the first available one, a mode is read
    // exactly, the key leaves out fractions of a point; PDF, DOCX and RTF come out in the face
    // the editor shows, headings and bold text included.
    void styleDerivation() {
        // Cochin stands for any listed font with a size factor; this machine need not have it.
        const QList<EditorFont> available = {EditorFont::all()[1], EditorFont::all()[2]};
        MarkdownHighlighter::Style s = editorStyle({u"sepiaDunkel"_s, u"Cochin"_s, 17}, available);
        QVERIFY(qFuzzyCompare(s.baseSize, 18.02));
        QCOMPARE(s, (MarkdownHighlighter::Style{s.baseSize, u"Cochin"_s, Palette::sepiaDark(),
                                                AppearanceMode::SepiaDunkel}));
        QCOMPARE(s.key(), u"sepiaDunkel|Cochin|18"_s);
        QCOMPARE((MarkdownHighlighter::Style{-0.5, u"C"_s}).key(), u"system|C|0"_s);
        s = editorStyle({u"Hell"_s, u"Apple Chancery"_s, 20}, available);
        QCOMPARE(s, (MarkdownHighlighter::Style{20, u"Charter"_s, Palette::system(),
                                                AppearanceMode::System}));
        QCOMPARE(editorStyle({}, {}), MarkdownHighlighter::Style{}); // and no crash
        if (!Theme::isInstalled(u"Linux Libertine O"_s) || Theme::isInstalled(u"Iowan Old Style"_s))
            QSKIP("needs the Debian book fonts and no Iowan Old Style");
        for (const QString& chosen :
             {u"Iowan Old Style"_s, u"EB Garamond"_s, u"TeX Gyre Pagella"_s, u"Gibt es nicht"_s}) {
            setPreference(AppearancePreferences::fontFamilyKey(), chosen);
            const auto doc =
                Exporter::attributedString(u"# Über\n\nText **fett** „ß“"_s, u"T"_s, chosen);
            QStringList seen{doc->defaultFont().family()};
            for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
                for (auto it = block.begin(); !it.atEnd(); ++it)
                    seen.append(it.fragment().charFormat().fontFamilies().toStringList());
            seen.removeDuplicates();
            QCOMPARE(seen, QStringList{editorStyle().family});
        }
        QCOMPARE(exportFamily(u"DejaVu Serif"_s), u"DejaVu Serif"_s); // writes German: as given
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
