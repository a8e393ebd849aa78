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

// The text of an XML document; nothing when it is not well formed.
std::optional<QString> xmlText(const QByteArray& xml) {
    QXmlStreamReader reader(xml);
    QString text;
    while (!reader.atEnd())
        if (reader.readNext() == QXmlStreamReader::Characters)
            text += reader.text();
    return reader.hasError() ? std::nullopt : std::optional(text);
}

// The output of a tool of poppler-utils, LibreOffice or unzip (scripts/setup.sh installs them);
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
// A whole file out of a zip archive; empty when it is missing. Brackets are unzip's wildcards.
QByteArray unzipped(const QString& archive, const char* name) {
    const QString literal =
        QString::fromLatin1(name).replace(u'[', u"\\["_s).replace(u']', u"\\]"_s);
    return run(u"unzip"_s, {u"-p"_s, archive, literal});
}
const auto havePoppler = [] { return !QStandardPaths::findExecutable(u"pdftoppm"_s).isEmpty(); };
// Those of `expected` missing from `text`.
QStringList missing(const QString& text, QStringList expected) {
    expected.removeIf([&](const QString& e) { return text.contains(e); });
    return expected;
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
    QXmlStreamReader xml(run(u"pdftotext"_s, {u"-bbox"_s, pdf, u"-"_s}));
    QList<Word> list;
    const auto at = [&](const QString& name) { return xml.attributes().value(name).toDouble(); };
    for (int page = 0; !xml.atEnd();) {
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"page")
            ++page;
        else if (xml.isStartElement() && xml.name() == u"word")
            list.append({page,
                         QRectF(QPointF(at(u"xMin"_s), at(u"yMin"_s)),
                                QPointF(at(u"xMax"_s), at(u"yMax"_s))),
                         xml.readElementText()});
    }
    return list;
}

bool near(QColor a, QColor b, int by = 24) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
               std::abs(a.blue() - b.blue()) <
           by;
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
        QTest::newRow("every forbidden character, NUL too")
            << u"a/b\\c:d*e?f\"g<h>i|j\0k"_s << u"a-b-c-d-e-f-g-h-i-j-k"_s;
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
        const QString text = doc->toPlainText(), docx = path(u"lang.docx"_s);
        const auto kept = [](QString s) { // markup may turn into formatting
            static const QRegularExpression markup(u"[*`\n\u2029\u200B]"_s);
            return s.remove(markup).trimmed();
        };
        QCOMPARE(kept(text), kept(markdown));
        QVERIFY(longRun ? text.count(u'\u200B') >= markdown.size() / 1000 - 1
                        : !text.contains(u'\u200B'));
        QVERIFY(!text.contains(u"\U0001F600"_s.first(1) + u'\u200B')); // none inside a character
        Exporter::write(markdown, u"T"_s, Format::Docx, u"DejaVu Serif"_s, docx);
        QCOMPARE(kept(xmlText(unzipped(docx, "word/document.xml")).value_or(u"kaputt"_s)),
                 kept(markdown));
        Exporter::write(markdown, u"T"_s, Format::Rtf, u"DejaVu Serif"_s, path(u"lang.rtf"_s));
        QVERIFY(!test::readBytes(path(u"lang.rtf"_s)).contains("\\u8203?"));
    }

    void emptyAndFailedWrites_data() {
        QTest::addColumn<Format>("format");
        for (Format f : Exporter::allFormats())
            QTest::newRow(qPrintable(Exporter::rawValue(f))) << f;
    }
    // An empty sheet writes a valid file over an older, longer one, and Markdown any text exactly
    // as it is; a failed write names its path, leaves no folder, does not write through a link
    // and keeps a FIFO.
    void emptyAndFailedWrites() {
        QFETCH(Format, format);
        const QString empty = path(u"leer."_s) + Exporter::fileExtension(format);
        const QString md = u"# Grüße\r\n\r\nZeile mit Blanks   \n\u2028„Zitat“ 😀\n"_s;
        Exporter::write(md, u"Grüße"_s, format, u"Charter"_s, empty);
        QVERIFY(format != Format::Markdown || test::readBytes(empty) == md.toUtf8());
        Exporter::write(QString(), u"Leer"_s, format, u"Charter"_s, empty);
        const QByteArray bytes = test::readBytes(empty);
        QVERIFY(QFileInfo(empty).isFile() && bytes.isEmpty() == (format == Format::Markdown));
        QVERIFY(format != Format::Html || bytes.contains("<body>\n\n</body>"));
        QVERIFY(format != Format::Docx || xmlText(unzipped(empty, "word/document.xml")));
        if (format == Format::Pdf && havePoppler())
            QVERIFY(pdfInfo(empty).contains(u"Pages:           1"_s));
        const QString link = path(u"link"_s),
                      noFolder = path(u"fehlt/ordner/x."_s) + Exporter::fileExtension(format);
        for (const QString& target : {noFolder, m_dir.path(), link, path(u"pipe"_s)}) {
            try {
                Exporter::write(sample, u"T"_s, format, u"Charter"_s, target);
                QFAIL("no error");
            } catch (const ExportError& error) {
                QCOMPARE(error.description(),
                         u"Die Datei ließ sich nicht sichern: \u201E"_s + target + u'\u201C' +
                             (target == noFolder ? QString() : u" ist keine gewöhnliche Datei"_s));
            }
        }
        QVERIFY(!QFileInfo::exists(path(u"fehlt"_s)) && QFileInfo(link).isSymLink());
        QCOMPARE(test::readBytes(path(u"blatt.md"_s)), QByteArray("# Blatt"));
    }

    // Fonts that exist, fixed pitch for code; heading sizes as the page's em sizes on 12 pt, not
    // Qt's own steps, every level bold; the quote italic, code wrapping. (The PDF shows the
    // centred rule, its metadata the title; the appearance tests the body's font.)
    void styledDocument() {
        const auto doc =
            Exporter::attributedString(sample + u"\n###### Sechs"_s, u"Reise"_s, u"DejaVu Sans"_s);
        QMap<int, qreal> headingSizes; // of bold headings
        QMap<QString, QTextBlock> blocks;
        for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
            blocks[b.text().left(3)] = b;
            const int level = b.blockFormat().headingLevel();
            if (level > 0 && styledtext::isBold(b.begin().fragment().charFormat()))
                headingSizes[level] = b.begin().fragment().charFormat().fontPointSize();
            for (auto it = b.begin(); !it.atEnd(); ++it) {
                const QString family =
                    it.fragment().charFormat().fontFamilies().toStringList().value(0);
                QVERIFY2(QFontDatabase::hasFamily(family), qPrintable(family));
                if (it.fragment().text() == u"code" || it.fragment().text().startsWith(u"let"))
                    QVERIFY(QFontDatabase::isFixedPitch(family));
            }
        }
        QCOMPARE(headingSizes, (QMap<int, qreal>{{1, 22.8}, {2, 17.4}, {3, 14.4}, {6, 12.6}}));
        QVERIFY(blocks[u"Zit"_s].begin().fragment().charFormat().fontItalic() &&
                !blocks[u"let"_s].blockFormat().nonBreakableLines());
    }

    // A4 with 64 pt margins over several pages, a paragraph breaking across them: nothing in the
    // margins, not even text the page's clip cut away; every line once, the text filling the
    // measure; the rule centred; link targets with parentheses, backslashes, non-ASCII escaped.
    // Any styled document prints whole too: one laid out for another page, and one whose layout
    // Qt left unfinished (a format changed after pagination).
    void pdfPageSizeAndMargins() {
        if (!havePoppler())
            QSKIP("poppler-utils missing");
        QString md = sample + u"\n[Bank](https://de.wikipedia.org/wiki/Bank_(Sitzmöbel)), "
                              u"[Köln](https://de.wikipedia.org/wiki/Köln) und [x](a\\b(c)\n"_s;
        for (int i = 0; i < 40; ++i)
            md += u"\nAbsatz %1: Äpfel und Birnen wachsen im Garten hinter dem Haus.\n"_s.arg(i);
        for (int i = 0; i < 200; ++i)
            md += u"\nZeile%1 Äpfel und Birnen wachsen im Garten hinter dem Haus."_s.arg(i);
        const QString pdf = path(u"seiten.pdf"_s);
        Exporter::write(md, u"Seiten & Ränder"_s, Format::Pdf, u"DejaVu Serif"_s, pdf);
        const QString info = pdfInfo(pdf);
        QCOMPARE(missing(info, {u"Page size:       595 x 842 pts (A4)"_s,
                                u"Title:           Seiten & Ränder"_s}),
                 QStringList());
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
        QCOMPARE(missing(pdfText(pdf), sampleTexts), QStringList());
        QVERIFY(std::abs(rule.center().x() - (64 + 531) / 2.0) < 1);
        const QString urls = QString::fromUtf8(run(u"pdfinfo"_s, {u"-url"_s, pdf}, true));
        QVERIFY2(!urls.contains(u"Error"_s), qPrintable(urls));
        QCOMPARE(missing(urls, {u"https://de.wikipedia.org/wiki/Bank_%28Sitzm%C3%B6bel\n"_s,
                                u"https://de.wikipedia.org/wiki/K%C3%B6ln\n"_s, u"a%5Cb%28c\n"_s}),
                 QStringList());
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
            const QString any = path(u"beliebig.pdf"_s);
            Exporter::writePDF(doc, any);
            QVERIFY(pdfInfo(any).contains(u"595 x 842 pts (A4)"_s) &&
                    pdfText(any).contains(u"Absatz 59 mit"_s));
            QVERIFY(std::abs(words(any).value(0).box.left() - 64) < 0.5);
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
        run(u"pdftoppm"_s,
            {u"-r"_s, u"144"_s, u"-l"_s, u"1"_s, u"-png"_s, u"-singlefile"_s, pdf, pdf.chopped(4)});
        const QImage page(pdf.chopped(4) + u".png"_s); // 2 pixels a point
        QMap<QString, QRectF> wordBoxes;
        for (const Word& w : words(pdf))
            wordBoxes.insert(w.text, w.box);
        const QRectF quoteWord = wordBoxes.value(u"Zitatwort:"_s), codeWord = wordBoxes[u"eins"_s];
        QVERIFY(!page.isNull() && !quoteWord.isNull() && !codeWord.isNull());
        const QPoint bar(qRound((64 + 0.75) * 2), qRound(quoteWord.center().y() * 2));
        QVERIFY(near(page.pixelColor(bar), QColor(0xc9bda3)) &&
                near(page.pixelColor(bar + QPoint(8, 0)), Qt::white));
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
        QCOMPARE_LE(std::abs(boxes[1].first - boxes[0].second - 1 - 24), 2); // 2 rows a point
        QCOMPARE(boxes[0].second - boxes[0].first, boxes[1].second - boxes[1].first);
    }

    // DOCX: every part well formed, bold and the title there, a control character dropped and a
    // quote in a link target encoded (headings are LibreOffice's to find). RTF: plain ASCII with
    // balanced groups, escapes for letters beyond ASCII (as UTF-16 units), braces and backslashes.
    void docxAndRtfEscapeWhatTheirFormatsReserve() {
        const QString docx = path(u"struktur.docx"_s), rtfPath = path(u"ascii.rtf"_s);
        const QString md = sample + u"\n[Trick](http://a.b/\"x) \u0001 😀 {Klammern} \\ R"_s;
        Exporter::write(md, u"Rätsel"_s, Format::Docx, u"DejaVu Serif"_s, docx);
        for (const QByteArray& part : run(u"zipinfo"_s, {u"-1"_s, docx}).trimmed().split('\n'))
            QVERIFY2(xmlText(unzipped(docx, part.constData())), part.constData());
        const QString document = QString::fromUtf8(unzipped(docx, "word/document.xml"));
        QVERIFY(document.contains(u"<w:b w:val=\"1\"/>"_s) && !document.contains(QChar(1)));
        QVERIFY(unzipped(docx, "word/_rels/document.xml.rels")
                    .contains("Target=\"http://a.b/%22x\" TargetMode=\"External\""));
        QVERIFY(unzipped(docx, "docProps/core.xml").contains("<dc:title>Rätsel</dc:title>"));
        Exporter::write(md, u"Rätsel"_s, Format::Rtf, u"DejaVu Serif"_s, rtfPath);
        const QByteArray rtf = test::readBytes(rtfPath);
        QVERIFY(rtf.startsWith("{\\rtf1") &&
                std::all_of(rtf.begin(), rtf.end(), [](char c) { return uchar(c) < 0x80; }));
        QByteArray groups =
            QByteArray(rtf).replace("\\\\", "").replace("\\{", "").replace("\\}", "");
        groups.removeIf([](char c) { return c != '{' && c != '}'; });
        int depth = 0; // never below zero, and zero at the end
        for (const char c : groups)
            QVERIFY((depth += c == '{' ? 1 : -1) >= 0);
        QCOMPARE(depth, 0);
        QCOMPARE(missing(QString::fromLatin1(rtf),
                         {u"{\\title R\\u228?tsel}"_s, u"\\u-10179?\\u-8704?"_s,
                          u"\\{Klammern\\} \\\\ R"_s}),
                 QStringList());
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
            QCOMPARE(missing(text, sampleTexts), QStringList());
            QVERIFY(text.contains(u"* * *"_s) || text.contains(u"***"_s));
            QVERIFY(std::abs(words(pdf).value(0).box.left() - 64) < 1.5);
            QCOMPARE(missing(QString::fromUtf8(test::readBytes(out + u'/' + name + u".html"_s)),
                             {u"<h1"_s, u"<h2"_s, u"<h3"_s,
                              u"href=\"https://example.org/?a=1&amp;b=2\""_s}),
                     QStringList());
        }
    }
};

QTEST_MAIN(TestExporter)
#include "tst_exporter.moc"
