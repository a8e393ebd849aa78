#include "library/conflicts.h"
#include "library/library.h"
#include "library/rescue.h"
#include "platform/files.h"
#include "platform/text.h"
#include "testenv.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>
#include <random>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;

class TestLibrary : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString at(const QString& relative) const { return m_dir->filePath(relative); }
    // Files, hidden ones included, in the temporary folder.
    qsizetype fileCount() const {
        return QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size();
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }

    // Title, preview and word count of a text; a null expectation is not checked.
    void derived_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("preview");
        QTest::addColumn<int>("words");
        const auto row = [](const char* name, QStringView text, QStringView title,
                            QStringView preview, int words) {
            QTest::newRow(name) << text.toString() << title.toString() << preview.toString()
                                << words;
        };
        const QStringView none = u"Kein weiterer Text", fb = u"fallback";
        row("heading with emphasis", u"## Einkauf *heute*\nmehr", u"Einkauf heute", u"mehr", 4);
        row("task bullet", u"- [ ] Milch", u"[ ] Milch", none, 4);
        row("only a hash", u"#\nText darunter", fb, u"Text darunter", 3);
        row("seven hashes", u"####### x", u"# x", none, 2);
        row("blank lines only", u"  \n\t\n", fb, none, 0);
        row("empty", {}, fb, none, 0);
        row("leading blank lines, quote", u"\n  \n>  Zitat _hier_ \n", u"Zitat hier", none, 3);
        row("no-break space trimmed", u"\u00A0Titel\u2003", u"Titel", none, 1);
        row("no-break space joins", u"a\u00A0b c", {}, none, 2);
        row("mixed separators", u"eins  zwei\tdrei\nvier fünf", {}, u"vier fünf", 5);
        // CR LF ends a line as a line feed does; a carriage return alone does not.
        row("crlf lines", u"Titel\r\n\r\nZweite \r\n> Dritte\r\n", u"Titel", u"Zweite Dritte", 4);
        row("lone cr", u"# Titel\rZweite", u"Titel\rZweite", none, 2);
        row("many lone cr", QString(u"a\r"_s.repeated(7) + u"\r\n"_s), {}, {}, 1);
        row("blank, then a bare hash", u"  \n\t# \n", fb, none, 1);
        row("byte order mark", u"\uFEFF# Grüß„😀\r\n\r\nZweite mit ä\r\nund", {},
            u"Zweite mit ä und", 6);
        // Long enough for the bytes to be counted sixteen at a time.
        row("crlf across chunks",
            u"a\r\nbcdefghijklm \r\nnopqrstuvwxyz01\r\n\r\n234567890abcd\r\r\nx", {}, {}, 5);
        row("quote with code", u"# Kopf\n\n> Zitat mit `code`", u"Kopf", u"Zitat mit code", 6);
        row("marks everywhere", u"T\n## Unter#titel **fett** _x_", u"T", u"Untertitel fett x", 5);
        row("list markers stay", u"T\n- eins\n+ zwei\n1. drei\n- [ ] vier\n* fünf", u"T",
            u"- eins + zwei 1. drei - [ ] vier fünf", 13);
        row("line of marks only is skipped", u"T\n***\nText", u"T", u"Text", 3);
        // A title is cut after 120 user-perceived characters, here of 4 UTF-16 units each.
        const QString thumbs = u"👍🏽"_s.repeated(130);
        row("graphemes", thumbs, QStringView(thumbs).left(4 * 120), none, 1);
        // Collecting the preview stops once past 140 characters; a long line is cut at 160.
        const QString a = QString(138, u'a'), b = QString(50, u'b');
        row("100, then 151: no third line", QString(u"T\n"_s + a.left(100) + u'\n' + b + u"\nc"_s),
            u"T", QString(a.left(100) + u' ' + b), 4);
        row("100 + 1 + 39 = 140 is not past",
            QString(u"T\n"_s + a.left(100) + u'\n' + b.left(39) + u"\nccccc"_s), u"T",
            QString(a.left(100) + u' ' + b.left(39) + u" ccccc"_s), 4);
        // A part starting with a combining mark joins the space before it.
        row("138 + 1 + 1 = 140 is not past", QString(u"T\n"_s + a + u"\n\u0301x\ny"_s), u"T",
            QString(a + u" \u0301x y"_s), 4);
        row("one long line", QString(u"T\n"_s + QString(500, u'x')), u"T", QString(160, u'x'), 2);
        const QString accents = u"e\u0301"_s.repeated(200);
        row("160 graphemes", QString(u"Titel\n"_s + accents), u"Titel",
            QStringView(accents).left(2 * 160), 2);
    }
    void derived() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QFETCH(QString, preview);
        QFETCH(int, words);
        if (!title.isNull())
            QCOMPARE(Sheet::deriveTitle(text, u"fallback"_s), title);
        if (!preview.isNull())
            QCOMPARE(Sheet::derivePreview(text), preview);
        QCOMPARE(Sheet::countWords(text), words);
        QCOMPARE(Sheet::countWords(QByteArrayView(text.toUtf8())), words);
        const QString path = at(u"w.md"_s);
        QVERIFY(test::writeBytes(path, text.toUtf8()));
        const auto whole = Sheet::load(path);
        QVERIFY(whole && whole->wordCount == words);
        QCOMPARE(*whole, Sheet::fromText(path, *text::decodeUtf8(text.toUtf8()), whole->modified));
        for (const qsizetype piece : {1, 2, 3, 4, 5, 7, 16})
            QCOMPARE(*Sheet::load(path, piece), *whole);
    }

    // Kinds by name in either language; reserved and unsafe names.
    void kindsAndNames() {
        for (const QString& custom : {u"Tagebuch 2025"_s, u" Ideen"_s, u".Papierkorb"_s})
            QCOMPARE(Folder::kindForFolderNamed(custom), Folder::Kind::Custom);
        QCOMPARE(Folder::kindForFolderNamed(u"Diary"_s), Folder::Kind::Diary);
        QCOMPARE(Folder::kindForFolderNamed(u"IDEEN"_s), Folder::Kind::Ideas);
        QVERIFY(library::isReservedGroupName(u" papierKORB "_s));
        QVERIFY(!library::isReservedGroupName(u"Papierkorb 2"_s) && files::isPlainName(u"..a"_s));
        for (const QString& bad : {QString(), u"."_s, u".."_s, u"a/b"_s, u"/"_s, u"a\0b"_s})
            QVERIFY2(!files::isPlainName(bad), qPrintable(bad));
    }

    // Counting only around an edit gives the count of the whole text, for every kind of edit
    // and at every border: separators, carriage returns with and without a line feed, ends.
    void wordCountAfterEdits() {
        std::mt19937 rng(7);
        const QString alphabet = u"ab \t\n\r\r\nü"_s;
        const auto piece = [&](int most) {
            QString s;
            for (int n = int(rng() % (most + 1)); n > 0; --n)
                s += alphabet[int(rng() % alphabet.size())];
            return s;
        };
        QString text = piece(40);
        int words = Sheet::countWords(text);
        for (int i = 0; i < 20000; ++i) {
            const qsizetype at = text.isEmpty() ? 0 : qsizetype(rng() % (text.size() + 1));
            const qsizetype cut = std::min<qsizetype>(text.size() - at, rng() % 4);
            QString next = text;
            next.replace(at, cut, piece(3));
            if (next.size() > 60)
                next = piece(40);
            words = Sheet::countWordsAfterEdit(text, words, next);
            QCOMPARE(words, Sheet::countWords(next));
            text = next;
        }
    }

    // Later starts make missing groups again, never the welcome sheet; groups sort by kind.
    void groupsAfterTheFirstStart() {
        const QString root = at(u"Orvik"_s);
        library::bootstrapIfNeeded(root);
        QVERIFY(QFile::remove(root + u"/Ideen/willkommen.md"_s));
        QVERIFY(QDir(root + u"/Projekte"_s).removeRecursively());
        for (const char* name : {"beta", "Ideas", "Alpha", "Äpfel", "Zebra", ".versteckt"})
            QVERIFY(QDir(root).mkdir(QString::fromUtf8(name)));
        QVERIFY(test::writeBytes(root + u"/lose.md"_s, "# lose"));
        library::bootstrapIfNeeded(root);
        QVERIFY(!QFileInfo::exists(root + u"/Ideen/willkommen.md"_s));
        QStringList names;
        for (const Folder& group : library::readGroups(root))
            names.append(group.name);
        QCOMPARE(names.join(u", "),
                 u"Schnelle Notiz, Ideas, Ideen, Projekte, Tagebuch, Alpha, Äpfel, beta, Zebra"_s);
    }

    // Neither other files, broken text, write leftovers nor FIFOs and devices are sheets.
    void sheetsOfAGroup() {
        const QString group = at(u"Ideen"_s);
        const QDateTime base = QDateTime::currentDateTime().addDays(-3);
        const auto write = [&](const char* name, const QByteArray& bytes, int hoursAgo = 0) {
            const QString path = group + u'/' + QString::fromUtf8(name);
            QVERIFY(test::writeBytes(path, bytes));
            QVERIFY(test::setModified(path, base.addSecs(-3600 * hoursAgo)));
        };
        write("alt.md", "# Alt\nText", 5);
        write("neu.MD", "# Neu", 1);
        write("kaputt.md", "gut \xC3\xA4 \xFF"); // no UTF-8 at the very end
        write("halb.md", "ab\xE2\x80");          // a character cut off
        for (const char* name :
             {"notiz.txt", ".versteckt.md", "unter/tief.md", "alt.md.Xq81Zt", ".orvik-a8Fk2c"})
            write(name, "# Kein Blatt");
        const QList<Sheet> sheets = library::readSheets(group);
        QVERIFY(sheets.size() == 2 && sheets[0].title == u"Neu" && sheets[1].preview == u"Text");
        QCOMPARE(sheets[1].modified, base.addSecs(-3600 * 5));
        write("Leer.md", ""); // an empty sheet takes its file name as the title
        QCOMPARE(Sheet::load(group + u"/Leer.md"_s)->title, u"Leer"_s);
        QCOMPARE(::mkfifo(QFile::encodeName(group + u"/rohr.md"_s).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, group + u"/null.md"_s));
        QVERIFY(QFile::link(u"rohr.md"_s, group + u"/zum-rohr.md"_s));
        for (const char* name : {"rohr.md", "null.md", "zum-rohr.md", "fehlt.md"}) {
            const QString path = group + u'/' + QString::fromUtf8(name);
            QVERIFY(!Sheet::load(path) && !files::readBytes(path));
            QVERIFY(files::version(path).hash.isEmpty());
        }
        for (const char* name : {"kaputt.md", "halb.md"}) // however it is read
            for (const qsizetype piece : {1, 2, 3, 1 << 20})
                QVERIFY(!Sheet::load(group + u'/' + QString::fromUtf8(name), piece));
    }

    // Each engine's conflict copies name their original, engine and time; near misses are sheets.
    void conflictNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("original"); // empty: no conflict copy
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("date");
        const auto row = [](const char* tag, const char* name, const char* original = "",
                            const char* engine = "", const char* date = "") {
            QTest::newRow(tag) << QString::fromUtf8(name) << QString::fromUtf8(original)
                               << QString::fromUtf8(engine) << QString::fromUtf8(date);
        };
        row("syncthing", "Brief.sync-conflict-20261207-093015-ABCD7EF.md", "Brief.md", "syncthing",
            "2026-12-07T09:30:15");
        row("syncthing of a copy",
            "a.sync-conflict-20261201-000000-AAAAAAA.sync-conflict-20261202-"
            "101010-BBBBBBB.md",
            "a.md", "syncthing", "2026-12-02T10:10:10");
        row("nextcloud", "Über uns (conflicted copy 2026-12-07 093015).MD", "Über uns.MD",
            "nextcloud", "2026-12-07T09:30:15");
        row("nextcloud with user", "x (conflicted copy Anna Berg 2026-01-31 235959).md", "x.md",
            "nextcloud", "2026-01-31T23:59:59");
        row("owncloud", "x_conflict-20260131-235959.md", "x.md", "nextcloud",
            "2026-01-31T23:59:59");
        row("orvik", "2026-12-07-101010 (extern geändert 2026-12-07 111213)-2.md",
            "2026-12-07-101010.md", "orvik", "2026-12-07T11:12:13");
        row("no such day", "x.sync-conflict-20261331-093015-ABCD7EF.md");
        row("short device", "x.sync-conflict-20261207-093015-ABC.md");
        row("nothing before", ".sync-conflict-20261207-093015-ABCD7EF.md");
        row("not a sheet", "x.sync-conflict-20261207-093015-ABCD7EF.txt");
        row("hidden", ".x (conflicted copy 2026-12-07 093015).md");
        row("plain", "Konflikt (2026-12-07 093015).md");
    }
    void conflictNames() {
        QFETCH(QString, name);
        QFETCH(QString, original);
        const std::optional<library::ConflictName> parsed = library::parseConflictName(name);
        QCOMPARE(parsed.has_value(), !original.isEmpty());
        if (!parsed)
            return;
        QCOMPARE(parsed->originalName, original);
        QTEST(library::engineKey(parsed->engine), "engine");
        QTEST(parsed->date.toString(Qt::ISODate), "date");
    }

    // Copies are found in every group, whether or not their original is still there.
    void conflictsOfALibrary() {
        const QString root = at(u"Orvik"_s);
        library::bootstrapIfNeeded(root);
        for (const char* name : {"Ideen/a.md", "Ideen/a.sync-conflict-20261207-093015-ABCD7EF.md",
                                 "Projekte/weg (conflicted copy 2026-12-07 093015).md",
                                 "Projekte/b (conflicted copy 2026-12-07 093015).txt",
                                 ".Papierkorb/c.sync-conflict-20261207-093015-ABCD7EF.md"}) {
            QDir().mkpath(QFileInfo(root + u'/' + QString::fromUtf8(name)).path());
            QVERIFY(test::writeBytes(root + u'/' + QString::fromUtf8(name), "x"));
        }
        const QList<library::ConflictCopy> found = library::findConflicts(root);
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0].original, root + u"/Ideen/a.md"_s);
        QVERIFY(found[1].path.endsWith(u"weg (conflicted copy 2026-12-07 093015).md"_s));
        QVERIFY(found[1].original.isEmpty());
    }

    // A file name that is no UTF-8 reaches the very file it came from, never a second one.
    void namesThatAreNoUtf8() {
        for (const QByteArray& name : {QByteArray("Br\xF6tchen.md"), QByteArray("\xED\xB3\xB6\xC3"),
                                       QByteArray("ok \xF0\x9F\x98\x80 \xC3\xA4\xFF")})
            QCOMPARE(files::encodeName(files::decodeName(name)), name);
        QCOMPARE(files::displayName(files::decodeName("a\xF6\xF0\x9F\x98\x80")), u"a\uFFFD😀"_s);
        const QByteArray raw = QFile::encodeName(m_dir->path()) + "/Br\xF6tchen.md";
        const QString path = files::decodeName(raw);
        QVERIFY(files::writeNewAtomically(path, "neu") && files::writeAtomically(path, "#"));
        // "#" alone leaves the name, shown with a replacement character, as the title.
        const QList<Sheet> listed = library::readSheets(m_dir->path());
        QVERIFY(listed.size() == 1 && listed[0].title == u"Br\uFFFDtchen");
        QCOMPARE(files::encodeName(listed[0].url.toLocalFile()), raw);
        QCOMPARE(files::firstFreeName(m_dir->path(), files::decodeName("Br\xF6tchen"), u"md"_s),
                 files::decodeName("Br\xF6tchen-1.md"));
        QCOMPARE(::unlink(raw.constData()), 0);
        QCOMPARE(fileCount(), 0);
    }

    // New files and moves never replace, not even through a dangling link; the umask holds.
    void newFilesAndMovesNeverReplace() {
        const QString path = at(u"a (extern geändert 2026-12-06 143005).md"_s);
        QVERIFY(files::writeNewAtomically(path, "neu"));
        const mode_t mask = ::umask(022);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QCOMPARE(test::readBytes(path), QByteArray("neu"));
        QVERIFY(QFile::link(at(u"ziel.md"_s), at(u"zeiger.md"_s)));
        QVERIFY(!files::writeNewAtomically(at(u"zeiger.md"_s), "x"));
        QVERIFY(!QFileInfo::exists(at(u"ziel.md"_s)));
        QCOMPARE(fileCount(), 2);
        // A rescued text: its folder made when needed, the title made one harmless name.
        const QString rescued = at(u"Gerettet"_s), stem = rescued + u"/Ein-Aus 2026-12-07 034512"_s;
        const QDateTime when(QDate(2026, 12, 7), QTime(3, 45, 12));
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"eins"_s, when), stem + u".md"_s);
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"zwei"_s, when), stem + u"-1.md"_s);
        QCOMPARE(test::readBytes(stem + u".md"_s), QByteArray("eins"));
        QVERIFY(test::writeBytes(at(u"a.md"_s), "A") && test::writeBytes(at(u"b.md"_s), "B"));
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"b.md"_s)), files::MoveResult::Taken);
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"zeiger.md"_s)), files::MoveResult::Taken);
        QCOMPARE(test::readBytes(at(u"a.md"_s)) + test::readBytes(at(u"b.md"_s)), "AB");
        QCOMPARE(files::moveToFreeName(at(u"a.md"_s), m_dir->path(), u"b"_s, u"md"_s),
                 at(u"b-1.md"_s));
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"c.md"_s)), files::MoveResult::Failed);
    }

    // On a full disk (a size limit) a new file leaves neither a cut-off copy nor a hidden one.
    void aNewFileThatDoesNotFitLeavesNothing() {
        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit small { 4, before.rlim_max };
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = files::writeNewAtomically(at(u"a.md"_s), "mehr als vier Bytes");
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(fileCount(), 0);
    }

    // Same size and time, other content: only the hash tells the versions apart.
    void fileVersions() {
        const QString path = at(u"a.md"_s);
        const QDateTime when = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(test::writeBytes(path, "eins") && test::setModified(path, when));
        const files::FileVersion first = files::version(path);
        QCOMPARE(first.hash, files::contentHash("eins"));
        QVERIFY(test::writeBytes(path, "zwei") && test::setModified(path, when));
        const files::FileVersion second = files::version(path);
        QVERIFY(second.sameStamp(first) && second.hash != first.hash);
    }

    // Written by hand, a library path with a comma reads back as one path, not a list.
    void rootChoiceTakesACommaAsPartOfThePath() {
        const QString conf = QSettings(u"Orvik"_s, u"Orvik"_s).fileName();
        QVERIFY(test::writeBytes(conf, "[General]\nOrvikLibraryPath=/tmp/x/B\xC3\xBC"
                                       "cher,  alt\n"));
        QCOMPARE(library::chooseRoot(), u"/tmp/x/Bücher,  alt"_s);
        QVERIFY(QFile::remove(conf));
    }

    // Generated names fit the 255 bytes of a file name without splitting a character.
    void generatedNamesFitOneFileName() {
        const QString tag = u" (extern geändert 2026-12-06 143005)"_s; // 37 bytes
        const QString e = u"e\u0301"_s; // two characters, three bytes
        for (const QString& counter : {QString(), u"-1"_s}) {
            const QString name = files::firstFreeName(m_dir->path(), e.repeated(80), u"md"_s, tag);
            QCOMPARE(name, e.repeated(71) + tag + counter + u".md"_s);
            QVERIFY(test::writeBytes(at(name), ""));
        }
    }
};

ORVIK_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
