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
        const QString none = u"Kein weiterer Text"_s;
        const QString fallback = u"fallback"_s;
        const auto row = [](const char* name, const QString& text, const QString& title,
                            const QString& preview, int words) {
            QTest::newRow(name) << text << title << preview << words;
        };
        row("heading with emphasis", u"## Einkauf *heute*\nmehr"_s, u"Einkauf heute"_s, u"mehr"_s,
            4);
        row("task bullet", u"- [ ] Milch"_s, u"[ ] Milch"_s, none, 4);
        row("only a hash", u"#\nText darunter"_s, fallback, u"Text darunter"_s, 3);
        row("hash and blank", u"# \nText darunter"_s, fallback, u"Text darunter"_s, 3);
        row("two asterisks", u"**\nText darunter"_s, fallback, u"Text darunter"_s, 3);
        row("seven hashes", u"####### x"_s, u"# x"_s, none, 2);
        row("blank lines only", u"  \n\t\n"_s, fallback, none, 0);
        row("empty", QString(), fallback, none, 0);
        row("leading blank lines, quote", u"\n  \n>  Zitat _hier_ \n"_s, u"Zitat hier"_s, none, 3);
        row("no-break space trimmed", u"\u00A0Titel\u2003"_s, u"Titel"_s, none, 1);
        row("no-break space joins", u"a\u00A0b c"_s, {}, none, 2);
        row("mixed separators", u"eins  zwei\tdrei\nvier fünf"_s, {}, u"vier fünf"_s, 5);
        // CR LF ends a line as a line feed does; a carriage return alone does not.
        row("crlf ends the line", u"# Titel\r\nZweite"_s, u"Titel"_s, u"Zweite"_s, 3);
        row("hash then crlf", u"#\r\nZweite"_s, fallback, u"Zweite"_s, 2);
        row("crlf lines", u"Titel\r\n\r\nZweite \r\n> Dritte\r\n"_s, u"Titel"_s, u"Zweite Dritte"_s,
            4);
        row("lone cr", u"# Titel\rZweite"_s, u"Titel\rZweite"_s, none, 2);
        row("lone cr at the end", u"eins\rzwei\r"_s, {}, none, 1);
        row("many lone cr", u"a\r"_s.repeated(7) + u"\r\n"_s, {}, {}, 1);
        row("blank, then a bare hash", u"  \n\t# \n"_s, fallback, none, 1);
        row("byte order mark", u"\uFEFF# Grüß„😀\r\n\r\nZweite mit ä\r\nund"_s, {},
            u"Zweite mit ä und"_s, 6);
        // Long enough for the bytes to be counted sixteen at a time.
        row("crlf across chunks",
            u"a\r\nbcdefghijklm \r\nnopqrstuvwxyz01\r\n\r\n234567890abcd\r\r\nx"_s, {}, {}, 5);
        row("quote with code", u"# Kopf\n\n> Zitat mit `code`"_s, u"Kopf"_s, u"Zitat mit code"_s,
            6);
        row("marks everywhere", u"T\n## Unter#titel **fett** _x_"_s, u"T"_s, u"Untertitel fett x"_s,
            5);
        row("list markers stay", u"T\n- eins\n+ zwei\n1. drei\n- [ ] vier\n* fünf"_s, u"T"_s,
            u"- eins + zwei 1. drei - [ ] vier fünf"_s, 13);
        row("line of marks only is skipped", u"T\n***\nText"_s, u"T"_s, u"Text"_s, 3);
        // A title is cut after 120 user-perceived characters, here of 4 UTF-16 units each.
        row("graphemes", QString(u"👍🏽"_s).repeated(130), QString(u"👍🏽"_s).repeated(120),
            none, 1);
        // Collecting the preview stops once past 140 characters; a long line is cut at 160.
        const QString a100 = QString(u'a').repeated(100);
        row("100, then 151: no third line",
            u"T\n"_s + a100 + u'\n' + QString(u'b').repeated(50) + u"\nc"_s, u"T"_s,
            a100 + u' ' + QString(u'b').repeated(50), 4);
        row("100 + 1 + 39 = 140 is not past",
            u"T\n"_s + a100 + u'\n' + QString(u'b').repeated(39) + u"\nccccc"_s, u"T"_s,
            a100 + u' ' + QString(u'b').repeated(39) + u" ccccc"_s, 4);
        // A part starting with a combining mark joins the space before it.
        row("138 + 1 + 1 = 140 is not past",
            u"T\n"_s + QString(u'a').repeated(138) + u"\n\u0301x\ny"_s, u"T"_s,
            QString(u'a').repeated(138) + u" \u0301x y"_s, 4);
        row("one long line", u"T\n"_s + QString(u'x').repeated(500), u"T"_s,
            QString(u'x').repeated(160), 2);
        row("160 graphemes", u"Titel\n"_s + QString(u"e\u0301"_s).repeated(200), u"Titel"_s,
            QString(u"e\u0301"_s).repeated(160), 2);
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
        // Read in pieces, characters, words and line ends run across their borders.
        const QString path = at(u"w.md"_s);
        QVERIFY(test::writeBytes(path, text.toUtf8()));
        const auto whole = Sheet::load(path);
        QVERIFY(whole && whole->wordCount == words);
        QCOMPARE(*whole, Sheet::fromText(path, *text::decodeUtf8(text.toUtf8()), whole->modified));
        for (const qsizetype piece : {1, 2, 3, 4, 5, 7, 16})
            QCOMPARE(*Sheet::load(path, piece), *whole);
    }

    // Not UTF-8 at the very end, or a character cut off: no sheet, however it is read.
    void notUtf8IsNoSheet() {
        const QString path = at(u"p.md"_s);
        for (const QByteArray& bytes :
             {QByteArray("gut \xC3\xA4 \xFF"), QByteArray("ab\xE2\x80")}) {
            QVERIFY(test::writeBytes(path, bytes));
            for (const qsizetype piece : {1, 2, 3, 1 << 20})
                QVERIFY(!Sheet::load(path, piece));
        }
    }

    // Kinds by name in either language; reserved and unsafe names.
    void kindsAndNames() {
        for (const QString& custom : {u"Tagebuch 2025"_s, u" Ideen"_s, u".Papierkorb"_s})
            QCOMPARE(Folder::kindForFolderNamed(custom), Folder::Kind::Custom);
        QCOMPARE(Folder::kindForFolderNamed(u"Diary"_s), Folder::Kind::Diary);
        QCOMPARE(Folder::kindForFolderNamed(u"IDEEN"_s), Folder::Kind::Ideas);
        QVERIFY(!kindFromRawValue(u"Diary"_s));
        QVERIFY(library::isReservedGroupName(u" papierKORB "_s));
        QVERIFY(!library::isReservedGroupName(u"Papierkorb 2"_s));
        QVERIFY(files::isPlainName(u"..Ideen"_s));
        for (const QString& bad : {QString(), u"."_s, u".."_s, u"a/b"_s, u"/"_s, u"a\0b"_s})
            QVERIFY2(!files::isPlainName(bad), qPrintable(bad));
    }

    void groupsAreOrderedByKindThenName() {
        for (const char* name : {"beta", "Tagebuch", "Ideas", "Alpha", "Projekte", "Ideen",
                                 "Schnelle Notiz", "Äpfel", "Zebra", ".versteckt"})
            QVERIFY(QDir(m_dir->path()).mkdir(QString::fromUtf8(name)));
        QVERIFY(test::writeBytes(at(u"lose.md"_s), "# lose"));
        const QList<Folder> groups = library::readGroups(m_dir->path());
        QCOMPARE(names(groups),
                 u"Schnelle Notiz, Ideas, Ideen, Projekte, Tagebuch, Alpha, Äpfel, beta, Zebra"_s);
        QVERIFY(groups[1].kind == Folder::Kind::Ideas && groups[2].kind == Folder::Kind::Ideas);
        QCOMPARE(groups[0].url, QUrl::fromLocalFile(at(u"Schnelle Notiz"_s)));
    }

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
        write("mitte.md", "Mitte", 3);
        write("kaputt.md", "\xC3\x28 ungültig");
        // No sheets either: what interrupted writes leave behind among them.
        for (const char* name :
             {"notiz.txt", ".versteckt.md", "unter/tief.md", "alt.md.Xq81Zt", ".orvik-a8Fk2c"})
            write(name, "# Kein Blatt");
        const QList<Sheet> sheets = library::readSheets(group);
        QCOMPARE(sheets.size(), 3);
        QVERIFY(sheets[0].title == u"Neu" && sheets[1].title == u"Mitte");
        QVERIFY(sheets[2].title == u"Alt" && sheets[2].preview == u"Text");
        QVERIFY(sheets[2].wordCount == 3 && !sheets[2].matched);
        QCOMPARE(sheets[2].modified, base.addSecs(-3600 * 5));
        // An empty sheet takes its file name as the title.
        write("Leer.md", "");
        const auto empty = Sheet::load(group + u"/Leer.md"_s);
        QVERIFY(empty && empty->title == u"Leer" && empty->preview == u"Kein weiterer Text");
        QVERIFY(!Sheet::load(group + u"/fehlt.md"_s));
        QCOMPARE(modificationDate(group + u"/fehlt.md"_s), distantPast());
        // Only regular files are sheets: a FIFO would block the reader, a device never ends.
        QCOMPARE(::mkfifo(QFile::encodeName(group + u"/rohr.md"_s).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, group + u"/null.md"_s));
        QVERIFY(QFile::link(u"rohr.md"_s, group + u"/zum-rohr.md"_s));
        for (const char* name : {"rohr.md", "null.md", "zum-rohr.md"}) {
            const QString path = group + u'/' + QString::fromUtf8(name);
            QVERIFY(!Sheet::load(path) && !files::readBytes(path));
            QVERIFY(files::version(path).hash.isEmpty());
        }
    }

    // What is no UTF-8 in a file name survives the trip through a QString
    // path and reaches the very file it came from.
    void namesThatAreNoUtf8() {
        for (const QByteArray& name : {QByteArray("Br\xF6tchen.md"), QByteArray("\xED\xB3\xB6\xC3"),
                                       QByteArray("ok \xF0\x9F\x98\x80 \xC3\xA4\xFF")}) {
            const QString decoded = files::decodeName(name);
            QCOMPARE(files::encodeName(decoded), name);
            QVERIFY(!files::displayName(decoded).contains(QChar(0xDCF6)));
        }
        QCOMPARE(files::displayName(files::decodeName("a\xF6\xF0\x9F\x98\x80")), u"a\uFFFD😀"_s);
        const QByteArray raw = QFile::encodeName(m_dir->path()) + "/Br\xF6tchen.md";
        const QString path = files::decodeName(raw);
        QVERIFY(files::writeNewAtomically(path, "neu"));
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QVERIFY(files::writeAtomically(path, "#") && files::stamp(path).exists);
        QCOMPARE(*files::readBytes(path), QByteArray("#"));
        // Listed under its own bytes; "#" alone leaves the name, shown with a
        // replacement character, as the title.
        const QList<Sheet> listed = library::readSheets(m_dir->path());
        QVERIFY(listed.size() == 1 && listed[0].title == u"Br\uFFFDtchen");
        QCOMPARE(files::encodeName(listed[0].path()), raw);
        QCOMPARE(files::encodeName(listed[0].url.toLocalFile()), raw);
        QCOMPARE(files::firstFreeName(m_dir->path(), files::decodeName("Br\xF6tchen"), u"md"_s),
                 files::decodeName("Br\xF6tchen-1.md"));
        // One file, under its own name; nothing under the replaced one.
        QCOMPARE(::unlink(raw.constData()), 0);
        QCOMPARE(fileCount(), 0);
    }

    void firstStartBootstrap() {
        const QString root = at(u"Bibliothek/Orvik"_s);
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
        QVERIFY(library::readGroups(u"/nonexistent/orvik"_s).isEmpty());
    }

    void newFilesAndMovesNeverReplace() {
        const QString path = at(u"a (extern geändert 2026-12-06 143005).md"_s);
        QVERIFY(files::writeNewAtomically(path, "neu"));
        // Readable like any other sheet (the umask decides), not private to us.
        const mode_t mask = ::umask(022);
        ::umask(mask);
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
        QVERIFY(!files::writeNewAtomically(path, "noch neuer"));
        QCOMPARE(test::readBytes(path), QByteArray("neu"));
        // Not even through a link that points nowhere yet.
        QVERIFY(QFile::link(at(u"ziel.md"_s), at(u"zeiger.md"_s)));
        QVERIFY(!files::writeNewAtomically(at(u"zeiger.md"_s), "x"));
        QVERIFY(!QFileInfo::exists(at(u"ziel.md"_s)));
        QCOMPARE(fileCount(), 2);
        // A rescued text: its folder made when needed, the title made one
        // harmless name, a second text of that moment beside the first.
        const QString rescued = at(u"Gerettet"_s);
        const QDateTime when(QDate(2026, 12, 7), QTime(3, 45, 12));
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"eins"_s, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512.md"_s);
        QCOMPARE(rescue::keep(rescued, u"..Ein/Aus"_s, u"zwei"_s, when),
                 rescued + u"/Ein-Aus 2026-12-07 034512-1.md"_s);
        QCOMPARE(test::readBytes(rescued + u"/Ein-Aus 2026-12-07 034512.md"_s), QByteArray("eins"));
        // Moves never replace either, not even through the link.
        QVERIFY(test::writeBytes(at(u"a.md"_s), "A") && test::writeBytes(at(u"b.md"_s), "B"));
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"b.md"_s)), files::MoveResult::Taken);
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"zeiger.md"_s)), files::MoveResult::Taken);
        QCOMPARE(test::readBytes(at(u"a.md"_s)) + test::readBytes(at(u"b.md"_s)), "AB");
        QCOMPARE(files::moveToFreeName(at(u"a.md"_s), m_dir->path(), u"b"_s, u"md"_s),
                 at(u"b-1.md"_s));
        QCOMPARE(test::readBytes(at(u"b-1.md"_s)), QByteArray("A"));
        QCOMPARE(files::moveNoReplace(at(u"a.md"_s), at(u"c.md"_s)), files::MoveResult::Failed);
    }

    // A file size limit stands in for a full disk: the write fails part way
    // and leaves neither a cut-off copy nor the hidden file it went into.
    void aNewFileThatDoesNotFitLeavesNothing() {
        struct rlimit before {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &before), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = before;
        small.rlim_cur = 4;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool written = files::writeNewAtomically(at(u"a.md"_s), "mehr als vier Bytes");
        ::setrlimit(RLIMIT_FSIZE, &before);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(fileCount(), 0);
    }

    void fileVersions() {
        const QString path = at(u"a.md"_s);
        QVERIFY(!files::version(path).exists);
        QVERIFY(test::writeBytes(path, "eins"));
        const QDateTime when = QDateTime::currentDateTime().addSecs(-60);
        QVERIFY(test::setModified(path, when));
        QByteArray bytes;
        const files::FileVersion first = files::version(path, &bytes);
        QVERIFY(bytes == "eins" && first.hash == files::contentHash("eins"));
        QVERIFY(first.sameStamp(files::stamp(path)));
        // Same size and time, other content: only the hash tells.
        QVERIFY(test::writeBytes(path, "zwei") && test::setModified(path, when));
        const files::FileVersion second = files::version(path);
        QVERIFY(second.sameStamp(first) && second.hash != first.hash);
        QVERIFY(test::writeBytes(path, "drei!"));
        QVERIFY(!files::stamp(path).sameStamp(first));
    }

    void rootChoice() {
        const QString documents = QDir::homePath() + u"/Documents/Orvik"_s;
        QCOMPARE(library::chooseRoot(), documents);
        const auto chosenWith = [](const QString& value) {
            QSettings(u"Orvik"_s, u"Orvik"_s).setValue(u"OrvikLibraryPath"_s, value);
            return library::chooseRoot();
        };
        QCOMPARE(chosenWith(u"/srv/texte/"_s), u"/srv/texte"_s);
        QCOMPARE(chosenWith(QString()), documents);
        // Written by hand, a path with a comma reads back as a list.
        const QString conf = QSettings(u"Orvik"_s, u"Orvik"_s).fileName();
        QVERIFY(test::writeBytes(conf, "[General]\nOrvikLibraryPath=/tmp/x/B\xC3\xBC"
                                       "cher,  alt\n"));
        QCOMPARE(library::chooseRoot(), u"/tmp/x/Bücher,  alt"_s);
        QVERIFY(QFile::remove(conf));
    }

    void generatedNamesFitOneFileName() {
        const QString tag = u" (extern geändert 2026-12-06 143005)"_s; // 37 bytes
        // An accented e of two characters (three bytes) is never split.
        const QString e = u"e\u0301"_s;
        for (const QString& counter : {QString(), u"-1"_s}) {
            const QString name = files::firstFreeName(m_dir->path(), e.repeated(80), u"md"_s, tag);
            QCOMPARE(name, e.repeated(71) + tag + counter + u".md"_s);
            QVERIFY(test::writeBytes(at(name), ""));
        }
        for (const QString& copy : {u"Einkauf.md"_s, u"Einkauf 2.md"_s, u"Einkauf 3.md"_s}) {
            QCOMPARE(files::firstFreeCopyName(m_dir->path(), u"Einkauf"_s, u"md"_s), copy);
            QVERIFY(test::writeBytes(at(copy), ""));
        }
    }
};

ORVIK_TEST_MAIN(TestLibrary)
#include "tst_library.moc"
