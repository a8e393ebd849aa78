#include "markdown/exporter.h"
#include "markdown/styledtext.h"
#include "testenv.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QXmlStreamReader>

#include <zip.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

using namespace orvik;
using Exporter::ExportError;
using Exporter::Format;

namespace {

const QString home = test::isolateHome(); // before the application reads it

const QString sample =
    u"# Reise in die Alpen\n\n"
    u"Ein **kräftiger** Tag mit *Regen*, `code` und einem [Link](https://example.org/?a=1&b=2).\n"
    u"\n## Unterwegs\n\n"
    u"> Zitatwort: Über den Pass ging es „langsam“ voran, und der Nebel hing tief in den Tälern.\n"
    u"\n- Punkt eins\n- [x] erledigt\n\n1. Erstens\n2. Zweitens\n\n---\n\n### Abends\n\n"
    u"```\nlet grüße = \"<Äpfel & Birnen>\"\n```\n\nSchluss: Grüße aus Zürich – ß und €.\n"_s;

// What a reader of any export of `sample` must find.
const QStringList sampleTexts =
    u"Reise in die Alpen|Ein kräftiger Tag mit Regen, code und einem Link.|„langsam“|• Punkt eins|"
    u"☑ erledigt|2. Zweitens|let grüße = \"<Äpfel & Birnen>\"|Grüße aus Zürich – ß und €."_s.split(
        u'|');

// A whole file out of a zip archive; empty when it is missing.
QByteArray unzipped(const QString& archivePath, const char* name) {
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, nullptr);
    zip_stat_t stat;
    zip_file_t* file =
        archive && zip_stat(archive, name, 0, &stat) == 0 ? zip_fopen(archive, name, 0) : nullptr;
    QByteArray bytes(file ? qsizetype(stat.size) : 0, '\0');
    if (file && zip_fread(file, bytes.data(), stat.size) != zip_int64_t(stat.size))
        bytes.clear();
    if (file)
        zip_fclose(file);
    zip_discard(archive);
    return bytes;
}

// The text of an XML document; nothing when it is not well formed.
std::optional<QString> xmlText(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    QString text;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::Characters)
            text += reader.text();
    return reader.hasError() ? std::nullopt : std::optional(text);
}

// The output of a tool of poppler-utils or LibreOffice (scripts/setup.sh installs both);
// LibreOffice gets a profile of its own.
QByteArray run(const QString& tool, const QStringList& args, bool withErrors = false) {
    static QTemporaryDir profile;
    QProcess p;
    p.setProcessEnvironment(test::environmentWithHome(profile.path()));
    p.setProcessChannelMode(withErrors ? QProcess::MergedChannels : QProcess::SeparateChannels);
    p.start(QStandardPaths::findExecutable(tool), args);
    if (p.waitForFinished(180000) && p.exitCode() == 0)
        return p.readAllStandardOutput();
    qWarning("%s failed: %s", qPrintable(tool), p.readAllStandardError().constData());
    return {};
}
const auto havePoppler = [] { return !QStandardPaths::findExecutable(u"pdftoppm"_s).isEmpty(); };
// The first of `expected` missing from `text`.
QString missing(const QString& text, const QStringList& expected) {
    for (const QString& e : expected)
        if (!text.contains(e))
            return e;
    return {};
}
const auto pdfInfo = [](const QString& pdf) { return QString::fromUtf8(run(u"pdfinfo"_s, {pdf})); };
// The PDF's text with every run of white space (no-break spaces included) as one blank.
QString pdfText(const QString& pdf) {
    static const QRegularExpression spaces(u"[\\s\u00A0]+"_s);
    return QString::fromUtf8(run(u"pdftotext"_s, {pdf, u"-"_s})).replace(spaces, u" "_s);
}

struct Word {
    int page;
    QRectF box;
    QString text;
};
QList<Word> words(const QString& pdf) {
    const QString text = QString::fromUtf8(run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}));
    static const QRegularExpression re(u"<page |<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" "
                                       u"xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>"_s);
    QList<Word> list;
    int page = 0;
    for (const QRegularExpressionMatch& m : re.globalMatch(text)) {
        if (m.captured(0).startsWith(u"<page"_s))
            ++page;
        else
            list.append({page,
                         QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                QPointF(m.captured(3).toDouble(), m.captured(4).toDouble())),
                         m.captured(5)});
    }
    return list;
}

// The PDF's first page at 144 dpi: 2 pixels a point.
QImage firstPage(const QString& pdf) {
    run(u"pdftoppm"_s,
        {u"-r"_s, u"144"_s, u"-l"_s, u"1"_s, u"-png"_s, u"-singlefile"_s, pdf, pdf.chopped(4)});
    return QImage(pdf.chopped(4) + u".png"_s);
}
bool near(QColor a, QColor b, int by = 24) {
    const int d = std::abs(a.red() - b.red()) + std::abs(a.green() - b.green());
    return d + std::abs(a.blue() - b.blue()) < by;
}

} // namespace

class TestExporter : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(test::writeBytes(path(u"blatt.md"_s), "# Blatt"));
        QVERIFY(QFile::link(path(u"blatt.md"_s), path(u"link"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(path(u"pipe"_s)).constData(), 0600), 0);
    }

    void safeFileNames_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("name");
        QTest::newRow("slash and blanks") << u"/  "_s << u"-"_s;
        QTest::newRow("blanks only") << u"   "_s << u"Ohne Titel"_s;
        QTest::newRow("every forbidden character")
            << u"a/b\\c:d*e?f\"g<h>i|j"_s << u"a-b-c-d-e-f-g-h-i-j"_s;
        QTest::newRow("NUL") << u"Mit NUL\0drin"_s << u"Mit NUL-drin"_s;
        QTest::newRow("line breaks trimmed") << u"\n Reise: Tag 1 \t\n"_s << u"Reise- Tag 1"_s;
        QTest::newRow("combining accent at the cut") // stays with its letter
            << QString(79, u'a') + u"e\u0301zzz"_s << QString(79, u'a') + u"e\u0301"_s;
        QTest::newRow("cut after replacing") << QString(90, u'/') << QString(80, u'-');
    }
    void safeFileNames() {
        QFETCH(QString, title);
        QTEST(Exporter::safeFileName(title), "name");
    }

    // Trimmed sheets joined by rules; unreadable and missing ones left out.
    void combine() {
        const QDir dir(path(u"combine"_s));
        QList<Sheet> sheets;
        for (const auto& [name, bytes] : {std::pair<QString, QByteArray>{u"1.md"_s, "  Eins\n\n"},
                                          {u"kaputt.md"_s, "kaputt \xff\xfe"},
                                          {u"2.md"_s, "\nZwei  \r\n"},
                                          {u"fehlt.md"_s, {}},
                                          {u"3.md"_s, "# Drei\n"}}) {
            QVERIFY(bytes.isNull() || test::writeBytes(dir.filePath(name), bytes));
            sheets.append({QUrl::fromLocalFile(dir.filePath(name)), {}, {}, {}});
        }
        QCOMPARE(Exporter::combine(sheets), u"Eins\n\n---\n\nZwei\n\n---\n\n# Drei"_s);
        QCOMPARE(Exporter::combine({sheets[1], sheets[3]}), QString());
    }

    // Over an older, longer file: exactly the text, and exactly the page of the HTML view.
    void markdownAndHtmlAreWrittenAsTheyAre() {
        const QString md = u"# Grüße\r\n\r\nZeile mit Blanks   \n\u2028„Zitat“ 😀\n"_s;
        const QString mdPath = path(u"exakt.md"_s), htmlPath = path(u"exakt.html"_s);
        test::writeBytes(mdPath, "alter, längerer Inhalt, der verschwinden muss");
        Exporter::write(md, u"Grüße"_s, Format::Markdown, u"Charter"_s, mdPath);
        QCOMPARE(test::readBytes(mdPath), md.toUtf8());
        Exporter::write(sample, u"Reise & Rast"_s, Format::Html, u"Charter"_s, htmlPath);
        const QString body = MarkdownToHTML::body(sample, MarkdownToHTML::ListStyle::Markup);
        QCOMPARE(test::readBytes(htmlPath),
                 MarkdownToHTML::page(u"Reise & Rast"_s, body, u"Charter"_s).toUtf8());
    }

    // Unclosed markup and runs far longer than a line (quadratic layout): all text arrives, with
    // invisible break opportunities only inside runs of text, and none in DOCX or RTF.
    void pathologicalInputExports_data() {
        QTest::addColumn<QString>("markdown");
        QTest::addColumn<bool>("longRun"); // of text, not markup
        const qsizetype size = 200 * 1024;
        QTest::newRow("*a ") << u"*a "_s.repeated(size / 3) << false;
        QTest::newRow("**") << u"x"_s + u"**"_s.repeated(size / 2) << false;
        QTest::newRow("[") << QString(size, u'[') << true;
        QTest::newRow("backticks") << u"a"_s + QString(size, u'`') << true;
        QTest::newRow("surrogates") << u"😀"_s.repeated(size / 2) << true;
    }
    void pathologicalInputExports() {
        QFETCH(QString, markdown);
        QFETCH(bool, longRun);
        const auto doc = Exporter::attributedString(markdown, u"T"_s, u"DejaVu Serif"_s);
        QVERIFY(doc->pageCount() >= 1); // lays the whole document out
        const QString text = doc->toPlainText();
        const qsizetype breaks = text.count(u'\u200B');
        const auto kept = [](QString s) { // markup may turn into formatting
            static const QRegularExpression markup(u"[*`\n\u2029\u200B]"_s);
            return s.remove(markup).trimmed();
        };
        QCOMPARE(kept(text), kept(markdown));
        QVERIFY(longRun ? breaks >= markdown.size() / 1000 - 1 : breaks == 0);
        QVERIFY(!text.contains(u"\U0001F600"_s.first(1) + u'\u200B')); // none inside a character
        const QString docx = path(u"lang.docx"_s), rtf = path(u"lang.rtf"_s);
        Exporter::write(markdown, u"T"_s, Format::Docx, u"DejaVu Serif"_s, docx);
        const auto written = xmlText(unzipped(docx, "word/document.xml"));
        QVERIFY(written);
        QCOMPARE(kept(*written), kept(markdown));
        Exporter::write(markdown, u"T"_s, Format::Rtf, u"DejaVu Serif"_s, rtf);
        QVERIFY(!test::readBytes(rtf).contains("\\u8203?"));
    }

    void emptyAndFailedWrites_data() {
        QTest::addColumn<Format>("format");
        for (Format f : Exporter::allFormats())
            QTest::newRow(qPrintable(Exporter::rawValue(f))) << f;
    }
    // An empty sheet writes a valid file; a failed write names its path, leaves no folder, does
    // not write through a link and keeps a FIFO.
    void emptyAndFailedWrites() {
        QFETCH(Format, format);
        const QString empty = path(u"leer."_s) + Exporter::fileExtension(format);
        Exporter::write(QString(), u"Leer"_s, format, u"Charter"_s, empty);
        const QByteArray bytes = test::readBytes(empty);
        QVERIFY(QFileInfo(empty).isFile() && bytes.isEmpty() == (format == Format::Markdown));
        QVERIFY(format != Format::Html || bytes.contains("<body>\n\n</body>"));
        QVERIFY(format != Format::Docx || xmlText(unzipped(empty, "word/document.xml")));
        if (format == Format::Pdf && havePoppler())
            QVERIFY(pdfInfo(empty).contains(u"Pages:           1"_s));
        const QString link = path(u"link"_s), pipe = path(u"pipe"_s);
        const QString other = u" ist keine gewöhnliche Datei"_s;
        for (const auto& [target, why] :
             {std::pair{path(u"fehlt/ordner/x."_s) + Exporter::fileExtension(format), QString()},
              {m_dir.path(), other},
              {link, other},
              {pipe, other}}) {
            try {
                Exporter::write(sample, u"T"_s, format, u"Charter"_s, target);
                QFAIL("no error");
            } catch (const ExportError& error) {
                QCOMPARE(error.description(),
                         u"Die Datei ließ sich nicht sichern: \u201E"_s + target + u'\u201C' + why);
            }
        }
        QVERIFY(!QFileInfo::exists(path(u"fehlt"_s)));
        QCOMPARE(test::readBytes(path(u"blatt.md"_s)), QByteArray("# Blatt"));
        QVERIFY(QFileInfo(link).isSymLink());
    }

    // Fonts that exist, fixed pitch for code; heading sizes as the page's em sizes on 12 pt, not
    // Qt's own steps, all six levels bold; the rule centred, the quote italic, code wrapping.
    void styledDocument() {
        const auto doc = Exporter::attributedString(sample, u"Reise"_s, u"DejaVu Sans"_s);
        QCOMPARE(doc->metaInformation(QTextDocument::DocumentTitle), u"Reise"_s);
        QMap<int, qreal> headingSizes;
        QMap<QString, QTextBlock> blocks;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            blocks[b.text().left(3)] = b;
            const int level = b.blockFormat().headingLevel();
            if (level > 0)
                headingSizes[level] = b.begin().fragment().charFormat().fontPointSize();
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QString family =
                    it.fragment().charFormat().fontFamilies().toStringList().value(0);
                QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family));
                if (it.fragment().text() == u"code" || it.fragment().text().startsWith(u"let"))
                    QVERIFY(QFontDatabase::isFixedPitch(family));
                else if (level == 0)
                    QCOMPARE(family, u"DejaVu Sans"_s);
            }
        }
        QCOMPARE(headingSizes, (QMap<int, qreal>{{1, 22.8}, {2, 17.4}, {3, 14.4}}));
        const auto six = Exporter::attributedString(u"###### Sechs"_s, u"T"_s, u"DejaVu Sans"_s);
        QVERIFY(styledtext::isBold(six->begin().begin().fragment().charFormat()));
        QVERIFY(blocks[u"* *"_s].blockFormat().alignment() & Qt::AlignHCenter);
        QVERIFY(blocks[u"Zit"_s].begin().fragment().charFormat().fontItalic());
        QVERIFY(!blocks[u"let"_s].blockFormat().nonBreakableLines());
    }

    // A4 with 64 pt margins over several pages, a paragraph breaking across them: nothing in the
    // margins, not even text the page's clip cut away; every line once, the text filling the
    // measure; the rule centred; link targets with parentheses, backslashes, non-ASCII escaped.
    void pdfPageSizeAndMargins() {
        if (!havePoppler())
            QSKIP("poppler-utils missing");
        QString md = sample + u"\n[Bank](https://de.wikipedia.org/wiki/Bank_(Sitzmöbel)), "
                              u"[Köln](https://de.wikipedia.org/wiki/Köln) und [x](a\\b(c)\n"_s;
        for (int i = 0; i < 40; ++i)
            md += u"\nAbsatz %1: Äpfel und Birnen wachsen im Garten hinter dem Haus, und wer sie "
                  u"pflückt, trägt sie in Körben zum Markt.\n"_s.arg(i);
        for (int i = 0; i < 200; ++i)
            md += u"\nZeile%1 Äpfel und Birnen wachsen im Garten hinter dem Haus."_s.arg(i);
        const QString pdf = path(u"seiten.pdf"_s);
        Exporter::write(md, u"Seiten & Ränder"_s, Format::Pdf, u"DejaVu Serif"_s, pdf);
        const QString info = pdfInfo(pdf);
        QCOMPARE(missing(info, {u"Page size:       595 x 842 pts (A4)"_s,
                                u"Title:           Seiten & Ränder"_s}),
                 QString());
        const int pages = QRegularExpression(u"Pages:\\s+(\\d+)"_s).match(info).captured(1).toInt();
        QVERIFY(pages >= 5);
        const QList<Word> list = words(pdf);
        QRectF all = list.value(0).box, rule; // the rule's asterisks
        QSet<int> seen;
        QMap<QString, int> counts;
        for (const Word& w : list) {
            seen.insert(w.page);
            counts[w.text] += 1;
            all = all.united(w.box);
            rule = w.text.startsWith(u'*') ? rule.united(w.box) : rule;
            QVERIFY2(QRectF(63.5, 63.5, 595 - 127, 842 - 127).contains(w.box), qPrintable(w.text));
        }
        QCOMPARE(seen.size(), pages);
        for (int i = 0; i < 200; ++i)
            QVERIFY(counts.value(u"Zeile%1"_s.arg(i)) == 1 &&
                    (i >= 40 || counts[u"%1:"_s.arg(i)] == 1));
        QVERIFY(all.left() < 64.5 && all.right() > 505 && list.first().box.top() < 70);
        QCOMPARE(missing(pdfText(pdf), sampleTexts), QString());
        QVERIFY(std::abs(rule.center().x() - (64 + 531) / 2.0) < 1);
        const QString urls = QString::fromUtf8(run(u"pdfinfo"_s, {u"-url"_s, pdf}, true));
        QVERIFY2(!urls.contains(u"Error"_s), qPrintable(urls));
        QCOMPARE(missing(urls, {u"https://de.wikipedia.org/wiki/Bank_%28Sitzm%C3%B6bel\n"_s,
                                u"https://de.wikipedia.org/wiki/K%C3%B6ln\n"_s, u"a%5Cb%28c\n"_s}),
                 QString());
    }

    // Any styled document prints whole: one laid out for another page, and one whose layout Qt
    // left unfinished (a format changed after pagination).
    void pdfOfAnyDocumentIsComplete() {
        if (!havePoppler())
            QSKIP("poppler-utils missing");
        QImage device(1, 1, QImage::Format_ARGB32);
        device.setDotsPerMeterX(3780);
        device.setDotsPerMeterY(3780);
        for (const bool paginated : {false, true}) {
            QTextDocument doc;
            if (paginated) { // exactly the exporter's own page: the A4 text area at 96 dpi
                doc.documentLayout()->setPaintDevice(&device);
                doc.setDocumentMargin(0);
                doc.setPageSize(QSizeF(467.0 * 96 / 72, 714.0 * 96 / 72));
            }
            doc.setHtml(u"<p>Absatz mit genug Worten, um eine Zeile zu füllen und noch etwas "
                        u"weiter zu gehen, bis sie umbricht.</p>"_s.repeated(59) +
                        u"<p>Absatz 59 mit Ende</p>"_s);
            // One changed paragraph near the top: Qt 6.4 then lays out only a stretch after it.
            QTextBlockFormat f = doc.begin().next().blockFormat();
            f.setLeftMargin(20);
            QTextCursor(doc.begin().next()).setBlockFormat(f);
            const QString pdf = path(u"beliebig.pdf"_s);
            Exporter::writePDF(doc, pdf);
            QVERIFY(pdfInfo(pdf).contains(u"595 x 842 pts (A4)"_s));
            QVERIFY(pdfText(pdf).contains(u"Absatz 59 mit"_s));
            QVERIFY(std::abs(words(pdf).first().box.left() - 64) < 0.5);
        }
    }

    // Qt draws neither the quote's bar nor a code block's padding: the bar 1.5 pt wide at the
    // margin beside the text, the box reaching the margin with the text 12 pt inside. Two code
    // blocks in a row are two boxes 12 pt apart, as margins collapse in the page (Qt: 24 pt).
    void pdfShowsQuoteBarAndCodeBoxes() {
        if (!havePoppler())
            QSKIP("poppler-utils missing");
        const QString pdf = path(u"kaesten.pdf"_s);
        Exporter::write(
            u"> Zitatwort: Über den Pass.\n\nDavor\n\n```\neins\n```\n```\nzwei\n```\nDanach"_s,
            u"K"_s, Format::Pdf, u"DejaVu Serif"_s, pdf);
        const QImage page = firstPage(pdf);
        const QList<Word> list = words(pdf);
        const auto box = [&](const QString& text) {
            return std::find_if(list.begin(), list.end(),
                                [&](const Word& w) { return w.text.startsWith(text); })
                ->box;
        };
        const QRectF quoteWord = box(u"Zitatwort"_s), codeWord = box(u"eins"_s);
        QVERIFY(!page.isNull() && !quoteWord.isNull() && !codeWord.isNull());
        const QPoint bar(qRound((64 + 0.75) * 2), qRound(quoteWord.center().y() * 2));
        QVERIFY(near(page.pixelColor(bar), QColor(0xc9bda3)));
        QVERIFY(near(page.pixelColor(bar + QPoint(8, 0)), Qt::white));
        QVERIFY(quoteWord.left() > 64 + 12 && codeWord.left() > 64 + 12); // after bar and padding
        QList<std::pair<int, int>> boxes; // first and last row of each run of box colour
        for (int y = 0; y < page.height(); ++y) {
            if (!near(page.pixelColor(65 * 2, y), QColor(0xf2ede1), 12))
                continue;
            if (boxes.isEmpty() || boxes.last().second != y - 1)
                boxes.append({y, y});
            boxes.last().second = y;
        }
        QCOMPARE(boxes.size(), 2);
        QVERIFY(boxes[0].first < codeWord.center().y() * 2 &&
                codeWord.center().y() * 2 < boxes[0].second);
        const int gap = boxes[1].first - boxes[0].second - 1; // rows at 2 px per point
        QVERIFY2(std::abs(gap - 24) <= 2, qPrintable(QString::number(gap)));
        QCOMPARE(boxes[0].second - boxes[0].first, boxes[1].second - boxes[1].first);
    }

    // Every part well formed, bold and the title there; a control character dropped and a quote
    // in a link target encoded. Headings are LibreOffice's to find.
    void docxStructure() {
        const QString docx = path(u"struktur.docx"_s);
        Exporter::write(u"# Eins\n\n## Zwei\n\n**fett** und [Trick](http://a.b/\"x) "
                        u"und ein Steuerzeichen \u0001 hier.\n"_s,
                        u"Struktur"_s, Format::Docx, u"DejaVu Serif"_s, docx);
        for (const char* part :
             {"[Content_Types].xml", "_rels/.rels", "word/document.xml", "word/styles.xml",
              "word/settings.xml", "word/_rels/document.xml.rels", "docProps/core.xml",
              "docProps/app.xml"})
            QVERIFY2(!unzipped(docx, part).isEmpty() && xmlText(unzipped(docx, part)), part);
        const QString document = QString::fromUtf8(unzipped(docx, "word/document.xml"));
        QVERIFY(document.contains(u"<w:b w:val=\"1\"/>"_s));
        QVERIFY(!document.contains(QChar(1)));
        QVERIFY(unzipped(docx, "word/_rels/document.xml.rels")
                    .contains("Target=\"http://a.b/%22x\" TargetMode=\"External\""));
        QVERIFY(unzipped(docx, "docProps/core.xml").contains("<dc:title>Struktur</dc:title>"));
    }

    // Plain ASCII with balanced groups: escapes for letters beyond ASCII (as UTF-16 units),
    // braces and backslashes.
    void rtfIsPlainAscii() {
        const QString rtfPath = path(u"ascii.rtf"_s);
        Exporter::write(sample + u"\n😀 {Klammern} und \\ Rückstrich"_s, u"Rätsel"_s, Format::Rtf,
                        u"DejaVu Serif"_s, rtfPath);
        const QByteArray rtf = test::readBytes(rtfPath);
        QVERIFY(rtf.startsWith("{\\rtf1"));
        QVERIFY(std::all_of(rtf.begin(), rtf.end(), [](char c) { return uchar(c) < 0x80; }));
        int depth = 0;
        for (qsizetype i = 0; i < rtf.size(); ++i) {
            if (rtf[i] == '\\')
                ++i; // an escaped character or the start of a control word
            else if (rtf[i] == '{' || rtf[i] == '}')
                QVERIFY((depth += rtf[i] == '{' ? 1 : -1) >= 0);
        }
        QCOMPARE(depth, 0);
        QCOMPARE(missing(QString::fromLatin1(rtf),
                         {u"{\\title R\\u228?tsel}"_s, u"\\u-10179?\\u-8704?"_s,
                          u"\\{Klammern\\} und \\\\ R"_s}),
                 QString());
    }

    // The real test of both writers: LibreOffice opens them, finds the headings, the link and
    // every character, on A4 with a left margin of 64 pt.
    void libreOfficeReadsDocxAndRtf() {
        if (QStandardPaths::findExecutable(u"libreoffice"_s).isEmpty() || !havePoppler())
            QSKIP("libreoffice-writer-nogui or poppler-utils missing");
        const QString docx = path(u"lo-docx.docx"_s), rtf = path(u"lo-rtf.rtf"_s),
                      out = path(u"lo"_s);
        Exporter::write(sample, u"Reise"_s, Format::Docx, u"DejaVu Serif"_s, docx);
        Exporter::write(sample, u"Reise"_s, Format::Rtf, u"DejaVu Serif"_s, rtf);
        for (const QString& target : {u"pdf"_s, u"html"_s})
            QVERIFY(!run(u"libreoffice"_s, {u"--headless"_s, u"--convert-to"_s, target,
                                            u"--outdir"_s, out, docx, rtf})
                         .isEmpty());
        for (const QString& name : {u"lo-docx"_s, u"lo-rtf"_s}) {
            const QString pdf = out + u'/' + name + u".pdf"_s;
            QVERIFY2(pdfInfo(pdf).contains(u"(A4)"_s), qPrintable(name));
            const QString text = pdfText(pdf);
            QCOMPARE(missing(text, sampleTexts), QString());
            QVERIFY(text.contains(u"* * *"_s) || text.contains(u"***"_s));
            const QList<Word> list = words(pdf);
            QVERIFY(!list.isEmpty() && std::abs(list.first().box.left() - 64) < 1.5);
            QCOMPARE(missing(QString::fromUtf8(test::readBytes(out + u'/' + name + u".html"_s)),
                             {u"<h1"_s, u"<h2"_s, u"<h3"_s,
                              u"href=\"https://example.org/?a=1&amp;b=2\""_s}),
                     QString());
        }
    }
};

QTEST_MAIN(TestExporter)
#include "tst_exporter.moc"
