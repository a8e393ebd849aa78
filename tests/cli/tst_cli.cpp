#include "orvikrun.h"

#include "search/searchindex.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <array>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using orvik::test::Run;
using orvik::test::writeBytes;

// The built binary as scripts and users run it, in a home of its own.
class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString home(const QString& sub) const { return m_home.path() + u'/' + sub; }
    QString lib(const QString& sub = {}) const { return home(u"Texte"_s) + sub; }

    // The arguments of `line` split at spaces, then `more` as they are.
    Run orvik(const QString& line, const QStringList& more = {}, bool withLibrary = true) {
        QStringList command{QStringLiteral(ORVIK_BINARY)};
        if (withLibrary)
            command << u"--library"_s << lib();
        return orvik::test::run(command + line.split(u' ', Qt::SkipEmptyParts) + more,
                                m_home.path());
    }

private Q_SLOTS:
    void init() {
        QDir(lib()).removeRecursively();
        QCOMPARE(orvik(u"groups"_s).code, 0);
    }

    void usage() {
        const Run version = orvik(u"--version"_s, {}, false);
        QVERIFY(version.code == 0 && version.out.startsWith("orvik 0."));
        const Run help = orvik(u"--help"_s);
        QVERIFY(help.code == 0 && help.out.contains("delete-forever"));
        for (const QString& wrong :
             {u"zaubern"_s, u"sheets"_s, u"groups x"_s, u"--fliegen groups"_s,
              u"groups --group Ideen"_s, u"search x --group"_s}) {
            const Run r = orvik(wrong);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(u"orvik --help"_s) && r.out.isEmpty(), qPrintable(r.err));
        }
    }

    void groupsAndSheetsOfAFreshLibrary() {
        const Run groups = orvik(u"groups --json"_s);
        QCOMPARE(groups.code, 0);
        QCOMPARE(groups.field(u"kind"_s).join(u' '), u"quick ideas projects diary trash"_s);
        QCOMPARE(groups.field(u"name"_s).last(), u"Papierkorb"_s);
        QCOMPARE(groups.field(u"path"_s).last(), lib(u"/.Papierkorb"_s));

        const QJsonObject welcome = orvik(u"--json sheets Ideen"_s).json()[0].toObject();
        QCOMPARE(welcome[u"path"_s].toString(), lib(u"/Ideen/willkommen.md"_s));
        QCOMPARE(welcome[u"title"_s].toString(), u"Willkommen bei Orvik"_s);
        QVERIFY(welcome[u"preview"_s].toString().endsWith(u"Tagebuch."_s));
        QCOMPARE(welcome[u"wordCount"_s].toInt(), 81);
        const QString modified = welcome[u"modified"_s].toString();
        const QRegularExpression iso(
            u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$"_s);
        QVERIFY2(iso.match(modified).hasMatch(), qPrintable(modified));
        QVERIFY(orvik(u"sheets Ideen"_s).text().contains(u"81 Wörter"_s));
        const Run missing = orvik(u"sheets Nirgends"_s);
        QVERIFY(missing.code == 1 && missing.err.contains(u"gibt es nicht"_s));
        // Without --library: the library in Documents.
        QCOMPARE(orvik(u"groups --json"_s, {}, false).field(u"path"_s).first(),
                 home(u"Documents/Orvik/Schnelle Notiz"_s));
    }

    // Guards against turning a folder of other things into a library unasked.
    void aFolderOfOtherThingsBecomesALibraryOnlyByInit() {
        const QString other = home(u"Meine Sachen"_s);
        QVERIFY(QDir().mkpath(other + u"/Projekte"_s));
        QVERIFY(writeBytes(other + u"/liste.txt"_s, "x"));
        const QStringList before = QDir(other).entryList(QDir::AllEntries | QDir::Hidden);
        for (const QString& command : {u"groups"_s, u"--json"_s, u"sheets Ideen"_s}) {
            const Run r = orvik(u"--library"_s, QStringList{other} + command.split(u' '), false);
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, u"orvik: „%1“ ist keine Orvik-Bibliothek. Mit „orvik init "
                            u"--library '%1'“ wird sie eine.\n"_s.arg(other));
            QCOMPARE(QDir(other).entryList(QDir::AllEntries | QDir::Hidden), before);
        }
        QCOMPARE(orvik(u"--library"_s, {other, u"init"_s}, false).code, 0);
        const Run groups = orvik(u"--library"_s, {other, u"groups"_s, u"--json"_s}, false);
        QCOMPARE(groups.field(u"name"_s).size(), 5);
        QVERIFY(QFileInfo::exists(other + u"/liste.txt"_s));
        // An empty folder is one to make.
        QVERIFY(QDir(lib()).removeRecursively() && QDir().mkpath(lib()));
        QCOMPARE(orvik(u"groups"_s).code, 0);
        QVERIFY(QFileInfo(lib(u"/Ideen"_s)).isDir());
    }

    void search() {
        QVERIFY(
            writeBytes(lib(u"/Projekte/reise.md"_s), "# Reise\n\nÜber die Alpen, über den Pass"));
        QVERIFY(writeBytes(lib(u"/.Papierkorb/alt.md"_s), "uber alles"));
        const Run all = orvik(u"search uber --json"_s);
        // The welcome sheet speaks of an "Überschrift" once; the trash is not searched.
        QCOMPARE(all.field(u"path"_s),
                 (QStringList{lib(u"/Projekte/reise.md"_s), lib(u"/Ideen/willkommen.md"_s)}));
        const QJsonValue hit = all.json()[0];
        QCOMPARE(hit[u"count"_s].toInt(), 2);
        QCOMPARE(hit[u"title"_s].toString(), u"Reise"_s);
        QVERIFY(hit[u"snippet"_s].toString().contains(u"Über die Alpen"_s));
        QVERIFY(!hit[u"modified"_s].toString().isEmpty());
        QCOMPARE(orvik(u"search --group Papierkorb uber --json"_s).field(u"path"_s),
                 QStringList{lib(u"/.Papierkorb/alt.md"_s)});
        const Run none = orvik(u"search Zebra"_s);
        QVERIFY(none.code == 0 && none.out.contains("Keine Treffer"));
        const Run missingGroup = orvik(u"search uber --group Weg"_s);
        QVERIFY(missingGroup.code == 1 && missingGroup.err.contains(u"Die Gruppe"_s));
        // What the search program does not take, the full one answers in its own words.
        const Run usage = orvik(u"search"_s);
        QVERIFY(usage.code == 2 && usage.err.contains(u"Aufruf: orvik search"_s));
        QVERIFY(orvik(u"search --help"_s).out.contains("Volltextsuche"));

        // Two processes at once, each writing the index after its answer: it stays whole and
        // private, and answers as the files do.
        QVERIFY(writeBytes(lib(u"/Projekte/neu.md"_s), "uber neu"));
        std::array<QProcess, 2> both;
        for (QProcess& p : both) {
            p.setProcessEnvironment(orvik::test::environmentWithHome(m_home.path()));
            p.start(QStringLiteral(ORVIK_BINARY),
                    {u"--library"_s, lib(), u"search"_s, u"uber"_s, u"--json"_s});
        }
        for (QProcess& p : both)
            QVERIFY(p.waitForFinished(60000) && p.exitCode() == 0);
        // Writing, a process holds the lock beside the index.
        const QString index = orvik::search::SearchIndex::pathFor(lib());
        const int lock = ::open(QFile::encodeName(index + u".lock"_s).constData(), O_RDWR);
        QVERIFY(lock >= 0 && ::flock(lock, LOCK_EX) == 0 && ::close(lock) == 0);
        QVERIFY(orvik::search::SearchIndex::open(index));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(index).constData(), &st) == 0 &&
                (st.st_mode & 0777) == 0600);
        QCOMPARE(orvik(u"search uber --json"_s).field(u"path"_s).size(), 3);
    }

    void trashRoundTrip() {
        const QString sheet = lib(u"/Projekte/-Notiz.md"_s);
        QVERIFY(writeBytes(sheet, "# Notiz"));
        const Run trashed = orvik(u"--json trash --"_s, {sheet});
        const QString inTrash = trashed[u"path"_s].toString();
        QCOMPARE(inTrash, lib(u"/.Papierkorb/-Notiz.md"_s));
        QCOMPARE(orvik(u"sheets Papierkorb --json"_s).field(u"title"_s), QStringList{u"Notiz"_s});
        const Run restored = orvik(u"restore --json -- -Notiz.md"_s);
        QVERIFY(restored.code == 0 && QFileInfo::exists(sheet));
        QCOMPARE(restored[u"path"_s].toString(), sheet);

        QCOMPARE(orvik(u"trash --"_s, {sheet}).code, 0);
        QCOMPARE(orvik(u"delete-forever -- -Notiz.md"_s).code, 0);
        QVERIFY(!QFileInfo::exists(inTrash));
        QVERIFY(writeBytes(lib(u"/.Papierkorb/a.md"_s), "a"));
        QCOMPARE(orvik(u"empty-trash"_s).code, 0);
        QVERIFY(QDir(lib(u"/.Papierkorb"_s)).entryList({u"*.md"_s}).isEmpty());
    }

    void conflictsListedAndResolved() {
        const QString sheet = lib(u"/Ideen/a.md"_s);
        const QString copy = lib(u"/Ideen/a.sync-conflict-20261206-143005-ABCDEFG.md"_s);
        const QString orphan = lib(u"/Projekte/b (conflicted copy 2026-12-05 101010).md"_s);
        QVERIFY(writeBytes(sheet, "# A") && writeBytes(copy, "# A drüben") &&
                writeBytes(orphan, "# B"));
        const QJsonArray listed = orvik(u"conflicts --json"_s).json().toArray();
        QCOMPARE(listed.size(), 2);
        const QJsonObject first = listed[0].toObject();
        QCOMPARE(first[u"path"_s].toString(), copy);
        QCOMPARE(first[u"original"_s].toString(), sheet);
        QCOMPARE(first[u"engine"_s].toString(), u"syncthing"_s);
        QVERIFY(first[u"date"_s].toString().startsWith(u"2026-12-06T14:30:05"_s));
        QVERIFY(listed[1][u"original"_s].isNull() && listed[1][u"engine"_s] == u"nextcloud"_s);
        QCOMPARE(orvik(u"resolve"_s, {copy}).code, 2);
        QCOMPARE(orvik(u"resolve --keep"_s, {orphan}).code, 1);
        QCOMPARE(orvik(u"resolve --take"_s, {sheet}).code, 1);
        QCOMPARE(orvik(u"resolve --take --json"_s, {copy})[u"path"_s].toString(), sheet);
        QCOMPARE(orvik(u"resolve --take"_s, {orphan}).code, 0);
        QCOMPARE(orvik::test::readBytes(sheet), "# A drüben");
        QCOMPARE(orvik::test::readBytes(lib(u"/.Papierkorb/a.md"_s)), "# A");
        QCOMPARE(orvik::test::readBytes(lib(u"/Projekte/b.md"_s)), "# B");
        const Run none = orvik(u"conflicts"_s);
        QVERIFY(none.code == 0 && none.out.contains("Keine Konfliktkopien"));
    }

    // Guards against trashing, restoring or deleting anything but the library's sheets.
    void trashRefusesWhatIsNoSheet() {
        const QString outside = home(u"draussen.md"_s), welcome = lib(u"/Ideen/willkommen.md"_s);
        QVERIFY(writeBytes(outside, "x") && writeBytes(lib(u"/Ideen/notiz.txt"_s), "x"));
        for (const QString& file :
             {outside, lib(u"/Ideen/notiz.txt"_s), lib(u"/Ideen/fehlt.md"_s)}) {
            const Run r = orvik(u"trash"_s, {file});
            QVERIFY(r.code == 1 && !r.err.isEmpty());
        }
        QVERIFY(QFileInfo::exists(outside));
        QVERIFY(writeBytes(lib(u"/.Papierkorb/eintraege.json"_s), "[]"));
        for (const QString& name :
             {u"fehlt.md"_s, u"../Ideen/willkommen.md"_s, u".."_s, u"eintraege.json"_s}) {
            QCOMPARE(orvik(u"restore"_s, {name}).code, 1);
            QCOMPARE(orvik(u"delete-forever"_s, {name}).code, 1);
        }
        QVERIFY(QFileInfo::exists(welcome) &&
                QFileInfo::exists(lib(u"/.Papierkorb/eintraege.json"_s)));

        // A trash that is a link leads elsewhere: refused, with the reason.
        QVERIFY(QDir(lib(u"/.Papierkorb"_s)).removeRecursively());
        QVERIFY(writeBytes(home(u"anderswo/fremd.md"_s), "fremd"));
        QVERIFY(QFile::link(home(u"anderswo"_s), lib(u"/.Papierkorb"_s)));
        const Run empty = orvik(u"empty-trash"_s);
        QVERIFY2(empty.code == 1 && empty.err.contains(u"Verweis"_s), qPrintable(empty.err));
        QVERIFY(QFileInfo::exists(home(u"anderswo/fremd.md"_s)));
        QCOMPARE(orvik(u"trash"_s, {welcome}).code, 1);
        QCOMPARE(orvik(u"sheets Papierkorb"_s).code, 1);
        QVERIFY(QFileInfo::exists(welcome));
    }

    // Guards the trash index against two processes trashing same-named sheets at once.
    void parallelTrashLosesNothing() {
        QStringList loops[2], expected;
        for (int i = 0; i < 40; ++i) {
            for (int g = 0; g < 2; ++g) {
                loops[g].append(lib(g ? u"/Ideen/n%1.md"_s : u"/Projekte/n%1.md"_s).arg(i));
                expected.append((g ? u"I%1"_s : u"P%1"_s).arg(i));
                QVERIFY(writeBytes(loops[g].last(), expected.last().toUtf8()));
            }
        }
        QProcess shells[2];
        for (int g = 0; g < 2; ++g) {
            shells[g].setProcessEnvironment(orvik::test::environmentWithHome(m_home.path()));
            const QString loop = u"l=$1; shift; for f; do \"$0\" --library \"$l\" trash -- \"$f\" "
                                 u">/dev/null || exit 1; done"_s;
            shells[g].start(u"sh"_s,
                            QStringList{u"-c"_s, loop, QStringLiteral(ORVIK_BINARY), lib()} +
                                loops[g]);
        }
        for (QProcess& shell : shells)
            QVERIFY(shell.waitForFinished(120000) && shell.exitCode() == 0);
        const QString trash = lib(u"/.Papierkorb/"_s);
        QStringList files = QDir(trash).entryList({u"*.md"_s}, QDir::Files), texts, entries;
        for (const QString& file : files)
            texts.append(QString::fromUtf8(orvik::test::readBytes(trash + file)));
        texts.sort();
        expected.sort();
        QCOMPARE(texts, expected);
        const QByteArray index = orvik::test::readBytes(trash + u"eintraege.json"_s);
        for (const QJsonValue& entry : QJsonDocument::fromJson(index).array())
            entries.append(entry[u"fileName"_s].toString());
        entries.sort();
        files.sort();
        QCOMPARE(entries, files);
    }

    void movingRenamingAndDeletingGroups_data() {
        QTest::addColumn<QString>("command"); // arguments split at "|"
        QTest::addColumn<QString>("extra");   // a file made first
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("answer"); // the path printed, or part of the message
        const auto row = [](const char* name, const QString& command, const QString& extra,
                            int code, const QString& answer) {
            QTest::newRow(name) << command << extra << code << answer;
        };
        row("move", u"move|/Ideen/a.md|Projekte"_s, QString(), 0, u"/Projekte/a-1.md"_s);
        row("move, name free", u"move|/Ideen/a.md|Rezepte"_s, QString(), 0, u"/Rezepte/a.md"_s);
        row("move, no file", u"move|/Ideen/fehlt.md|Projekte"_s, QString(), 1,
            u"Die Datei „%1/Ideen/fehlt.md“ gibt es nicht."_s);
        row("move, no group", u"move|/Ideen/a.md|Nirgends"_s, QString(), 1,
            u"Die Gruppe „Nirgends“ gibt es nicht."_s);
        row("move, trash", u"move|/Ideen/a.md|Papierkorb"_s, QString(), 1, u"orvik trash"_s);
        row("move, outside", u"move|/../draussen.md|Ideen"_s, u"/../draussen.md"_s, 1,
            u"kein Blatt"_s);
        row("rename", u"rename-group|Rezepte| Küche "_s, QString(), 0, u"/Küche"_s);
        row("rename, taken", u"rename-group|Rezepte|Projekte"_s, QString(), 1,
            u"Eine Gruppe „Projekte“ gibt es schon."_s);
        row("rename, path", u"rename-group|Rezepte|../weg"_s, QString(), 1,
            u"„../weg“ kann keine Gruppe heißen."_s);
        row("rename, standard", u"rename-group|Ideen|Einfälle"_s, QString(), 1,
            u"„Ideen“ gehört zu den festen Gruppen"_s);
        row("rename, no group", u"rename-group|Nirgends|X"_s, QString(), 1, u"gibt es nicht"_s);
        row("delete", u"delete-group|Rezepte"_s, QString(), 0, u"/Rezepte"_s);
        row("delete, kept", u"delete-group|Rezepte"_s, u"/Rezepte/liste.txt"_s, 1,
            u"darin liegt noch: „liste.txt“."_s);
        row("delete, standard", u"delete-group|Tagebuch"_s, QString(), 1, u"festen Gruppen"_s);
        row("delete, trash", u"delete-group|Papierkorb"_s, QString(), 1, u"festen Gruppen"_s);
    }
    // Guards the commands' contracts: the new path printed, a German reason and exit 1.
    void movingRenamingAndDeletingGroups() {
        QFETCH(QString, command);
        QFETCH(QString, extra);
        QFETCH(int, code);
        QFETCH(QString, answer);
        QVERIFY(writeBytes(lib(u"/Ideen/a.md"_s), "# A") &&
                writeBytes(lib(u"/Projekte/a.md"_s), "x"));
        QVERIFY(writeBytes(lib(u"/Rezepte/r.md"_s), "# R"));
        const QDateTime aWhen = QFileInfo(lib(u"/Ideen/a.md"_s)).lastModified();
        if (!extra.isEmpty())
            QVERIFY(writeBytes(lib(extra), "x"));
        QStringList args = command.split(u'|');
        if (args[0] == u"move")
            args[1] = lib(args[1]);
        const Run r = orvik(u"--json"_s, args);
        QCOMPARE(r.code, code);
        if (code != 0) {
            QVERIFY2(r.out.isEmpty() && r.err.contains(QString(answer).replace(u"%1"_s, lib())),
                     qPrintable(r.err));
            QVERIFY(QFileInfo::exists(lib(u"/Ideen/a.md"_s)) &&
                    QFileInfo::exists(lib(u"/Projekte/a.md"_s)));
            // A group kept by another file gave its sheets to the trash all the same.
            QCOMPARE(QFileInfo::exists(lib(u"/Rezepte/r.md"_s)), !extra.endsWith(u".txt"_s));
            return;
        }
        const QString path = r[u"path"_s].toString();
        QCOMPARE(path, lib(answer));
        if (args[0] == u"delete-group") {
            QVERIFY(!QFileInfo::exists(path));
            QCOMPARE(orvik::test::readBytes(lib(u"/.Papierkorb/r.md"_s)), "# R");
        } else if (args[0] == u"move") {
            QCOMPARE(orvik::test::readBytes(path), "# A");
            QCOMPARE(QFileInfo(path).lastModified(), aWhen);
        } else {
            QCOMPARE(orvik::test::readBytes(path + u"/r.md"_s), "# R");
        }
    }

    void newSheetsAndGroups() {
        // No network in tests: the diary's context is switched off.
        QVERIFY(writeBytes(home(u".config/Orvik/Orvik.conf"_s),
                           "[General]\nOrvikIncludeWeather=false\nOrvikIncludeNews=false\n"));
        const QString quick = orvik(u"new --json"_s)[u"path"_s].toString();
        QVERIFY2(quick.startsWith(lib(u"/Schnelle Notiz/"_s)), qPrintable(quick));
        QCOMPARE(orvik::test::readBytes(quick), QByteArray("#\n\n"));
        // Written before the command returned: the loading block is gone.
        const QString diary =
            orvik(u"new --template Tagebucheintrag"_s).text().section(u": "_s, 1).trimmed();
        QVERIFY2(diary.startsWith(lib(u"/Tagebuch/"_s)), qPrintable(diary));
        QVERIFY(orvik::test::readBytes(diary).endsWith(
            "---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"));

        QCOMPARE(orvik(u"new-group"_s, {u"  Reisen "_s, u"--json"_s})[u"path"_s].toString(),
                 lib(u"/Reisen"_s));
        const Run idea = orvik(u"new --group=Reisen --template Projektidee --json"_s);
        QVERIFY(
            orvik::test::readBytes(idea[u"path"_s].toString()).startsWith("#\n\n**Angelegt:**"));
        for (const QString& failing :
             {u"new-group|../draussen"_s, u"new-group|  "_s, u"new-group|Papierkorb"_s,
              u"new-group|PAPIERKORB "_s, u"new|--template|Quatsch"_s, u"new|--group|Weg"_s}) {
            const Run r = orvik({}, failing.split(u'|'));
            QVERIFY2(r.code == 1 && !r.err.isEmpty(), qPrintable(failing));
        }
        QVERIFY(!QFileInfo::exists(home(u"draussen"_s)));
        QVERIFY(QDir(lib()).entryList({u"papierkorb"_s}, QDir::Dirs).isEmpty());
        // One made by hand does not hide the trash.
        QVERIFY(QDir(lib()).mkdir(u"Papierkorb"_s));
        QVERIFY(writeBytes(lib(u"/.Papierkorb/alt.md"_s), "# Alt"));
        QCOMPARE(orvik(u"sheets Papierkorb --json"_s).field(u"path"_s),
                 QStringList{lib(u"/.Papierkorb/alt.md"_s)});
    }
};

ORVIK_TEST_MAIN(TestCli)
#include "tst_cli.moc"
