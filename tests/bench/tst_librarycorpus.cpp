#include "librarycorpus.h"
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
CorpusOptions sample(quint32 seed) { // sheets, groups, big group, library bytes, singles
    return {seed, 150, 5, 50, 400 * 1024, {8 * 1024, 96 * 1024}};
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

} // namespace

// The generator's output is what every benchmark figure rests on.
class TestLibraryCorpus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Also guards comparable figures: one seed gives the same files, another other ones.
    void sameSeedSameFilesOfTheRightShape() {
        QTemporaryDir a, b, c;
        const auto corpus = writeCorpus(a.path(), sample(7));
        QVERIFY(corpus && writeCorpus(b.path(), sample(7)));
        const auto files = snapshot(a.path());
        QCOMPARE(files.size(), 150 + 2);
        QVERIFY(files == snapshot(b.path()));
        const auto other = writeCorpus(c.path(), sample(8));
        QVERIFY(other && files.keys() != snapshot(c.path()).keys());
        QVERIFY(test::readBytes(other->singles[1]) != test::readBytes(corpus->singles[1]));

        QCOMPARE(corpus->groups, groupNames(5));
        QCOMPARE(corpus->sheetsPerGroup, (QList<int>{50, 25, 25, 25, 25}));
        qint64 onDisk = 0;
        for (qsizetype g = 0; g < corpus->groups.size(); ++g) {
            const QFileInfoList sheets = QDir(corpus->library + u'/' + corpus->groups[g])
                                             .entryInfoList(QDir::Files | QDir::Hidden);
            QCOMPARE(sheets.size(), corpus->sheetsPerGroup[g]);
            for (const QFileInfo& sheet : sheets) {
                // The name is the sheet's creation stamp, in UTC like its date.
                QCOMPARE(sheet.fileName(),
                         sheet.lastModified().toUTC().toString(u"yyyy-MM-dd-HHmmss"_s) + u".md"_s);
                const QByteArray bytes = test::readBytes(sheet.filePath());
                QVERIFY(bytes.startsWith("# ") && QString::fromUtf8(bytes).toUtf8() == bytes);
                onDisk += sheet.size();
            }
        }
        QCOMPARE(corpus->libraryBytes, onDisk);
        // Each sheet overshoots its drawn size by less than one block.
        QCOMPARE_GE(onDisk, 400 * 1024);
        QCOMPARE_LT(onDisk, 400 * 1024 * 13 / 10);
        QCOMPARE(corpus->singles.size(), 2);
        for (qsizetype i = 0; i < 2; ++i) {
            const qint64 size = QFileInfo(corpus->singles[i]).size(),
                         wanted = sample(7).singleBytes[i];
            QCOMPARE_GE(size, wanted);
            QCOMPARE_LT(size, wanted + 2048);
        }
    }

    void sheetSizesSpreadLikeNotes() {
        std::mt19937 rng(11);
        const qint64 total = 50LL * 1024 * 1024;
        QList<qint64> sizes = sheetSizes(rng, 10000, total);
        QCOMPARE(sizes.size(), 10000);
        const qint64 sum = std::accumulate(sizes.begin(), sizes.end(), qint64(0));
        QCOMPARE_LT(std::abs(sum - total), total / 100);
        std::sort(sizes.begin(), sizes.end());
        // Skewed: most notes are shorter than the mean, a few far longer.
        const qint64 median = sizes[sizes.size() / 2];
        QCOMPARE_LT(median, sum / sizes.size() * 8 / 10);
        QVERIFY(sizes.last() > 10 * median && sizes.first() >= 80);
        const auto shortOnes =
            std::count_if(sizes.begin(), sizes.end(), [](qint64 s) { return s < 2048; });
        QCOMPARE_GT(shortOnes, 1000);
        QCOMPARE_LT(shortOnes, 5000);
        // Degenerate requests still give every sheet a title's worth.
        const QList<qint64> tiny = sheetSizes(rng, 5, 10);
        QVERIFY(tiny.size() == 5 &&
                std::all_of(tiny.begin(), tiny.end(), [](qint64 s) { return s >= 80; }));
        QVERIFY(sheetSizes(rng, 0, 1000).isEmpty());
    }

    void everyStyledConstructOccurs() {
        std::mt19937 rng(5);
        const QString text = germanMarkdown(rng, 256 * 1024);
        QVERIFY(text.toUtf8().size() >= 256 * 1024);
        QCOMPARE_GT(text.count(u"\n```"_s), 6); // more than three fenced code blocks
        // Each spelling of each construct the editor styles; "|" parts them.
        const QString spellings =
            uR"(^# \S|^## \S|^### \S|^#### \S|^##### \S|^###### \S|^> \S|^> > \S|^- \S|^\* \S)"
            uR"(|^\+ \S|^  [-*+] \S|^\d+\. \S|^- \[ \] |^- \[x\] |^- \[X\] |^---$|^\*\*\*$|^___$)"
            uR"(|^- - -$|^```$|^```cpp$|\*\*\w+\*\*|__\w+__|(?<![*\w])\*\w+\*(?![*\w]))"
            uR"(|(?<![_\w])_\w+_(?![_\w])|(?<!`)`\w+`(?!`)|``\w+``|„\w+“|\w\n\w)"
            uR"(|\[\w+\]\(https://\S+\))"_s;
        const auto options =
            QRegularExpression::MultilineOption | QRegularExpression::UseUnicodePropertiesOption;
        for (const QString& pattern : spellings.split(u'|'))
            QVERIFY2(QRegularExpression(pattern, options).match(text).hasMatch(),
                     qPrintable(pattern));
        for (const QChar c : u"äöüÄÖÜß"_s)
            QVERIFY2(text.contains(c), qPrintable(QString(c)));
    }

    // Guards the user's files: a corpus is never written over anything already there.
    void refusesToOverwrite() {
        QTemporaryDir out;
        const QString mine = u"library/Ideen/mein-blatt.md"_s;
        QVERIFY(test::writeBytes(out.filePath(mine), "meins"));
        QString error;
        QVERIFY(!writeCorpus(out.path(), sample(1), &error) && error.contains(u"exists"_s));
        QCOMPARE(snapshot(out.path()).keys(), QStringList{mine});
        QCOMPARE(test::readBytes(out.filePath(mine)), QByteArray("meins"));
        QCOMPARE(QDir(out.filePath(u"library"_s)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 QStringList{u"Ideen"_s});
        // A second run into the same folder finds the first one's output.
        QTemporaryDir again;
        QVERIFY(writeCorpus(again.path(), sample(1)));
        const auto before = snapshot(again.path());
        QVERIFY(!writeCorpus(again.path(), sample(2)));
        QVERIFY(snapshot(again.path()) == before);
        // Impossible options are refused before anything is written.
        QTemporaryDir empty;
        for (const auto& change : std::initializer_list<void (*)(CorpusOptions&)>{
                 [](CorpusOptions& o) { o.sheets = 0; }, [](CorpusOptions& o) { o.groups = 0; },
                 [](CorpusOptions& o) { o.bigGroupSheets = o.sheets + 1; },
                 [](CorpusOptions& o) { o.libraryBytes = -1; }}) {
            CorpusOptions o = sample(1);
            change(o);
            QVERIFY(!writeCorpus(empty.path(), o, &error) && !error.isEmpty());
        }
        QVERIFY(QDir(empty.path()).isEmpty());
    }
};

ORVIK_TEST_MAIN(TestLibraryCorpus)
#include "tst_librarycorpus.moc"
