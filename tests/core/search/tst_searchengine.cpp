#include "testenv.h"

#include "library/sheet.h"
#include "platform/files.h"
#include "search/searchengine.h"
#include "search/searchindex.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using orvik::SearchEngine;
using orvik::SearchHit;
using Hits = QList<SearchHit>;

class TestSearchEngine : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;

    QString path(const QString& relative) const { return m_root->filePath(relative); }
    QUrl folder(const QString& name) const {
        QDir().mkpath(path(name));
        return QUrl::fromLocalFile(path(name));
    }
    QString put(const QString& relative, const QByteArray& bytes, const QDateTime& modified = {}) {
        const QString p = path(relative);
        if (!orvik::test::writeBytes(p, bytes) ||
            (modified.isValid() && !orvik::test::setModified(p, modified)))
            qFatal("cannot write %s", qPrintable(p));
        return p;
    }
    QString put(const QString& relative, const QString& text, const QDateTime& modified = {}) {
        return put(relative, text.toUtf8(), modified);
    }
    static QDateTime day(int d) { return QDateTime(QDate(2024, 3, d), QTime(9, 30)); }
    // The hits in `folders`, by default the group "g".
    Hits find(SearchEngine& engine, const QString& query, QList<QUrl> folders = {}) {
        if (folders.isEmpty())
            folders.append(folder(u"g"_s));
        return engine.search(query, folders).result();
    }
    static QStringList names(const Hits& hits) {
        QStringList result(hits.size());
        std::transform(hits.begin(), hits.end(), result.begin(),
                       [](const SearchHit& h) { return h.sheet.url.fileName(); });
        return result;
    }
    static const SearchHit* hitOf(const Hits& hits, const QString& path) {
        const auto it = std::find_if(hits.begin(), hits.end(),
                                     [&](const SearchHit& h) { return h.sheet.path() == path; });
        return it == hits.end() ? nullptr : &*it;
    }
    // An engine answering from an index of `folders` written just now.
    std::unique_ptr<SearchEngine> indexed(const QList<QUrl>& folders = {}) {
        QStringList paths;
        for (const QUrl& url : folders.isEmpty() ? QList<QUrl>{folder(u"g"_s)} : folders)
            paths.append(url.toLocalFile());
        if (!orvik::search::SearchIndex::write(indexFile(), paths, nullptr, qint64(64) << 20))
            qFatal("cannot write the index");
        auto engine = std::make_unique<SearchEngine>();
        engine->useIndex(indexFile(), SearchEngine::IndexWrites::ByCaller);
        return engine;
    }
    QString indexFile() const { return path(u"cache/Orvik/search.index"_s); }
    // An engine that searches every file piece by piece, as it does files too large to hold.
    static std::unique_ptr<SearchEngine> inPieces(qsizetype pieceBytes) {
        return std::make_unique<SearchEngine>(SearchEngine::Limits{0, pieceBytes});
    }

private Q_SLOTS:
    void init() { m_root = std::make_unique<QTemporaryDir>(); }

    void matches_data() { // a null snippet is not checked
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("snippet");
        const auto row = [](const char* name, const QString& text, const QString& query, int count,
                            const QString& snippet = {}) {
            QTest::newRow(name) << text << query << count << snippet;
        };
        row("trimmed, both cases", u"apfel und APFEL"_s, u"  Apfel \n"_s, 2);
        row("umlaut in text", u"Äpfel"_s, u"Apfel"_s, 1);
        row("umlaut in query", u"Apfel"_s, u"äpfel"_s, 1);
        row("sharp s in text, kept", u"Die Straße"_s, u"strasse"_s, 1, u"Die Straße"_s);
        row("sharp s in query", u"STRASSE"_s, u"Straße"_s, 1);
        row("capital sharp s", u"GROẞ"_s, u"gross"_s, 1);
        row("decomposed accent", u"Cafe\u0301"_s, u"café"_s, 1);
        row("precomposed accent", u"Café"_s, u"cafe"_s, 1);
        row("phrase with space", u"ein roter Apfel"_s, u"roter apfel"_s, 1);
        row("inner spaces literal", u"roter  Apfel"_s, u"roter Apfel"_s, 0);
        row("no overlap, run", u"aaaaa"_s, u"aa"_s, 2);
        row("stops at a hundred", u"Apfel "_s.repeated(250), u"apfel"_s, 100);
        row("phrase stops at a hundred", u"Apfel "_s.repeated(250), u"apfel apfel"_s, 100);
        // Fewer than two characters find nothing, however many code units they take.
        const QString shorts = u"a ä 👍🏽 apfel"_s;
        row("spaces and one letter", shorts, u"  a \n\t"_s, 0);
        row("decomposed letter", shorts, u" a\u0308 "_s, 0);
        row("emoji with modifier", shorts, u"👍🏽"_s, 0);
        row("two letters", shorts, u" ap "_s, 1);
        // The snippet: marks dropped, whitespace joined, context cut at words.
        const QString before = u"ein **fetter** Satz\n## Kopf mit `Code` > und "_s;
        const QString after = u" _kursiv_  und\t\tTabs, dann ### Ende der Zeile"_s;
        row("middle of a long line",
            u"Anfang "_s.repeated(20) + before + u"Apfel"_s + after + u" Rest"_s.repeated(20),
            u"apfel"_s, 1,
            u"… ein fetter Satz Kopf mit Code und Apfel kursiv und Tabs, dann Ende der Zeile …"_s);
        row("near the start",
            u"# Der Apfel\n\nfällt nicht weit vom Stamm, sagt man, und das stimmt wohl meistens."_s,
            u"APFEL"_s, 1, u"Der Apfel fällt nicht weit vom Stamm, sagt man, und d …"_s);
        row("at the end", u"x"_s.repeated(80) + u" > zuletzt ein *Apfel*"_s, u"apfel"_s, 1,
            u"… "_s + u"x"_s.repeated(29) + u" zuletzt ein Apfel"_s);
        row("whole short text", u"  ## Apfel  "_s, u"apfel"_s, 1, u"Apfel"_s);
        const QString quoted = u"„Zitat“ – mit Strich … und ‹Winkeln› € 5 ‰ a "_s;
        const QString foreign = u" Grüße aus Ωμέγα und Москва, 10 €… fertig!!!!"_s;
        row("punctuation and other scripts",
            u"Vorweg"_s + quoted + u"Apfel"_s + foreign + u" Schluss"_s, u"apfel"_s, 1,
            u"… "_s + quoted + u"Apfel"_s + foreign + u" …"_s);
        // A match that starts or ends inside the "ss" of a sharp s takes all of it.
        row("starts inside sharp s", u"x"_s.repeated(60) + u"Großstadt"_s, u"sstadt"_s, 1,
            u"… "_s + u"x"_s.repeated(42) + u"Großstadt"_s);
        row("ends inside sharp s", u"GROẞ"_s + u"y"_s.repeated(60), u"gros"_s, 1,
            u"GROẞ"_s + u"y"_s.repeated(45) + u" …"_s);
        // One character each: emoji with modifier, decomposed letter, flag, ZWJ family, CR LF.
        const QString left = u"👍🏽e\u0301🇩🇪\r\n"_s + u"o"_s.repeated(41);
        const QString right = u"a\u0308👨‍👩‍👧"_s + u"u"_s.repeated(43);
        row("context counts characters", u"ZZZ"_s + left + u"Apfel"_s + right + u"QQQ"_s,
            u"apfel"_s, 1,
            u"… 👍🏽e\u0301🇩🇪 "_s + u"o"_s.repeated(41) + u"Apfel"_s + right + u" …"_s);
        // An emoji right before a flag: Qt's own boundary rules split the flag.
        row("emoji before a flag", u"ZZ😀🇩🇪"_s + u"o"_s.repeated(43) + u"Apfel"_s, u"apfel"_s, 1,
            u"… 😀🇩🇪"_s + u"o"_s.repeated(43) + u"Apfel"_s);
        // One character longer than the first window the excerpt is cut from.
        const QString heavy = u"a"_s + u"\u0301"_s.repeated(600);
        row("long character", u"Z"_s + heavy + u"o"_s.repeated(44) + u"Apfel"_s, u"apfel"_s, 1,
            u"… "_s + heavy + u"o"_s.repeated(44) + u"Apfel"_s);
    }
    // A file too large to hold gives the same hits, read in pieces.
    void matches() {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(int, count);
        QFETCH(QString, snippet);
        put(u"g/x.md"_s, text);
        SearchEngine engine;
        const Hits hits = find(engine, query);
        QCOMPARE(hits.size(), count > 0 ? 1 : 0);
        QVERIFY(count == 0 || hits.first().count == count);
        if (count > 0 && !snippet.isNull())
            QCOMPARE(hits.first().snippet, snippet);
        for (const qsizetype piece : {3, 7, 64})
            QCOMPARE(find(*inPieces(piece), query), hits);
        QCOMPARE(find(*indexed(), query), hits);
    }

    void ordersByCountThenDateThenListing() {
        // Ties: the folders in the order asked.
        const QUrl a = folder(u"a"_s), b = folder(u"b"_s);
        put(u"a/1.md"_s, u"Apfel"_s, day(1));
        put(u"b/1.md"_s, u"Apfel"_s, day(1));
        SearchEngine engine;
        QCOMPARE(find(engine, u"apfel"_s, {b, a})[0].sheet.path(), path(u"b/1.md"_s));
        QCOMPARE(find(engine, u"apfel"_s, {a, b})[0].sheet.path(), path(u"a/1.md"_s));
        // Enough files for the search to spread over worker threads.
        for (int i = 0; i < 150; ++i)
            put(u"g/%1.md"_s.arg(i, 3, 10, QLatin1Char('0')), u"Äpfel "_s.repeated(i % 7),
                day(1 + i % 11));
        const Hits many = find(engine, u"apfel"_s);
        QCOMPARE(many.size(), 150 - 150 / 7 - 1);
        for (qsizetype i = 1; i < many.size(); ++i) {
            const SearchHit &p = many[i - 1], &h = many[i];
            QVERIFY(
                std::tuple(-p.count, -p.sheet.modified.toSecsSinceEpoch(), p.sheet.url.fileName()) <
                std::tuple(-h.count, -h.sheet.modified.toSecsSinceEpoch(), h.sheet.url.fileName()));
        }
        QCOMPARE(find(engine, u"apfel"_s), many);
    }

    void searchesOnlyVisibleMarkdownFiles() {
        for (const QString& name : {u"plain.md"_s, u"LOUD.MD"_s, u".hidden.md"_s, u"notes.txt"_s,
                                    u"inner/deep.md"_s, u"../.Papierkorb/old.md"_s})
            put(u"g/"_s + name, u"Apfel"_s, day(1));
        QDir().mkpath(path(u"g/folder.md"_s));
        put(u"g/broken.md"_s, QByteArray("Apfel \xC3\x28 kaputt"), day(1));
        put(u"g/bom.md"_s, QByteArray("\xEF\xBB\xBF") + "Apfel", day(1));
        // A hidden folder (the trash) is searched when asked for; a missing one is no error.
        const QUrl missing = QUrl::fromLocalFile(path(u"gone"_s));
        SearchEngine engine;
        const Hits hits =
            find(engine, u"apfel"_s, {missing, folder(u"g"_s), folder(u".Papierkorb"_s)});
        QCOMPARE(names(hits), (QStringList{u"LOUD.MD"_s, u"bom.md"_s, u"plain.md"_s, u"old.md"_s}));
        QCOMPARE(hits[1].snippet, u"Apfel"_s);
        // A name that is no UTF-8 leads back to its own file.
        const QByteArray raw = QFile::encodeName(path(u"n"_s)) + "/Br\xF6tchen.md";
        QVERIFY(QDir().mkpath(path(u"n"_s)));
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "Apfel", 5) == 5 && ::close(fd) == 0);
        const Hits odd = find(engine, u"apfel"_s, {folder(u"n"_s)});
        QVERIFY(odd.size() == 1 && orvik::files::encodeName(odd[0].sheet.path()) == raw);
        QCOMPARE(::unlink(raw.constData()), 0);
    }

    // A hit's sheet, read from the bytes without decoding all, equals the one of the decoded text,
    // for random texts and ones whose title and preview lie far in or hang on every kind of line.
    void hitSheetEqualsTheDecodedText() {
        const QStringList pieces =
            u"Apfel |\n|\r\n|\r|\t|  |# |> |- |**|_|`|e\u0301|😀|\u00A0|Wörter"_s.split(u'|')
            << u"x"_s.repeated(70);
        // Lines that stop the preview short, then more than a first look takes in.
        const QString line = u"Äpfel und Birnen im Korb"_s;
        const QStringList fixed = {
            u"# Obst\n\nÄpfel und Birnen\n"_s,
            u"# Obst\r\n\r\nÄpfel\tund  Birnen\r\nim Korb,\r\nCR\rLF\n\tnoch mehr\r\n"_s,
            // 43 bytes: the last 10 are counted outside the 16-byte blocks.
            u"Äpfel\r\n"_s + u"a\r\nb "_s.repeated(7),
            u"\n"_s.repeated(700) + u"# Obst\n"_s + u"***\n"_s.repeated(300) +
                u"Äpfel sind rund.\n"_s.repeated(200),
            u"# Obst\n"_s + (line + u'\n').repeated(6) + u"Birne "_s.repeated(900),
            u"# Obst\r\n"_s + (line + u"\r\n"_s).repeated(6) + u"\n"_s + u"Birne "_s.repeated(900),
            u"# Obst\n"_s + (line + u'\n').repeated(5) + u"x"_s.repeated(3000) + u"\nmehr"_s,
            u"# Obst\n"_s + (line + u'\n').repeated(5) + u" "_s.repeated(350) + u'\n' +
                u"Birnen "_s.repeated(40) + u"\nmehr"_s,
        };
        QRandomGenerator random(31);
        for (int n = 0; n < 60 + fixed.size(); ++n) {
            QString text = n < fixed.size() ? fixed[n] : QString();
            for (int k = 0, count = n < fixed.size() ? 0 : int(random.bounded(1, 400)); k < count;
                 ++k)
                text += pieces[random.bounded(int(pieces.size()))];
            text += u" Apfel"_s;
            const QString p = put(u"g/%1.md"_s.arg(n), text, day(1 + n % 20));
            SearchEngine engine;
            const Hits hits = find(engine, u"apfel"_s);
            auto expected = orvik::Sheet::fromText(p, text, day(1 + n % 20));
            expected.matched = true;
            QVERIFY(hitOf(hits, p));
            QCOMPARE(hitOf(hits, p)->sheet, expected);
            if (n % 8 == 0)
                QCOMPARE(find(*inPieces(5 + n % 13), u"apfel"_s), hits);
            if (n % 4 == 0)
                QCOMPARE(find(*indexed(), u"apfel"_s), hits);
        }
    }

    void cacheFollowsTheModificationDate() {
        put(u"g/x.md"_s, u"# Apfel"_s, day(1));
        put(u"g/y.md"_s, u"# Rest"_s, day(1));
        SearchEngine engine;
        QCOMPARE(find(engine, u"apfel"_s).size(), 1);
        put(u"g/x.md"_s, u"# Birne"_s, day(2));
        QCOMPARE(find(engine, u"apfel"_s).size(), 0);
        QCOMPARE(find(engine, u"birne"_s).value(0).sheet.title, u"Birne"_s);
        // Same date, new content: the date is the only check.
        put(u"g/x.md"_s, u"# Kirsche"_s, day(2));
        QCOMPARE(find(engine, u"kirsche"_s).size(), 0);
        // An unreadable version drops the entry, so the old date no longer matches it.
        put(u"g/x.md"_s, QByteArray("Birne \xFF"), day(3));
        QCOMPARE(find(engine, u"birne"_s).size(), 0);
        put(u"g/x.md"_s, u"# Pflaume"_s, day(2));
        QCOMPARE(find(engine, u"pflaume"_s).size(), 1);
    }
    // A first search's folded texts are kept after its answer: later searches see what it saw; an
    // engine that goes at once neither waits for that nor crashes.
    void firstSearchKeepsWhatItRead() {
        const QList<QUrl> g{folder(u"g"_s)};
        for (int i = 0; i < 300; ++i)
            put(u"g/%1.md"_s.arg(i, 3, 10, QLatin1Char('0')),
                u"# Obst %1\n\n"_s.arg(i) + u"Äpfel und Birnen im Korb, "_s.repeated(100 + i % 5),
                day(1));
        const QString bom = put(u"g/bom.md"_s, QByteArray("\xEF\xBB\xBF# Körbe\n\nApfel"), day(2));
        for (int round = 0; round < 3; ++round) {
            SearchEngine engine;
            QCOMPARE(find(engine, u"birnen"_s).size(), 300);
        }
        // Searches still queued when their engine goes are answered in full.
        QFuture<QList<SearchHit>> queued[2];
        {
            SearchEngine leaving;
            queued[0] = leaving.search(u"apfel"_s, g);
            queued[1] = leaving.search(u"birnen"_s, g);
        }
        QCOMPARE(queued[1].result().size(), 300);
        SearchEngine engine;
        const Hits cold = find(engine, u"apfel"_s);
        QVERIFY(cold.size() == 301 && cold == queued[0].result());
        auto expected = orvik::Sheet::load(bom);
        QVERIFY(expected && hitOf(cold, bom));
        expected->matched = true;
        QCOMPARE(hitOf(cold, bom)->sheet, *expected);
        QCOMPARE(hitOf(cold, bom)->snippet, u"Körbe Apfel"_s);
        // Answered from the kept texts, the same hits with the same snippets.
        QCOMPARE(find(engine, u"apfel"_s), cold);
        QCOMPARE(find(engine, u"birnen im korb"_s)[0].count, 100);
        // Same date, new content: still the text the first search read.
        put(u"g/007.md"_s, u"# Pflaume"_s, day(1));
        QCOMPARE(find(engine, u"pflaume"_s).size(), 0);
        QCOMPARE(find(engine, u"apfel"_s), cold);
    }

    // An index answers as the files do: a sheet changed, added, removed or renamed since it was
    // written is read afresh, one changed with its modification date set back too.
    void indexFollowsTheFiles() {
        put(u"g/a.md"_s, u"# Apfel\n\nÄpfel und Birnen"_s, day(1));
        put(u"g/b.md"_s, u"Birnen, keine Äpfel"_s, day(2));
        put(u"g/c.md"_s, u"Apfelmus"_s, day(3));
        put(u"g/d.md"_s, u"Apfelkuchen"_s, day(4));
        put(u"h/e.md"_s, u"APFEL"_s, day(5));
        const QList<QUrl> both{folder(u"g"_s), folder(u"h"_s)};
        auto engine = indexed(both);
        put(u"g/a.md"_s, u"# Pflaume\n\nkein Obst mit A"_s, day(1));
        put(u"g/new.md"_s, u"Apfel, neu"_s, day(6));
        QVERIFY(QFile::remove(path(u"g/c.md"_s)));
        QVERIFY(QFile::rename(path(u"g/d.md"_s), path(u"g/z.md"_s)));
        SearchEngine plain;
        for (const QString& query : {u"apfel"_s, u"pflaume"_s, u"birnen"_s})
            QCOMPARE(find(*engine, query, both), find(plain, query, both));
        QCOMPARE(names(find(*engine, u"apfel"_s, both)),
                 (QStringList{u"new.md"_s, u"e.md"_s, u"z.md"_s, u"b.md"_s}));
    }

    // A damaged, cut or foreign index is not trusted: the answer is the files' and the index is
    // written anew, for the user's eyes only.
    void damagedIndexIsWrittenAnew() {
        put(u"g/a.md"_s, u"apfelbaum"_s, day(1));
        put(u"g/b.md"_s, u"Birne"_s, day(2));
        SearchEngine plain;
        const Hits expected = find(plain, u"apfel"_s);
        QCOMPARE(expected.size(), 1);
        // The first record's text begins right after the header.
        for (const auto& [offset, cut] : {std::pair{72, false}, {8, false}, {200, true}}) {
            indexed();
            QByteArray bytes = orvik::test::readBytes(indexFile());
            if (cut)
                bytes.truncate(offset);
            else
                bytes[offset] = char(bytes[offset] ^ 0x20);
            QVERIFY(orvik::test::writeBytes(indexFile(), bytes));
            SearchEngine engine;
            engine.useIndex(indexFile(), SearchEngine::IndexWrites::Background);
            QCOMPARE(find(engine, u"apfel"_s), expected);
            QTRY_VERIFY(orvik::test::readBytes(indexFile()) != bytes &&
                        orvik::search::SearchIndex::open(indexFile()));
            QCOMPARE(find(engine, u"apfel"_s), expected);
        }
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(indexFile()).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QVERIFY(::stat(QFile::encodeName(path(u"cache/Orvik"_s)).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
    }

    // A folder untouched for a few seconds has its listing kept; changes to it still show.
    void settledFolderStillShowsItsChanges() {
        put(u"g/a.md"_s, u"Apfel"_s, day(1));
        put(u"g/b.md"_s, u"Apfel"_s, day(1));
        QTest::qWait(3100);
        SearchEngine engine;
        // So has the index.
        const auto fromIndex = indexed();
        for (int round = 0; round < 2; ++round)
            QCOMPARE(names(find(engine, u"apfel"_s)), (QStringList{u"a.md"_s, u"b.md"_s}));
        QCOMPARE(names(find(*fromIndex, u"apfel"_s)), (QStringList{u"a.md"_s, u"b.md"_s}));
        QVERIFY(QFile::remove(path(u"g/a.md"_s)));
        QVERIFY(QFile::rename(path(u"g/b.md"_s), path(u"g/c.md"_s)));
        put(u"g/d.md"_s, u"Apfel"_s, day(1));
        QCOMPARE(names(find(engine, u"apfel"_s)), (QStringList{u"c.md"_s, u"d.md"_s}));
        QCOMPARE(names(find(*fromIndex, u"apfel"_s)), (QStringList{u"c.md"_s, u"d.md"_s}));
    }

    // Each answer arrives on the caller's thread, in the order asked.
    void overlappingSearchesRunOneAfterTheOther() {
        for (int i = 0; i < 200; ++i)
            put(u"g/%1.md"_s.arg(i), i % 2 ? u"Apfel"_s : u"Birne Birne"_s);
        SearchEngine engine;
        QList<Hits> answers;
        for (const QString& query : {u"apfel"_s, u"birne"_s})
            engine.search(query, {folder(u"g"_s)}).then(this, [&](const Hits& hits) {
                QCOMPARE(QThread::currentThread(), thread());
                answers.append(hits);
            });
        QTRY_COMPARE(answers.size(), 2);
        QVERIFY(answers[0].size() == 100 && answers[0][0].count == 1 && answers[1].size() == 100);
        QVERIFY(std::all_of(answers[1].begin(), answers[1].end(),
                            [](const SearchHit& h) { return h.count == 2 && h.sheet.matched; }));
    }
};

ORVIK_TEST_MAIN(TestSearchEngine)
#include "tst_searchengine.moc"
