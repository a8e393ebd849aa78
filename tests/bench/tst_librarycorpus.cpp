#include "librarycorpus.h"
#include "markdown/highlighter.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;
using namespace orvik;
using namespace orvik::bench;

namespace {

// A corpus small enough for a debug build, big enough to show its shape.
CorpusOptions sample(quint32 seed) {
    CorpusOptions o;
    o.seed = seed;
    o.sheets = 150;
    o.groups = 5;
    o.bigGroupSheets = 50;
    o.libraryBytes = 400 * 1024;
    o.singleBytes = {8 * 1024, 96 * 1024};
    return o;
}

// Every file below `root` by relative path: its bytes and modification time.
QMap<QString, QPair<QByteArray, QDateTime>> snapshot(const QString& root) {
    QMap<QString, QPair<QByteArray, QDateTime>> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
                     {test::readBytes(path), QFileInfo(path).lastModified().toUTC()});
    }
    return files;
}

qint64 median(QList<qint64> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

class TestLibraryCorpus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sameSeedSameBytesAndDates();
    void differentSeedDifferentText();
    void groupsAndSizes();
    void sheetSizesSpreadLikeNotes();
    void everyStyledConstructOccurs();
    void refusesToOverwrite();
    void refusesImpossibleOptions();
};

void TestLibraryCorpus::sameSeedSameBytesAndDates() {
    QTemporaryDir a, b;
    QVERIFY(writeCorpus(a.path(), sample(7)));
    QVERIFY(writeCorpus(b.path(), sample(7)));
    const auto first = snapshot(a.path());
    const auto second = snapshot(b.path());
    QCOMPARE(first.size(), 150 + 2);
    QCOMPARE(first.keys(), second.keys());
    for (auto it = first.cbegin(); it != first.cend(); ++it) {
        QVERIFY2(it.value().first == second.value(it.key()).first, qPrintable(it.key()));
        QCOMPARE(it.value().second, second.value(it.key()).second);
    }
}

void TestLibraryCorpus::differentSeedDifferentText() {
    QTemporaryDir a, b;
    const auto one = writeCorpus(a.path(), sample(1));
    const auto two = writeCorpus(b.path(), sample(2));
    QVERIFY(one && two);
    QVERIFY(test::readBytes(one->singles[1]) != test::readBytes(two->singles[1]));
    QVERIFY(snapshot(a.path()).keys() != snapshot(b.path()).keys());
}

void TestLibraryCorpus::groupsAndSizes() {
    QTemporaryDir out;
    const auto corpus = writeCorpus(out.path(), sample(3));
    QVERIFY(corpus);
    QCOMPARE(corpus->groups, groupNames(5));
    QCOMPARE(corpus->groups.first(), u"Tagebuch"_s);
    QCOMPARE(corpus->sheetsPerGroup, (QList<int>{50, 25, 25, 25, 25}));

    const QRegularExpression stamp(uR"(^\d{4}-\d\d-\d\d-\d{6}\.md$)"_s);
    qint64 onDisk = 0;
    for (qsizetype g = 0; g < corpus->groups.size(); ++g) {
        const QFileInfoList sheets = QDir(corpus->library + u'/' + corpus->groups[g])
                                         .entryInfoList(QDir::Files | QDir::Hidden);
        QCOMPARE(sheets.size(), corpus->sheetsPerGroup[g]);
        for (const QFileInfo& sheet : sheets) {
            QVERIFY2(stamp.match(sheet.fileName()).hasMatch(), qPrintable(sheet.fileName()));
            // The name is the sheet's creation stamp, in UTC like its date.
            QCOMPARE(sheet.lastModified().toUTC().toString(u"yyyy-MM-dd-HHmmss"_s) + u".md"_s,
                     sheet.fileName());
            const QByteArray bytes = test::readBytes(sheet.filePath());
            QVERIFY(bytes.startsWith("# "));
            QVERIFY(QString::fromUtf8(bytes).toUtf8() == bytes);
            onDisk += sheet.size();
        }
    }
    QCOMPARE(corpus->libraryBytes, onDisk);
    // Each sheet overshoots its drawn size by less than one block.
    QVERIFY2(onDisk >= 400 * 1024 && onDisk < 400 * 1024 * 13 / 10,
             qPrintable(QString::number(onDisk)));

    QCOMPARE(corpus->singles.size(), 2);
    for (qsizetype i = 0; i < 2; ++i) {
        const qint64 size = QFileInfo(corpus->singles[i]).size();
        const qint64 wanted = sample(3).singleBytes[i];
        QVERIFY2(size >= wanted && size < wanted + 2048, qPrintable(QString::number(size)));
    }
}

void TestLibraryCorpus::sheetSizesSpreadLikeNotes() {
    std::mt19937 rng(11);
    const qint64 total = 50LL * 1024 * 1024;
    const QList<qint64> sizes = sheetSizes(rng, 10000, total);
    QCOMPARE(sizes.size(), 10000);
    const qint64 sum = std::accumulate(sizes.begin(), sizes.end(), qint64(0));
    QVERIFY2(std::abs(sum - total) < total / 100, qPrintable(QString::number(sum)));
    const qint64 mean = sum / sizes.size();
    const qint64 middle = median(sizes);
    // Skewed: most notes are shorter than the mean, a few far longer.
    QVERIFY2(middle < mean * 8 / 10, qPrintable(QString::number(middle)));
    QVERIFY(*std::max_element(sizes.begin(), sizes.end()) > 10 * middle);
    QVERIFY(*std::min_element(sizes.begin(), sizes.end()) >= 80);
    const auto shortOnes =
        std::count_if(sizes.begin(), sizes.end(), [](qint64 s) { return s < 2048; });
    QVERIFY2(shortOnes > 1000 && shortOnes < 5000, qPrintable(QString::number(shortOnes)));

    // Degenerate requests still give every sheet a title's worth.
    std::mt19937 again(11);
    const QList<qint64> tiny = sheetSizes(again, 5, 10);
    QCOMPARE(tiny.size(), 5);
    QVERIFY(std::all_of(tiny.begin(), tiny.end(), [](qint64 s) { return s >= 80; }));
    QVERIFY(sheetSizes(again, 0, 1000).isEmpty());
}

void TestLibraryCorpus::everyStyledConstructOccurs() {
    std::mt19937 rng(5);
    const QString text = germanMarkdown(rng, 256 * 1024);
    QVERIFY(text.toUtf8().size() >= 256 * 1024);

    // What the highlighter makes of it: every role it knows shows up.
    using namespace MarkdownHighlighter;
    const Faces faces{{true, true, false}, {true, true, true}};
    const QList<StyledRange> styled = ranges(text, faces);
    const auto has = [&](auto predicate) {
        return std::any_of(styled.begin(), styled.end(),
                           [&](const StyledRange& r) { return predicate(r.style); });
    };
    for (const FontRole role : {FontRole::Heading1, FontRole::Heading2, FontRole::Heading3,
                                FontRole::Heading4, FontRole::Monospace})
        QVERIFY(has([role](const CharStyle& s) { return s.font == role; }));
    for (const ParagraphRole role : {ParagraphRole::Quote, ParagraphRole::ListItem})
        QVERIFY(has([role](const CharStyle& s) { return s.paragraph == role; }));
    QVERIFY(has([](const CharStyle& s) { return s.bold && s.font == FontRole::Body; }));
    QVERIFY(has([](const CharStyle& s) { return s.italic && s.paragraph == ParagraphRole::Body; }));
    QVERIFY(has([](const CharStyle& s) { return s.underline && s.color == Palette::Role::Link; }));
    // Task boxes: monospaced in the link colour.
    QVERIFY(has([](const CharStyle& s) {
        return s.font == FontRole::Monospace && s.color == Palette::Role::Link;
    }));
    QVERIFY(codeBlocks(text).size() > 3);

    // Each spelling of each construct, which the roles above cannot tell apart.
    for (const QString& pattern : {uR"(^##### \S)"_s,
                                   uR"(^###### \S)"_s,
                                   uR"(^> > \S)"_s,
                                   uR"(^- \S)"_s,
                                   uR"(^\* \S)"_s,
                                   uR"(^\+ \S)"_s,
                                   uR"(^  [-*+] \S)"_s,
                                   uR"(^\d+\. \S)"_s,
                                   uR"(^- \[ \] )"_s,
                                   uR"(^- \[x\] )"_s,
                                   uR"(^- \[X\] )"_s,
                                   uR"(^---$)"_s,
                                   uR"(^\*\*\*$)"_s,
                                   uR"(^___$)"_s,
                                   uR"(^- - -$)"_s,
                                   uR"(^```$)"_s,
                                   uR"(^```cpp$)"_s,
                                   uR"(\*\*\w+\*\*)"_s,
                                   uR"(__\w+__)"_s,
                                   uR"((?<![*\w])\*\w+\*(?![*\w]))"_s,
                                   uR"((?<![_\w])_\w+_(?![_\w]))"_s,
                                   uR"((?<!`)`\w+`(?!`))"_s,
                                   uR"(``\w+``)"_s,
                                   uR"(\[\w+\]\(https://\S+\))"_s,
                                   uR"(„\w+“)"_s,
                                   uR"(\w\n\w)"_s})
        QVERIFY2(QRegularExpression(pattern, QRegularExpression::MultilineOption |
                                                 QRegularExpression::UseUnicodePropertiesOption)
                     .match(text)
                     .hasMatch(),
                 qPrintable(pattern));
    for (const QChar c : u"äöüÄÖÜß"_s)
        QVERIFY2(text.contains(c), qPrintable(QString(c)));
}

void TestLibraryCorpus::refusesToOverwrite() {
    QTemporaryDir out;
    QVERIFY(test::writeBytes(out.filePath(u"library/Ideen/mein-blatt.md"_s), "meins"));
    QString error;
    QVERIFY(!writeCorpus(out.path(), sample(1), &error));
    QVERIFY(error.contains(u"exists"_s));
    QCOMPARE(test::readBytes(out.filePath(u"library/Ideen/mein-blatt.md"_s)), QByteArray("meins"));
    QVERIFY(!QFileInfo::exists(out.filePath(u"single"_s)));
    QCOMPARE(QDir(out.filePath(u"library"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{u"Ideen"_s});

    // A second run into the same folder finds the first one's output.
    QTemporaryDir again;
    QVERIFY(writeCorpus(again.path(), sample(1)));
    const auto before = snapshot(again.path());
    QVERIFY(!writeCorpus(again.path(), sample(2)));
    QCOMPARE(snapshot(again.path()), before);
}

void TestLibraryCorpus::refusesImpossibleOptions() {
    QTemporaryDir out;
    for (const auto& change : std::initializer_list<void (*)(CorpusOptions&)>{
             [](CorpusOptions& o) { o.sheets = 0; }, [](CorpusOptions& o) { o.groups = 0; },
             [](CorpusOptions& o) { o.bigGroupSheets = o.sheets + 1; },
             [](CorpusOptions& o) { o.libraryBytes = -1; }}) {
        CorpusOptions o = sample(1);
        change(o);
        QString error;
        QVERIFY(!writeCorpus(out.path(), o, &error));
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(QDir(out.path()).isEmpty());
}

ORVIK_TEST_MAIN(TestLibraryCorpus)
#include "tst_librarycorpus.moc"
