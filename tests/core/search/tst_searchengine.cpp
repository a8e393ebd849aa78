#include "testenv.h"

#include "library/sheet.h"
#include "platform/files.h"
#include "platform/text.h"
#include "search/searchengine.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using orvik::SearchEngine;
using orvik::SearchHit;

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
        if (!orvik::test::writeBytes(p, bytes))
            qFatal("cannot write %s", qPrintable(p));
        if (modified.isValid() && !orvik::test::setModified(p, modified))
            qFatal("cannot date %s", qPrintable(p));
        return p;
    }
    QString put(const QString& relative, const QString& text, const QDateTime& modified = {}) {
        return put(relative, text.toUtf8(), modified);
    }
    static QDateTime day(int d) { return QDateTime(QDate(2024, 3, d), QTime(9, 30)); }
    static QList<SearchHit> search(SearchEngine& engine, const QString& query,
                                   const QList<QUrl>& folders) {
        return engine.search(query, folders).result();
    }
    static QStringList names(const QList<SearchHit>& hits) {
        QStringList result;
        for (const SearchHit& hit : hits)
            result.append(hit.sheet.url.fileName());
        return result;
    }
    // The snippet of the one hit for `query` in a file holding `text`.
    QString snippetFor(const QString& text, const QString& query) {
        put(u"s/x.md"_s, text);
        SearchEngine engine;
        const auto hits = search(engine, query, {folder(u"s"_s)});
        // A file too large to hold gives the same hit, read in pieces.
        for (const qsizetype piece : {3, 7, 64})
            if (hits != search(*inPieces(piece), query, {folder(u"s"_s)}))
                return u"<differs in pieces of %1>"_s.arg(piece);
        return hits.size() == 1 ? hits.first().snippet : u"<%1 hits>"_s.arg(hits.size());
    }
    // An engine that searches every file piece by piece, as it does files
    // too large to hold.
    static std::unique_ptr<SearchEngine> inPieces(qsizetype pieceBytes) {
        return std::make_unique<SearchEngine>(SearchEngine::Limits{0, pieceBytes});
    }

private Q_SLOTS:
    void init() { m_root = std::make_unique<QTemporaryDir>(); }

    void matchesIgnoringCaseAndDiacritics_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("count");
        QTest::newRow("trimmed, both cases") << u"apfel und APFEL"_s << u"  Apfel \n"_s << 2;
        QTest::newRow("umlaut in text") << u"Äpfel"_s << u"Apfel"_s << 1;
        QTest::newRow("umlaut in query") << u"Apfel"_s << u"äpfel"_s << 1;
        QTest::newRow("capital umlaut") << u"Über"_s << u"uber"_s << 1;
        QTest::newRow("sharp s in text") << u"Straße"_s << u"strasse"_s << 1;
        QTest::newRow("sharp s in query") << u"STRASSE"_s << u"Straße"_s << 1;
        QTest::newRow("capital sharp s") << u"GROẞ"_s << u"gross"_s << 1;
        QTest::newRow("decomposed accent") << u"Cafe\u0301"_s << u"café"_s << 1;
        QTest::newRow("precomposed accent") << u"Café"_s << u"cafe"_s << 1;
        QTest::newRow("phrase with space") << u"ein roter Apfel"_s << u"roter apfel"_s << 1;
        QTest::newRow("inner spaces literal") << u"roter  Apfel"_s << u"roter Apfel"_s << 0;
        QTest::newRow("no overlap") << u"a a a"_s << u"a a"_s << 1;
        QTest::newRow("no overlap, run") << u"aaaaa"_s << u"aa"_s << 2;
        QTest::newRow("absent") << u"Birne"_s << u"Apfel"_s << 0;
        // Fewer than two characters find nothing, however many code units they take.
        const QString shorts = u"a ä 👍🏽 apfel"_s;
        QTest::newRow("one letter") << shorts << u"a"_s << 0;
        QTest::newRow("spaces and one letter") << shorts << u"  a \n\t"_s << 0;
        QTest::newRow("decomposed letter") << shorts << u" a\u0308 "_s << 0;
        QTest::newRow("emoji with modifier") << shorts << u"👍🏽"_s << 0;
        QTest::newRow("two letters") << shorts << u" ap "_s << 1;
    }
    void matchesIgnoringCaseAndDiacritics() {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(int, count);
        put(u"g/x.md"_s, text);
        SearchEngine engine;
        const auto hits = search(engine, query, {folder(u"g"_s)});
        QCOMPARE(hits.size(), count > 0 ? 1 : 0);
        if (count > 0)
            QCOMPARE(hits.first().count, count);
    }

    void countStopsAtHundred() {
        put(u"g/many.md"_s, u"Apfel "_s.repeated(250));
        put(u"g/some.md"_s, u"äpfel\n"_s.repeated(99));
        SearchEngine engine;
        const auto hits = search(engine, u"apfel"_s, {folder(u"g"_s)});
        QCOMPARE(names(hits), (QStringList{u"many.md"_s, u"some.md"_s}));
        QCOMPARE(hits[0].count, 100);
        QCOMPARE(hits[1].count, 99);
        // Occurrences across the borders of pieces are counted once.
        QCOMPARE(search(*inPieces(4), u"apfel"_s, {folder(u"g"_s)}), hits);
        QCOMPARE(search(*inPieces(5), u"apfel apfel"_s, {folder(u"g"_s)})[0].count, 100);
    }

    void snippet_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("snippet");

        const QString before = u"ein **fetter** Satz\n## Kopf mit `Code` > und "_s;
        const QString after = u" _kursiv_  und\t\tTabs, dann ### Ende der Zeile"_s;
        QTest::newRow("middle of a long line")
            << u"Anfang "_s.repeated(20) + before + u"Apfel"_s + after + u" Rest"_s.repeated(20)
            << u"apfel"_s
            << u"… ein fetter Satz Kopf mit Code und Apfel kursiv und Tabs, dann Ende der Zeile …"_s;
        QTest::newRow("near the start")
            << u"# Der Apfel\n\nfällt nicht weit vom Stamm, sagt man, und das stimmt wohl meistens."_s
            << u"APFEL"_s << u"Der Apfel fällt nicht weit vom Stamm, sagt man, und d …"_s;
        QTest::newRow("at the end")
            << u"x"_s.repeated(80) + u" > zuletzt ein *Apfel*"_s << u"apfel"_s
            << u"… "_s + u"x"_s.repeated(29) + u" zuletzt ein Apfel"_s;
        QTest::newRow("whole short text") << u"  ## Apfel  "_s << u"apfel"_s << u"Apfel"_s;
        QTest::newRow("original spelling kept")
            << u"Die Straße"_s << u"strasse"_s << u"Die Straße"_s;
        const QString quoted = u"„Zitat“ – mit Strich … und ‹Winkeln› € 5 ‰ a "_s;
        const QString foreign = u" Grüße aus Ωμέγα und Москва, 10 €… fertig!!!!"_s;
        QTest::newRow("punctuation and other scripts")
            << u"Vorweg"_s + quoted + u"Apfel"_s + foreign + u" Schluss"_s << u"apfel"_s
            << u"… "_s + quoted + u"Apfel"_s + foreign + u" …"_s;
        // A match that starts or ends inside the "ss" of a sharp s takes all of it.
        QTest::newRow("starts inside sharp s")
            << u"x"_s.repeated(60) + u"Großstadt"_s << u"sstadt"_s
            << u"… "_s + u"x"_s.repeated(42) + u"Großstadt"_s;
        QTest::newRow("ends inside sharp s") << u"GROẞ"_s + u"y"_s.repeated(60) << u"gros"_s
                                             << u"GROẞ"_s + u"y"_s.repeated(45) + u" …"_s;

        // Each of these is one character: emoji with modifier, decomposed
        // letter, flag, ZWJ family, CR LF.
        const QString left = u"👍🏽e\u0301🇩🇪\r\n"_s + u"o"_s.repeated(41);
        const QString right = u"a\u0308👨‍👩‍👧"_s + u"u"_s.repeated(43);
        QTest::newRow("context counts characters")
            << u"ZZZ"_s + left + u"Apfel"_s + right + u"QQQ"_s << u"apfel"_s
            << u"… 👍🏽e\u0301🇩🇪 "_s + u"o"_s.repeated(41) + u"Apfel"_s + right +
                   u" …"_s;
        // An emoji right before a flag: Qt's own boundary rules split the flag.
        QTest::newRow("emoji before a flag")
            << u"ZZ😀🇩🇪"_s + u"o"_s.repeated(43) + u"Apfel"_s << u"apfel"_s
            << u"… 😀🇩🇪"_s + u"o"_s.repeated(43) + u"Apfel"_s;
        // One character longer than the first window the excerpt is cut from.
        const QString heavy = u"a"_s + u"\u0301"_s.repeated(600);
        QTest::newRow("long character")
            << u"Z"_s + heavy + u"o"_s.repeated(44) + u"Apfel"_s << u"apfel"_s
            << u"… "_s + heavy + u"o"_s.repeated(44) + u"Apfel"_s;
    }
    void snippet() {
        QFETCH(QString, text);
        QFETCH(QString, query);
        QFETCH(QString, snippet);
        QCOMPARE(snippetFor(text, query), snippet);
    }

    void ordersByCountThenDateThenListing() {
        const QUrl a = folder(u"a"_s);
        const QUrl b = folder(u"b"_s);
        put(u"a/1-old.md"_s, u"Apfel"_s, day(1));
        put(u"a/2-three.md"_s, u"Apfel Apfel Apfel"_s, day(1));
        put(u"a/3-new.md"_s, u"Apfel"_s, day(5));
        put(u"a/4-none.md"_s, u"Birne"_s, day(9));
        put(u"b/1-old.md"_s, u"Apfel"_s, day(1));
        put(u"b/2-two.md"_s, u"Apfel Apfel"_s, day(1));
        SearchEngine engine;
        QCOMPARE(names(search(engine, u"apfel"_s, {a, b})),
                 (QStringList{u"2-three.md"_s, u"2-two.md"_s, u"3-new.md"_s, u"1-old.md"_s,
                              u"1-old.md"_s}));
        const auto reversed = search(engine, u"apfel"_s, {b, a});
        QCOMPARE(reversed[3].sheet.path(), path(u"b/1-old.md"_s));
        QCOMPARE(reversed[4].sheet.path(), path(u"a/1-old.md"_s));
    }

    void manyFilesKeepTheOrderRules() {
        // Enough files for the search to spread over worker threads.
        for (int i = 0; i < 150; ++i)
            put(u"g/%1.md"_s.arg(i, 3, 10, QLatin1Char('0')), u"Äpfel "_s.repeated(i % 7),
                day(1 + i % 11));
        SearchEngine engine;
        const auto cold = search(engine, u"apfel"_s, {folder(u"g"_s)});
        QCOMPARE(cold.size(), 150 - 150 / 7 - 1);
        for (qsizetype i = 1; i < cold.size(); ++i) {
            const SearchHit& p = cold[i - 1];
            const SearchHit& h = cold[i];
            QVERIFY(p.count > h.count ||
                    (p.count == h.count && p.sheet.modified >= h.sheet.modified));
            if (p.count == h.count && p.sheet.modified == h.sheet.modified)
                QVERIFY(p.sheet.url.fileName() < h.sheet.url.fileName());
        }
        QCOMPARE(search(engine, u"apfel"_s, {folder(u"g"_s)}), cold);
    }

    void searchesOnlyVisibleMarkdownFiles() {
        put(u"g/plain.md"_s, u"Apfel"_s, day(1));
        put(u"g/LOUD.MD"_s, u"Apfel"_s, day(1));
        put(u"g/.hidden.md"_s, u"Apfel"_s, day(1));
        put(u"g/notes.txt"_s, u"Apfel"_s, day(1));
        put(u"g/inner/deep.md"_s, u"Apfel"_s, day(1));
        QDir().mkpath(path(u"g/folder.md"_s));
        put(u"g/broken.md"_s, QByteArray("Apfel \xC3\x28 kaputt"), day(1));
        put(u"g/bom.md"_s, QByteArray("\xEF\xBB\xBF") + "Apfel", day(1));
        // A hidden folder (the trash) is searched when asked for.
        put(u".Papierkorb/old.md"_s, u"Apfel"_s, day(1));
        const QUrl missing = QUrl::fromLocalFile(path(u"gone"_s));
        SearchEngine engine;
        const auto hits =
            search(engine, u"apfel"_s, {missing, folder(u"g"_s), folder(u".Papierkorb"_s)});
        QCOMPARE(names(hits), (QStringList{u"LOUD.MD"_s, u"bom.md"_s, u"plain.md"_s, u"old.md"_s}));
        QCOMPARE(hits[1].snippet, u"Apfel"_s);

        // A name that is no UTF-8 leads back to its own file.
        const QByteArray raw = QFile::encodeName(path(u"n"_s)) + "/Br\xF6tchen.md";
        QVERIFY(QDir().mkpath(path(u"n"_s)));
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "Apfel", 5), 5);
        ::close(fd);
        const auto odd = search(engine, u"apfel"_s, {folder(u"n"_s)});
        QCOMPARE(odd.size(), 1);
        QCOMPARE(orvik::files::encodeName(odd[0].sheet.path()), raw);
        QCOMPARE(odd[0].sheet.title, u"Apfel"_s);
        QCOMPARE(::unlink(raw.constData()), 0);
    }

    void hitCarriesTheLoadedSheet_data() {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << u"# Obst\n\nÄpfel und Birnen\n"_s;
        QTest::newRow("CR LF and tabs")
            << u"# Obst\r\n\r\nÄpfel\tund  Birnen\r\nim Korb,\r\nCR\rLF\n\tnoch mehr\r\n"_s;
        // 43 bytes: the last 10 are counted outside the 16-byte blocks.
        QTest::newRow("CR LF near the end") << u"Äpfel\r\n"_s + u"a\r\nb "_s.repeated(7);
        // Title and preview come from far into the text.
        QTest::newRow("late start") << u"\n"_s.repeated(700) + u"# Obst\n"_s +
                                           u"***\n"_s.repeated(300) +
                                           u"Äpfel sind rund.\n"_s.repeated(200);
    }
    void hitCarriesTheLoadedSheet() {
        QFETCH(QString, text);
        const QString p = put(u"g/x.md"_s, text, day(3));
        SearchEngine engine;
        const auto hits = search(engine, u"apfel"_s, {folder(u"g"_s)});
        QCOMPARE(hits.size(), 1);
        auto expected = orvik::Sheet::load(p);
        QVERIFY(expected);
        expected->matched = true;
        QCOMPARE(hits.first().sheet, *expected);
        QCOMPARE(hits.first().sheet.modified, day(3));
    }

    // The sheet of a hit comes from the bytes without decoding the whole text;
    // it must equal the sheet built from the fully decoded text, for texts
    // whose title and preview lie far in or depend on every kind of line.
    void hitSheetEqualsTheDecodedText() {
        // Pieces of every kind of line and mark, split at '|'.
        const QStringList pieces =
            u"Apfel |\n|\r\n|\r|\t|  |# |> |- |**|_|`|e\u0301|😀|\u00A0|Wörter"_s.split(u'|')
            << u"x"_s.repeated(70);
        // Whole lines that stop the preview short of its length, followed by
        // more text than a first look at the head takes in: the lines after
        // them must not count, with line breaks of either kind.
        const QString line = u"Äpfel und Birnen im Korb"_s;
        const QStringList fixed = {
            u"# Obst\n"_s + (line + u'\n').repeated(6) + u"Birne "_s.repeated(900),
            u"# Obst\r\n"_s + (line + u"\r\n"_s).repeated(6) + u"\n"_s + u"Birne "_s.repeated(900),
            u"# Obst\n"_s + (line + u'\n').repeated(5) + u"x"_s.repeated(3000) + u"\nmehr"_s,
            // The line that stops them runs past the first look.
            u"# Obst\n"_s + (line + u'\n').repeated(5) + u" "_s.repeated(350) + u'\n' +
                u"Birnen "_s.repeated(40) + u"\nmehr"_s,
        };
        QRandomGenerator random(31);
        const QUrl g = folder(u"g"_s);
        for (int n = 0; n < 60 + fixed.size(); ++n) {
            QString text = n < fixed.size() ? fixed[n] : QString();
            for (int k = 0, count = n < fixed.size() ? 0 : int(random.bounded(1, 400)); k < count;
                 ++k)
                text += pieces[random.bounded(int(pieces.size()))];
            text += u" Apfel"_s;
            const QString p = put(u"g/%1.md"_s.arg(n), text, day(1 + n % 20));
            SearchEngine engine;
            const auto hits = search(engine, u"apfel"_s, {g});
            const auto hit = std::find_if(hits.begin(), hits.end(),
                                          [&](const SearchHit& h) { return h.sheet.path() == p; });
            QVERIFY(hit != hits.end());
            auto expected = orvik::Sheet::fromText(p, text, day(1 + n % 20));
            expected.matched = true;
            QCOMPARE(hit->sheet, expected);
            if (n % 8 == 0)
                QCOMPARE(search(*inPieces(5 + n % 13), u"apfel"_s, {g}), hits);
        }
    }

    // The folded texts of a first search are completed after its answer; an
    // engine that goes right away must neither wait for that nor crash.
    void engineMayGoRightAfterAnAnswer() {
        for (int i = 0; i < 300; ++i)
            put(u"g/%1.md"_s.arg(i), u"Apfel und Birne "_s.repeated(200));
        const QList<QUrl> g{folder(u"g"_s)};
        for (int round = 0; round < 3; ++round) {
            SearchEngine engine;
            QCOMPARE(search(engine, u"birne"_s, g).size(), 300);
        }
        // Searches still queued when their engine goes are answered in full,
        // though the engine no longer completes the cache for later ones.
        QFuture<QList<SearchHit>> first;
        QFuture<QList<SearchHit>> second;
        {
            SearchEngine leaving;
            first = leaving.search(u"apfel"_s, g);
            second = leaving.search(u"birne"_s, g);
        }
        QCOMPARE(first.result().size(), 300);
        QCOMPARE(second.result().size(), 300);

        SearchEngine engine;
        QCOMPARE(search(engine, u"apfel"_s, g).size(), 300);
        // The second search finds what the completed cache holds.
        const auto hits = search(engine, u"und birne"_s, g);
        QCOMPARE(hits.size(), 300);
        QCOMPARE(hits.first().count, 100);
    }

    void cacheFollowsTheModificationDate() {
        const QUrl g = folder(u"g"_s);
        const QString p = put(u"g/x.md"_s, u"# Apfel"_s, day(1));
        put(u"g/y.md"_s, u"# Rest"_s, day(1));
        SearchEngine engine;
        QCOMPARE(search(engine, u"apfel"_s, {g}).size(), 1);

        put(u"g/x.md"_s, u"# Birne"_s, day(2));
        QCOMPARE(search(engine, u"apfel"_s, {g}).size(), 0);
        auto hits = search(engine, u"birne"_s, {g});
        QCOMPARE(hits.size(), 1);
        QCOMPARE(hits.first().sheet.title, u"Birne"_s);

        // Same date, new content: the date is the only check.
        put(u"g/x.md"_s, u"# Kirsche"_s, day(2));
        QCOMPARE(search(engine, u"kirsche"_s, {g}).size(), 0);
        QCOMPARE(search(engine, u"birne"_s, {g}).size(), 1);

        // An unreadable version drops the entry, so the old date no longer matches it.
        put(u"g/x.md"_s, QByteArray("Birne \xFF"), day(3));
        QCOMPARE(search(engine, u"birne"_s, {g}).size(), 0);
        put(u"g/x.md"_s, u"# Pflaume"_s, day(2));
        QCOMPARE(search(engine, u"pflaume"_s, {g}).size(), 1);

        // Restored from elsewhere with its old date: still the cached text.
        const QString away = path(u"x.md"_s);
        QVERIFY(QFile::rename(p, away));
        QCOMPARE(search(engine, u"pflaume"_s, {g}).size(), 0);
        put(u"x.md"_s, u"# Quitte"_s, day(2));
        QVERIFY(QFile::rename(away, p));
        QCOMPARE(search(engine, u"quitte"_s, {g}).size(), 0);
        QCOMPARE(search(engine, u"pflaume"_s, {g}).size(), 1);
    }

    void wholeLibraryReadOnceAndKept() {
        // Enough unread files for a first search to keep their texts only
        // after its answer; later searches must see what it saw.
        const QUrl g = folder(u"g"_s);
        for (int i = 0; i < 300; ++i)
            put(u"g/%1.md"_s.arg(i, 3, 10, QLatin1Char('0')),
                u"# Obst %1\n\nÄpfel und Birnen im Korb, "_s.arg(i).repeated(1 + i % 5), day(1));
        const QString bom = put(u"g/bom.md"_s, QByteArray("\xEF\xBB\xBF# Körbe\n\nApfel"), day(2));
        SearchEngine engine;
        const auto cold = search(engine, u"apfel"_s, {g});
        QCOMPARE(cold.size(), 301);
        const auto bomHit = std::find_if(cold.begin(), cold.end(),
                                         [&](const SearchHit& h) { return h.sheet.path() == bom; });
        QVERIFY(bomHit != cold.end());
        auto expected = orvik::Sheet::load(bom);
        QVERIFY(expected);
        expected->matched = true;
        QCOMPARE(bomHit->sheet, *expected);
        QCOMPARE(bomHit->snippet, u"Körbe Apfel"_s);

        // Answered from the kept texts, the same hits with the same snippets.
        QCOMPARE(search(engine, u"apfel"_s, {g}), cold);
        QCOMPARE(search(engine, u"birnen im korb"_s, {g}).size(), 300);

        // Same date, new content: still the text the first search read.
        put(u"g/007.md"_s, u"# Pflaume"_s, day(1));
        QCOMPARE(search(engine, u"pflaume"_s, {g}).size(), 0);
        QCOMPARE(search(engine, u"apfel"_s, {g}), cold);
    }

    void settledFolderStillShowsItsChanges() {
        // A folder untouched for a few seconds has its listing kept between
        // searches; adding, removing and renaming must still show.
        put(u"g/a.md"_s, u"Apfel"_s, day(1));
        put(u"g/b.md"_s, u"Apfel"_s, day(1));
        const QUrl g = folder(u"g"_s);
        QTest::qWait(3100);
        SearchEngine engine;
        QCOMPARE(names(search(engine, u"apfel"_s, {g})), (QStringList{u"a.md"_s, u"b.md"_s}));
        QCOMPARE(names(search(engine, u"apfel"_s, {g})), (QStringList{u"a.md"_s, u"b.md"_s}));
        QVERIFY(QFile::remove(path(u"g/a.md"_s)));
        QVERIFY(QFile::rename(path(u"g/b.md"_s), path(u"g/c.md"_s)));
        put(u"g/d.md"_s, u"Apfel"_s, day(1));
        QCOMPARE(names(search(engine, u"apfel"_s, {g})), (QStringList{u"c.md"_s, u"d.md"_s}));
    }

    void overlappingSearchesRunOneAfterTheOther() {
        for (int i = 0; i < 200; ++i)
            put(u"g/%1.md"_s.arg(i), i % 2 ? u"Apfel"_s : u"Birne Birne"_s);
        const QList<QUrl> g{folder(u"g"_s)};
        SearchEngine engine;
        QStringList finished;
        QList<QThread*> deliveredOn;
        QList<SearchHit> apples;
        QList<SearchHit> pears;
        // Each answer arrives on the caller's thread, in the order asked.
        engine.search(u"apfel"_s, g).then(this, [&](const QList<SearchHit>& h) {
            finished.append(u"apfel"_s);
            deliveredOn.append(QThread::currentThread());
            apples = h;
        });
        engine.search(u"birne"_s, g).then(this, [&](const QList<SearchHit>& h) {
            finished.append(u"birne"_s);
            deliveredOn.append(QThread::currentThread());
            pears = h;
        });
        QTRY_COMPARE(finished.size(), 2);
        QCOMPARE(finished, (QStringList{u"apfel"_s, u"birne"_s}));
        QCOMPARE(deliveredOn, (QList<QThread*>{thread(), thread()}));
        QCOMPARE(apples.size(), 100);
        QCOMPARE(pears.size(), 100);
        QVERIFY(std::all_of(pears.begin(), pears.end(),
                            [](const SearchHit& h) { return h.count == 2 && h.sheet.matched; }));
    }
};

ORVIK_TEST_MAIN(TestSearchEngine)
#include "tst_searchengine.moc"
