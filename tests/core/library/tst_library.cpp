#include "library/files.h"
#include "library/library.h"
#include "library/rescue.h"
#include "library/text.h"
#include "testenv.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>

#include <csignal>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
            << u"## Einkauf *heute*\nmehr"_qs << u"Einkauf heute"_qs;
        QTest::newRow("task bullet") << u"- [ ] Milch"_qs << u"[ ] Milch"_qs;
        QTest::newRow("only a hash") << u"#\nText darunter"_qs << u"fallback"_qs;
        QTest::newRow("hash and blank") << u"# \nText darunter"_qs << u"fallback"_qs;
        QTest::newRow("two asterisks") << u"**\nText darunter"_qs << u"fallback"_qs;
        QTest::newRow("seven hashes") << u"####### x"_qs << u"# x"_qs;
        QTest::newRow("blank lines only") << u"  \n\t\n"_qs << u"fallback"_qs;
        QTest::newRow("empty") << QString() << u"fallback"_qs;
        QTest::newRow("leading blank lines, quote")
            << u"\n  \n>  Zitat _hier_ \n"_qs << u"Zitat hier"_qs;
        QTest::newRow("no-break space trimmed") << u"\u00A0Titel\u2003"_qs << u"Titel"_qs;
        // CR LF ends a line as a line feed does; a carriage return alone does not.
        QTest::newRow("crlf ends the line") << u"# Titel\r\nZweite"_qs << u"Titel"_qs;
        QTest::newRow("hash then crlf") << u"#\r\nZweite"_qs << u"fallback"_qs;
        QTest::newRow("lone cr") << u"# Titel\rZweite"_qs << u"Titel\rZweite"_qs;
        // Cut after 120 user-perceived characters of 4 UTF-16 units each.
        QTest::newRow("graphemes")
            << QString(u"👍🏽"_qs).repeated(130) << QString(u"👍🏽"_qs).repeated(120);
    }
    void title() {
        QFETCH(QString, text);
        QFETCH(QString, title);
        QCOMPARE(Sheet::deriveTitle(text, u"fallback"_qs), title);
    }

    void preview_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("preview");
        QTest::newRow("heading only") << u"# Nur Titel"_qs << u"Kein weiterer Text"_qs;
        QTest::newRow("blank only") << u" \n\n"_qs << u"Kein weiterer Text"_qs;
        QTest::newRow("quote with code")
            << u"# Kopf\n\n> Zitat mit `code`"_qs << u"Zitat mit code"_qs;
        QTest::newRow("marks everywhere")
            << u"T\n## Unter#titel **fett** _x_"_qs << u"Untertitel fett x"_qs;
        QTest::newRow("list markers stay") << u"T\n- eins\n+ zwei\n1. drei\n- [ ] vier\n* fünf"_qs
                                           << u"- eins + zwei 1. drei - [ ] vier fünf"_qs;
        QTest::newRow("line of marks only is skipped") << u"T\n***\nText"_qs << u"Text"_qs;
        QTest::newRow("crlf lines")
            << u"Titel\r\n\r\nZweite \r\n> Dritte\r\n"_qs << u"Zweite Dritte"_qs;
        // Collecting stops once past 140 characters; a long line is cut at 160.
        const QString a100 = QString(u'a').repeated(100);
        QTest::newRow("100, then 151: no third line")
            << u"T\n"_qs + a100 + u'\n' + QString(u'b').repeated(50) + u"\nc"_qs
            << a100 + u' ' + QString(u'b').repeated(50);
        QTest::newRow("100 + 1 + 39 = 140 is not past")
            << u"T\n"_qs + a100 + u'\n' + QString(u'b').repeated(39) + u"\nccccc"_qs
            << a100 + u' ' + QString(u'b').repeated(39) + u" ccccc"_qs;
        // A part starting with a combining mark joins the space before it.
        QTest::newRow("138 + 1 + 1 = 140 is not past")
            << u"T\n"_qs + QString(u'a').repeated(138) + u"\n\u0301x\ny"_qs
            << QString(u'a').repeated(138) + u" \u0301x y"_qs;
        QTest::newRow("one long line")
            << u"T\n"_qs + QString(u'x').repeated(500) << QString(u'x').repeated(160);
        QTest::newRow("160 graphemes") << u"Titel\n"_qs + QString(u"e\u0301"_qs).repeated(200)
                                       << QString(u"e\u0301"_qs).repeated(160);
    }
    void preview() {
        QFETCH(QString, text);
        QFETCH(QString, preview);
        QCOMPARE(Sheet::derivePreview(text), preview);
    }

    void words_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("count");
        QTest::newRow("mixed separators") << u"eins  zwei\tdrei\nvier fünf"_qs << 5;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("only separators") << u" \n\t "_qs << 0;
        QTest::newRow("crlf separates") << u"eins\r\nzwei \r\n\r\n drei\r\nvier"_qs << 4;
        QTest::newRow("lone cr does not separate") << u"eins\rzwei\r"_qs << 1;
        // Long enough for the bytes to be counted sixteen at a time.
        QTest::newRow("crlf across chunks")
            << u"a\r\nbcdefghijklm \r\nnopqrstuvwxyz01\r\n\r\n234567890abcd\r\r\nx"_qs << 5;
        QTest::newRow("no-break space does not separate") << u"a\u00A0b c"_qs << 2;
        QTest::newRow("markup counts") << u"# Titel - x"_qs << 4;
    }
    void words() {
        QFETCH(QString, text);
        QFETCH(int, count);
        QCOMPARE(Sheet::countWords(text), count);
        QCOMPARE(Sheet::countWords(QByteArrayView(text.toUtf8())), count);
        // Read in pieces, words and line ends run across their borders.
        QTemporaryDir dir;
        const QString path = dir.filePath(u"w.md"_qs);
        QVERIFY(test::writeBytes(path, text.toUtf8()));
        for (const qsizetype piece : {1, 2, 3, 5, 16})
            QCOMPARE(Sheet::load(path, piece)->wordCount, count);
    }

    // A sheet read in pieces is the sheet read whole: characters, a byte
    // order mark and CR LF cut at any place.
    void loadingInPieces() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"p.md"_qs);
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
        for (const QString& custom : {u"Tagebuch 2025"_qs, u" Ideen"_qs, u".Papierkorb"_qs})
            QCOMPARE(Folder::kindForFolderNamed(custom), Folder::Kind::Custom);
        QCOMPARE(Folder::kindForFolderNamed(u"Diary"_qs), Folder::Kind::Diary);
        QCOMPARE(Folder::kindForFolderNamed(u"IDEEN"_qs), Folder::Kind::Ideas);
        for (auto kind : {Folder::Kind::Diary, Folder::Kind::Ideas, Folder::Kind::Projects,
                          Folder::Kind::Quick, Folder::Kind::Custom, Folder::Kind::Trash})
            QCOMPARE(kindFromRawValue(rawValue(kind)), kind);
        QVERIFY(!kindFromRawValue(u"Diary"_qs));
        QVERIFY(library::isReservedGroupName(u" papierKORB "_qs));
        QVERIFY(!library::isReservedGroupName(u"Papierkorb 2"_qs));
        QVERIFY(files::isPlainName(u"..Ideen"_qs));
        for (const QString& bad : {QString(), u"."_qs, u".."_qs, u"a/b"_qs, u"/"_qs, u"a\0b"_qs})
            QVERIFY2(!files::isPlainName(bad), qPrintable(bad));
    }

    void groupsAreOrderedByKindThenName() {
        QTemporaryDir root;
        for (const char* name : {"beta", "Tagebuch", "Ideas", "Alpha", "Projekte", "Ideen",
                                 "Schnelle Notiz", "Äpfel", "Zebra", ".versteckt"})
            QVERIFY(QDir(root.path()).mkdir(QString::fromUtf8(name)));
        QVERIFY(test::writeBytes(root.filePath(u"lose.md"_qs), "# lose"));
        QCOMPARE(names(library::readGroups(root.path())),
                 u"Schnelle Notiz, Ideas, Ideen, Projekte, Tagebuch, Alpha, Äpfel, beta, Zebra"_qs);
        const QList<Folder> groups = library::readGroups(root.path());
        QCOMPARE(groups[1].kind, Folder::Kind::Ideas);
        QCOMPARE(groups[2].kind, Folder::Kind::Ideas);
        QCOMPARE(groups[0].url, QUrl::fromLocalFile(root.filePath(u"Schnelle Notiz"_qs)));
    }

    void sheetsOfAGroup() {
        QTemporaryDir root;
        const QString group = root.filePath(u"Ideen"_qs);
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
        QCOMPARE(titles, (QStringList{u"Neu"_qs, u"Mitte"_qs, u"Alt"_qs}));
        QCOMPARE(sheets[2].preview, u"Text"_qs);
        QCOMPARE(sheets[2].wordCount, 3);
        QVERIFY(!sheets[2].matched);
        QCOMPARE(sheets[2].modified, base.addSecs(-3600 * 5));

        // An empty sheet takes its file name as the title.
        write("Leer.md", "", 0);
        const auto empty = Sheet::load(group + u"/Leer.md"_qs);
        QVERIFY(empty);
        QCOMPARE(empty->title, u"Leer"_qs);
        QCOMPARE(empty->preview, u"Kein weiterer Text"_qs);
        QVERIFY(!Sheet::load(group + u"/fehlt.md"_qs));
        QCOMPARE(modificationDate(group + u"/fehlt.md"_qs), distantPast());

        // Only regular files are sheets: a FIFO would block the reader, a
        // device never ends.
        const QByteArray fifo = QFile::encodeName(group + u"/rohr.md"_qs);
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_qs, group + u"/null.md"_qs));
        QVERIFY(QFile::link(u"rohr.md"_qs, group + u"/zum-rohr.md"_qs));
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
        QCOMPARE(listed.first().title, u"Br\uFFFDtchen"_qs);
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
        QCOMPARE(files::displayName(files::decodeName("a\xF6\xF0\x9F\x98\x80")), u"a\uFFFD😀"_qs);
        const QString path = files::decodeName(folder + "/Br\xF6tchen.md");
        QVERIFY(files::writeNewAtomically(path, "neu"));
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QVERIFY(files::writeAtomically(path, "ersetzt"));
        QVERIFY(files::stamp(path).exists);
        QCOMPARE(*files::readBytes(path), QByteArray("ersetzt"));
        QCOMPARE(files::firstFreeName(dir.path(), files::decodeName("Br\xF6tchen"), u"md"_qs),
                 files::decodeName("Br\xF6tchen-1.md"));
        // One file, under its own name; nothing under the replaced one.
        QCOMPARE(::unlink((folder + "/Br\xF6tchen.md").constData()), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 0);
    }

    void firstStartBootstrap() {
        QTemporaryDir parent;
        const QString root = parent.filePath(u"Bibliothek/Orvik"_qs);
        library::bootstrapIfNeeded(root);
        QCOMPARE(test::readBytes(root + u"/Ideen/willkommen.md"_qs),
                 library::welcomeText().toUtf8());
        QCOMPARE(names(library::readGroups(root)), u"Schnelle Notiz, Ideen, Projekte, Tagebuch"_qs);

        // Later starts never bring the welcome sheet back, but do recreate groups.
        QVERIFY(QFile::remove(root + u"/Ideen/willkommen.md"_qs));
        QVERIFY(QDir(root + u"/Projekte"_qs).removeRecursively());
        library::bootstrapIfNeeded(root);
        QVERIFY(QFileInfo(root + u"/Projekte"_qs).isDir());
        QVERIFY(!QFileInfo::exists(root + u"/Ideen/willkommen.md"_qs));

        // A file where the library should be is left alone; nothing unreadable gives groups.
        const QString file = parent.filePath(u"datei"_qs);
        QVERIFY(test::writeBytes(file, "kein Ordner"));
        library::bootstrapIfNeeded(file);
        QCOMPARE(test::readBytes(file), QByteArray("kein Ordner"));
        QVERIFY(library::readGroups(file).isEmpty());
        QVERIFY(library::readGroups(u"/nonexistent/orvik"_qs).isEmpty());
    }

    void newFilesNeverReplaceOldOnes() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a (extern geändert 2026-12-06 143005).md"_qs);
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
        const QString link = dir.filePath(u"zeiger.md"_qs);
        QVERIFY(QFile::link(dir.filePath(u"ziel.md"_qs), link));
        QVERIFY(!files::writeNewAtomically(link, "x"));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"ziel.md"_qs)));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

        // A rescued text: its folder made when needed, the title made one
        // harmless name, a second text of that moment beside the first.
        const QString rescued = dir.filePath(u"Gerettet"_qs);
        const QDateTime when(QDate(2026, 12, 7), QTime(3, 45, 12));
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_qs, u"eins"_qs, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512.md"_qs);
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_qs, u"zwei"_qs, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512-1.md"_qs);
        QCOMPARE(test::readBytes(rescued + u"/Ein-Aus 2026-12-07 034512.md"_qs),
                 QByteArray("eins"));
    }

    void movesNeverReplace() {
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.md"_qs);
        const QString b = dir.filePath(u"b.md"_qs);
        QVERIFY(test::writeBytes(a, "A"));
        QVERIFY(test::writeBytes(b, "B"));
        QCOMPARE(files::moveNoReplace(a, b), files::MoveResult::Taken);
        const QString link = dir.filePath(u"zeiger.md"_qs);
        QVERIFY(QFile::link(dir.filePath(u"ziel.md"_qs), link));
        QCOMPARE(files::moveNoReplace(a, link), files::MoveResult::Taken);
        QCOMPARE(test::readBytes(a), QByteArray("A"));
        QCOMPARE(test::readBytes(b), QByteArray("B"));
        QCOMPARE(files::moveToFreeName(a, dir.path(), u"b"_qs, u"md"_qs),
                 dir.filePath(u"b-1.md"_qs));
        QCOMPARE(test::readBytes(dir.filePath(u"b-1.md"_qs)), QByteArray("A"));
        QCOMPARE(files::moveNoReplace(a, dir.filePath(u"c.md"_qs)), files::MoveResult::Failed);
    }

    void aNewFileThatDoesNotFitLeavesNothing() {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"a (extern geändert 2026-12-06 143005).md"_qs);
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
        const QString path = dir.filePath(u"a.md"_qs);
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
        const QString documents = QDir::homePath() + u"/Documents/Orvik"_qs;
        QSettings settings(u"Orvik"_qs, u"Orvik"_qs);
        const auto chosenWith = [&](const QVariant& value) {
            if (value.isValid())
                settings.setValue(u"OrvikLibraryPath"_qs, value);
            else
                settings.remove(u"OrvikLibraryPath"_qs);
            settings.sync();
            return library::chooseRoot();
        };
        QCOMPARE(chosenWith({}), documents);
        QCOMPARE(chosenWith(u"/srv/texte/"_qs), u"/srv/texte"_qs);
        QCOMPARE(chosenWith(QString()), documents);
        chosenWith({});
        // Written by hand, a path with a comma reads back as a list.
        QFile conf(settings.fileName());
        QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
        conf.write("[General]\nOrvikLibraryPath=/tmp/x/B\xC3\xBC"
                   "cher,  alt\n");
        conf.close();
        QCOMPARE(library::chooseRoot(), u"/tmp/x/Bücher,  alt"_qs);
        QVERIFY(conf.remove());
    }

    void newSheetNames() {
        QTemporaryDir dir;
        const QDateTime moment(QDate(2026, 3, 9), QTime(7, 5, 3));
        QCOMPARE(library::stamp(moment), u"2026-03-09-070503"_qs);
        QCOMPARE(library::parseStamp(u"2026-03-09-070503"_qs), moment);
        QVERIFY(!library::parseStamp(u"2026-03-09"_qs).isValid());
        QVERIFY(!library::parseStamp(u"Alt"_qs).isValid());
        QCOMPARE(library::newSheetFileName(dir.path(), moment), u"2026-03-09-070503.md"_qs);
        QVERIFY(test::writeBytes(dir.filePath(u"2026-03-09-070503.md"_qs), ""));
        QVERIFY(test::writeBytes(dir.filePath(u"2026-03-09-070503-1.md"_qs), ""));
        QCOMPARE(library::newSheetFileName(dir.path(), moment), u"2026-03-09-070503-2.md"_qs);
    }

    void generatedNamesFitOneFileName() {
        QTemporaryDir dir;
        const QString tag = u" (extern geändert 2026-12-06 143005)"_qs; // 37 bytes
        // An accented e of two characters (three bytes) is never split.
        const QString e = u"e\u0301"_qs;
        for (const QString& counter : {QString(), u"-1"_qs}) {
            const QString name = files::firstFreeName(dir.path(), e.repeated(80), u"md"_qs, tag);
            QCOMPARE(name, e.repeated(71) + tag + counter + u".md"_qs);
            QVERIFY(test::writeBytes(dir.filePath(name), ""));
        }
        for (const QString& copy : {u"Einkauf.md"_qs, u"Einkauf 2.md"_qs, u"Einkauf 3.md"_qs}) {
            QCOMPARE(files::firstFreeCopyName(dir.path(), u"Einkauf"_qs, u"md"_qs), copy);
            QVERIFY(test::writeBytes(dir.filePath(copy), ""));
        }
    }
};

ORVIK_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
