#include "library/library.h"
#include "library/rescue.h"
#include "platform/files.h"
#include "platform/text.h"
#include "testenv.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;

namespace {
QString names(const QList<Folder>& groups) {
    QStringList list;
    for (const Folder& g : groups)
        list.append(g.name);
    return list.join(u", ");
}
} // namespace

class TestLibrary : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void title_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("title");
        QTest::newRow("heading with emphasis")
            << u"## Einkauf *heute*\nmehr"_s << u"Einkauf heute"_s;
        QTest::newRow("task bullet") << u"- [ ] Milch"_s << u"[ ] Milch"_s;
        QTest::newRow("only a hash") << u"#\nText darunter"_s << u"fallback"_s;
        QTest::newRow("hash and blank") << u"# \nText darunter"_s << u"fallback"_s;
        QTest::newRow("two asterisks") << u"**\nText darunter"_s << u"fallback"_s;
        QTest::newRow("seven hashes") << u"####### x"_s << u"# x"_s;
        QTest::newRow("blank lines only") << u"  \n\t\n"_s << u"fallback"_s;
        QTest::newRow("empty") << QString() << u"fallback"_s;
        QTest::newRow("leading blank lines, quote")
            << u"\n  \n>  Zitat _hier_ \n"_s << u"Zitat hier"_s;
        QTest::newRow("no-break space trimmed") << u"\u00A0Titel\u2003"_s << u"Titel"_s;
        // CR LF ends a line as a line feed does; a carriage return alone does not.
        QTest::newRow("crlf ends the line") << u"# Titel\r\nZweite"_s << u"Titel"_s;
        QTest::newRow("hash then crlf") << u"#\r\nZweite"_s << u"fallback"_s;
        QTest::newRow("lone cr") << u"# Titel\rZweite"_s << u"Titel\rZweite"_s;
        // Cut after 120 user-perceived characters of 4 UTF-16 units each.
        QTest::newRow("graphemes")
            << QString(u"👍🏽"_s).repeated(130) << QString(u"👍🏽"_s).repeated(120);
    }
    void title() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QCOMPARE(Sheet::deriveTitle(text, u"fallback"_s), title);
    }

    void preview_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("preview");
        QTest::newRow("heading only") << u"# Nur Titel"_s << u"Kein weiterer Text"_s;
        QTest::newRow("blank only") << u" \n\n"_s << u"Kein weiterer Text"_s;
        QTest::newRow("quote with code")
            << u"# Kopf\n\n> Zitat mit `code`"_s << u"Zitat mit code"_s;
        QTest::newRow("marks everywhere")
            << u"T\n## Unter#titel **fett** _x_"_s << u"Untertitel fett x"_s;
        QTest::newRow("list markers stay") << u"T\n- eins\n+ zwei\n1. drei\n- [ ] vier\n* fünf"_s
                                           << u"- eins + zwei 1. drei - [ ] vier fünf"_s;
        QTest::newRow("line of marks only is skipped") << u"T\n***\nText"_s << u"Text"_s;
        QTest::newRow("crlf lines")
            << u"Titel\r\n\r\nZweite \r\n> Dritte\r\n"_s << u"Zweite Dritte"_s;
        // Collecting stops once past 140 characters; a long line is cut at 160.
        const QString a100 = QString(u'a').repeated(100);
        QTest::newRow("100, then 151: no third line")
            << u"T\n"_s + a100 + u'\n' + QString(u'b').repeated(50) + u"\nc"_s
            << a100 + u' ' + QString(u'b').repeated(50);
        QTest::newRow("100 + 1 + 39 = 140 is not past")
            << u"T\n"_s + a100 + u'\n' + QString(u'b').repeated(39) + u"\nccccc"_s
            << a100 + u' ' + QString(u'b').repeated(39) + u" ccccc"_s;
        // A part starting with a combining mark joins the space before it.
        QTest::newRow("138 + 1 + 1 = 140 is not past")
            << u"T\n"_s + QString(u'a').repeated(138) + u"\n\u0301x\ny"_s
            << QString(u'a').repeated(138) + u" \u0301x y"_s;
        QTest::newRow("one long line")
            << u"T\n"_s + QString(u'x').repeated(500) << QString(u'x').repeated(160);
        QTest::newRow("160 graphemes") << u"Titel\n"_s + QString(u"e\u0301"_s).repeated(200)
                                       << QString(u"e\u0301"_s).repeated(160);
    }
    void preview() {
        QFETCH(QString, text);
        QFETCH(QString, preview);
        QCOMPARE(Sheet::derivePreview(text), preview);
    }

    void words_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("mixed separators") << u"eins  zwei\tdrei\nvier fünf"_s << 5;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("only separators") << u" \n\t "_s << 0;
        QTest::newRow("crlf separates") << u"eins\r\nzwei \r\n\r\n drei\r\nvier"_s << 4;
        QTest::newRow("lone cr does not separate") << u"eins\rzwei\r"_s << 1;
        // Long enough for the bytes to be counted sixteen at a time.
        QTest::newRow("crlf across chunks")
            << u"a\r\nbcdefghijklm \r\nnopqrstuvwxyz01\r\n\r\n234567890abcd\r\r\nx"_s << 5;
        QTest::newRow("no-break space does not separate") << u"a\u00A0b c"_s << 2;
        QTest::newRow("markup counts") << u"# Titel - x"_s << 4;
    }
    void words() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(Sheet::countWords(text), count);
        QCOMPARE(Sheet::countWords(QByteArrayView(text.toUtf8())), count);
        // Read in pieces, words and line ends run across their borders.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"w.md"_s);
        QVERIFY(test::writeBytes(path, text.toUtf8()));
        for (const qsizetype piece : {1, 2, 3, 5, 16})
            QCOMPARE(Sheet::load(path, piece)->wordCount, count);
    }

    // A sheet read in pieces is the sheet read whole: characters, a byte
    // order mark and CR LF cut at any place.
    void loadingInPieces() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.md"_s);
        const QList<QByteArray> texts = {
            "\xEF\xBB\xBF# Gr\xC3\xBC\xC3\x9F\xE2\x80\x9E\xF0\x9F\x98\x80\r\n\r\nZweite "
            "Zeile mit \xC3\xA4\r\nund mehr",
            "\xEF\xBB\xBF", "  \n\t# \n", QByteArray("a\r").repeated(7) + "\r\n"};
        for (const QByteArray& bytes : texts) {
            QVERIFY(test::writeBytes(path, bytes));
            const auto whole = Sheet::load(path);
            QVERIFY(whole);
            QCOMPARE(*whole, Sheet::fromText(path, *text::decodeUtf8(bytes), whole->modified));
            for (const qsizetype piece : {1, 2, 3, 4, 7})
                QCOMPARE(*Sheet::load(path, piece), *whole);
        }
        // Not UTF-8 at the very end, or a character cut off: no sheet.
        for (const QByteArray& bytes :
             {QByteArray("gut \xC3\xA4 \xFF"), QByteArray("ab\xE2\x80")}) {
            QVERIFY(test::writeBytes(path, bytes));
            for (const qsizetype piece : {1, 2, 3, 1 << 20})
                QVERIFY(!Sheet::load(path, piece));
        }
    }

    void kinds() {
        for (const QString& custom : {u"Tagebuch 2025"_s, u" Ideen"_s, u".Papierkorb"_s})
            QCOMPARE(Folder::kindForFolderNamed(custom), Folder::Kind::Custom);
        QCOMPARE(Folder::kindForFolderNamed(u"Diary"_s), Folder::Kind::Diary);
        QCOMPARE(Folder::kindForFolderNamed(u"IDEEN"_s), Folder::Kind::Ideas);
        for (auto kind : {Folder::Kind::Diary, Folder::Kind::Ideas, Folder::Kind::Projects,
                          Folder::Kind::Quick, Folder::Kind::Custom, Folder::Kind::Trash})
            QCOMPARE(kindFromRawValue(rawValue(kind)), kind);
        QVERIFY(!kindFromRawValue(u"Diary"_s));
        QVERIFY(library::isReservedGroupName(u" papierKORB "_s));
        QVERIFY(!library::isReservedGroupName(u"Papierkorb 2"_s));
        QVERIFY(files::isPlainName(u"..Ideen"_s));
        for (const QString& bad : {QString(), u"."_s, u".."_s, u"a/b"_s, u"/"_s, u"a\0b"_s})
            QVERIFY2(!files::isPlainName(bad), qPrintable(bad));
    }

    void groupsAreOrderedByKindThenName() {
        QTemporaryDir root;
        for (const char* name : {"beta", "Tagebuch", "Ideas", "Alpha", "Projekte", "Ideen",
                                 "Schnelle Notiz", "Äpfel", "Zebra", ".versteckt"})
            QVERIFY(QDir(root.path()).mkdir(QString::fromUtf8(name)));
        QVERIFY(test::writeBytes(root.filePath(u"lose.md"_s), "# lose"));
        QCOMPARE(names(library::readGroups(root.path())),
                 u"Schnelle Notiz, Ideas, Ideen, Projekte, Tagebuch, Alpha, Äpfel, beta, Zebra"_s);
        const QList<Folder> groups = library::readGroups(root.path());
        QCOMPARE(groups[1].kind, Folder::Kind::Ideas);
        QCOMPARE(groups[2].kind, Folder::Kind::Ideas);
        QCOMPARE(groups[0].url, QUrl::fromLocalFile(root.filePath(u"Schnelle Notiz"_s)));
    }

    void sheetsOfAGroup() {
        QTemporaryDir root;
        const QString group = root.filePath(u"Ideen"_s);
        const QDateTime base = QDateTime::currentDateTime().addDays(-3);
        const auto write = [&](const char* name, const QByteArray& bytes, int hoursAgo) {
            const QString path = group + u'/' + QString::fromUtf8(name);
            QVERIFY(test::writeBytes(path, bytes));
            QVERIFY(test::setModified(path, base.addSecs(-3600 * hoursAgo)));
        };
        write("alt.md", "# Alt\nText", 5);
        write("neu.MD", "# Neu", 1);
        write("mitte.md", "Mitte", 3);
        write("notiz.txt", "# Kein Blatt", 0);
        write(".versteckt.md", "# Versteckt", 0);
        write("kaputt.md", "\xC3\x28 ungültig", 0);
        write("unter/tief.md", "# Tief", 0);
        // What interrupted writes leave behind.
        write("alt.md.Xq81Zt", "# Halb", 0);
        write(".orvik-a8Fk2c", "# Halb", 0);
        const QList<Sheet> sheets = library::readSheets(group);
        QStringList titles;
        for (const Sheet& s : sheets)
            titles.append(s.title);
        QCOMPARE(titles, (QStringList{u"Neu"_s, u"Mitte"_s, u"Alt"_s}));
        QCOMPARE(sheets[2].preview, u"Text"_s);
        QCOMPARE(sheets[2].wordCount, 3);
        QVERIFY(!sheets[2].matched);
        QCOMPARE(sheets[2].modified, base.addSecs(-3600 * 5));

        // An empty sheet takes its file name as the title.
        write("Leer.md", "", 0);
        const auto empty = Sheet::load(group + u"/Leer.md"_s);
        QVERIFY(empty);
        QCOMPARE(empty->title, u"Leer"_s);
        QCOMPARE(empty->preview, u"Kein weiterer Text"_s);
        QVERIFY(!Sheet::load(group + u"/fehlt.md"_s));
        QCOMPARE(modificationDate(group + u"/fehlt.md"_s), distantPast());

        // Only regular files are sheets: a FIFO would block the reader, a
        // device never ends.
        const QByteArray fifo = QFile::encodeName(group + u"/rohr.md"_s);
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, group + u"/null.md"_s));
        QVERIFY(QFile::link(u"rohr.md"_s, group + u"/zum-rohr.md"_s));
        for (const char* name : {"rohr.md", "null.md", "zum-rohr.md"}) {
            const QString path = group + u'/' + QString::fromUtf8(name);
            QVERIFY(!Sheet::load(path));
            QVERIFY(!files::readBytes(path));
            QVERIFY(files::version(path).hash.isEmpty());
        }
        // A name that is no UTF-8 is listed under its own bytes, shown with
        // a replacement character.
        const QByteArray raw = QFile::encodeName(group) + "/Br\xF6tchen.md";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const QList<Sheet> listed = library::readSheets(group);
        QCOMPARE(listed.size(), 5);
        QCOMPARE(listed.first().title, u"Br\uFFFDtchen"_s);
        QCOMPARE(files::encodeName(listed.first().path()), raw);
        QCOMPARE(files::encodeName(listed.first().url.toLocalFile()), raw);
        // Qt's own removal cannot name it either.
        QCOMPARE(::unlink(raw.constData()), 0);
    }

    // File names as bytes: what is no UTF-8 survives the trip through a
    // QString path and reaches the very file it came from.
    void namesThatAreNoUtf8() {
        QTemporaryDir dir;
        const QByteArray folder = QFile::encodeName(dir.path());
        for (const QByteArray& name : {QByteArray("Br\xF6tchen.md"), QByteArray("\xED\xB3\xB6\xC3"),
                                       QByteArray("ok \xF0\x9F\x98\x80 \xC3\xA4\xFF")}) {
            const QString decoded = files::decodeName(name);
            QCOMPARE(files::encodeName(decoded), name);
            QVERIFY(!files::displayName(decoded).contains(QChar(0xDCF6)));
        }
        QCOMPARE(files::displayName(files::decodeName("a\xF6\xF0\x9F\x98\x80")), u"a\uFFFD😀"_s);
        const QString path = files::decodeName(folder + "/Br\xF6tchen.md");
        QVERIFY(files::writeNewAtomically(path, "neu"));
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QVERIFY(files::writeAtomically(path, "ersetzt"));
        QVERIFY(files::stamp(path).exists);
        QCOMPARE(*files::readBytes(path), QByteArray("ersetzt"));
        QCOMPARE(files::firstFreeName(dir.path(), files::decodeName("Br\xF6tchen"), u"md"_s),
                 files::decodeName("Br\xF6tchen-1.md"));
        // One file, under its own name; nothing under the replaced one.
        QCOMPARE(::unlink((folder + "/Br\xF6tchen.md").constData()), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 0);
    }

    void firstStartBootstrap() {
        QTemporaryDir parent;
        const QString root = parent.filePath(u"Bibliothek/Orvik"_s);
        library::bootstrapIfNeeded(root);
        QCOMPARE(test::readBytes(root + u"/Ideen/willkommen.md"_s),
                 library::welcomeText().toUtf8());
        QCOMPARE(names(library::readGroups(root)), u"Schnelle Notiz, Ideen, Projekte, Tagebuch"_s);

        // Later starts never bring the welcome sheet back, but do recreate groups.
        QVERIFY(QFile::remove(root + u"/Ideen/willkommen.md"_s));
        QVERIFY(QDir(root + u"/Projekte"_s).removeRecursively());
        library::bootstrapIfNeeded(root);
        QVERIFY(QFileInfo(root + u"/Projekte"_s).isDir());
        QVERIFY(!QFileInfo::exists(root + u"/Ideen/willkommen.md"_s));

        // A file where the library should be is left alone; nothing unreadable gives groups.
        const QString file = parent.filePath(u"datei"_s);
        QVERIFY(test::writeBytes(file, "kein Ordner"));
        library::bootstrapIfNeeded(file);
        QCOMPARE(test::readBytes(file), QByteArray("kein Ordner"));
        QVERIFY(library::readGroups(file).isEmpty());
        QVERIFY(library::readGroups(u"/nonexistent/orvik"_s).isEmpty());
    }

    void newFilesNeverReplaceOldOnes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a (extern geändert 2026-12-06 143005).md"_s);
        QVERIFY(files::writeNewAtomically(path, "neu"));
        QCOMPARE(test::readBytes(path), QByteArray("neu"));
        // Readable like any other sheet (the umask decides), not private to us.
        const mode_t mask = ::umask(022);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QCOMPARE(test::readBytes(path), QByteArray("neu"));
        // Not even through a link that points nowhere yet.
        const QString link = dir.filePath(u"zeiger.md"_s);
        QVERIFY(QFile::link(dir.filePath(u"ziel.md"_s), link));
        QVERIFY(!files::writeNewAtomically(link, "x"));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"ziel.md"_s)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

        // A rescued text: its folder made when needed, the title made one
        // harmless name, a second text of that moment beside the first.
        const QString rescued = dir.filePath(u"Gerettet"_s);
        const QDateTime when(QDate(2026, 12, 7), QTime(3, 45, 12));
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"eins"_s, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512.md"_s);
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"zwei"_s, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512-1.md"_s);
        QCOMPARE(test::readBytes(rescued + u"/Ein-Aus 2026-12-07 034512.md"_s), QByteArray("eins"));
    }

    void movesNeverReplace() {
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.md"_s);
        const QString b = dir.filePath(u"b.md"_s);
        QVERIFY(test::writeBytes(a, "A"));
        QVERIFY(test::writeBytes(b, "B"));
        QCOMPARE(files::moveNoReplace(a, b), files::MoveResult::Taken);
        const QString link = dir.filePath(u"zeiger.md"_s);
        QVERIFY(QFile::link(dir.filePath(u"ziel.md"_s), link));
        QCOMPARE(files::moveNoReplace(a, link), files::MoveResult::Taken);
        QCOMPARE(test::readBytes(a), QByteArray("A"));
        QCOMPARE(test::readBytes(b), QByteArray("B"));
        QCOMPARE(files::moveToFreeName(a, dir.path(), u"b"_s, u"md"_s), dir.filePath(u"b-1.md"_s));
        QCOMPARE(test::readBytes(dir.filePath(u"b-1.md"_s)), QByteArray("A"));
        QCOMPARE(files::moveNoReplace(a, dir.filePath(u"c.md"_s)), files::MoveResult::Failed);
    }

    void aNewFileThatDoesNotFitLeavesNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a (extern geändert 2026-12-06 143005).md"_s);
        // A file size limit stands in for a full disk: writing fails part way.
        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = before;
        small.rlim_cur = 4;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = files::writeNewAtomically(path, "mehr als vier Bytes");
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        // Neither a cut-off copy nor the hidden file it was written into.
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
    }

    void fileVersions() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a.md"_s);
        QVERIFY(!files::version(path).exists);
        QVERIFY(test::writeBytes(path, "eins"));
        const QDateTime when = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(test::setModified(path, when));
        QByteArray bytes;
        const files::FileVersion first = files::version(path, &bytes);
        QCOMPARE(bytes, QByteArray("eins"));
        QCOMPARE(first.hash, files::contentHash("eins"));
        QVERIFY(first.sameStamp(files::stamp(path)));
        // Same size and time, other content: only the hash tells.
        QVERIFY(test::writeBytes(path, "zwei"));
        QVERIFY(test::setModified(path, when));
        const files::FileVersion second = files::version(path);
        QVERIFY(second.sameStamp(first));
        QVERIFY(second.hash != first.hash);
        QVERIFY(test::writeBytes(path, "drei!"));
        QVERIFY(!files::stamp(path).sameStamp(first));
    }

    void rootChoice() {
        const QString documents = QDir::homePath() + u"/Documents/Orvik"_s;
        QSettings settings(u"Orvik"_s, u"Orvik"_s);
        const auto chosenWith = [&](const QVariant& value) {
            if (value.isValid())
                settings.setValue(u"OrvikLibraryPath"_s, value);
            else
                settings.remove(u"OrvikLibraryPath"_s);
            settings.sync();
            return library::chooseRoot();
        };
        QCOMPARE(chosenWith({}), documents);
        QCOMPARE(chosenWith(u"/srv/texte/"_s), u"/srv/texte"_s);
        QCOMPARE(chosenWith(QString()), documents);
        chosenWith({});
        // Written by hand, a path with a comma reads back as a list.
        QFile conf(settings.fileName());
        QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
        conf.write("[General]\nOrvikLibraryPath=/tmp/x/B\xC3\xBC"
                   "cher,  alt\n");
        conf.close();
        QCOMPARE(library::chooseRoot(), u"/tmp/x/Bücher,  alt"_s);
        QVERIFY(conf.remove());
    }

    void newSheetNames() {
        QTemporaryDir dir;
        const QDateTime moment(QDate(2026, 3, 9), QTime(7, 5, 3));
        QCOMPARE(library::stamp(moment), u"2026-03-09-070503"_s);
        QCOMPARE(library::parseStamp(u"2026-03-09-070503"_s), moment);
        QVERIFY(!library::parseStamp(u"2026-03-09"_s).isValid());
        QVERIFY(!library::parseStamp(u"Alt"_s).isValid());
        QCOMPARE(library::newSheetFileName(dir.path(), moment), u"2026-03-09-070503.md"_s);
        QVERIFY(test::writeBytes(dir.filePath(u"2026-03-09-070503.md"_s), ""));
        QVERIFY(test::writeBytes(dir.filePath(u"2026-03-09-070503-1.md"_s), ""));
        QCOMPARE(library::newSheetFileName(dir.path(), moment), u"2026-03-09-070503-2.md"_s);
    }

    void generatedNamesFitOneFileName() {
        QTemporaryDir dir;
        const QString tag = u" (extern geändert 2026-12-06 143005)"_s; // 37 bytes
        // An accented e of two characters (three bytes) is never split.
        const QString e = u"e\u0301"_s;
        for (const QString& counter : {QString(), u"-1"_s}) {
            const QString name = files::firstFreeName(dir.path(), e.repeated(80), u"md"_s, tag);
            QCOMPARE(name, e.repeated(71) + tag + counter + u".md"_s);
            QVERIFY(test::writeBytes(dir.filePath(name), ""));
        }
        for (const QString& copy : {u"Einkauf.md"_s, u"Einkauf 2.md"_s, u"Einkauf 3.md"_s}) {
            QCOMPARE(files::firstFreeCopyName(dir.path(), u"Einkauf"_s, u"md"_s), copy);
            QVERIFY(test::writeBytes(dir.filePath(copy), ""));
        }
    }
};

ORVIK_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
