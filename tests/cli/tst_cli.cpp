#include "testenv.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

// Runs the built `orvik` binary as scripts and users do, in a home of its own.
class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib() const { return m_home.path() + u"/Texte"_s; }

    struct Result {
        int code = -1;
        QByteArray out;
        QString err;
        QJsonValue json() const {
            QJsonParseError error;
            const QJsonDocument doc = QJsonDocument::fromJson(out, &error);
            if (error.error != QJsonParseError::NoError)
                qWarning("not JSON: %s", out.constData());
            return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        }
    };

    Result orvik(const QStringList& args, bool withLibrary = true) {
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVIK_BINARY),
                withLibrary ? QStringList{u"--library"_s, lib()} + args : args);
        if (!p.waitForFinished(60000))
            qFatal("orvik did not finish");
        return {p.exitCode(), p.readAllStandardOutput(),
                QString::fromUtf8(p.readAllStandardError())};
    }

    static QStringList field(const QJsonValue& array, const QString& key) {
        QStringList list;
        for (const QJsonValue& v : array.toArray())
            list.append(v.toObject().value(key).toVariant().toString());
        return list;
    }

private Q_SLOTS:
    void init() {
        QDir(lib()).removeRecursively();
        QDir(m_home.path() + u"/.local"_s).removeRecursively();
    }

    void usage() {
        const Result version = orvik({u"--version"_s}, false);
        QCOMPARE(version.code, 0);
        QVERIFY(version.out.startsWith("orvik 0."));
        const Result help = orvik({u"--help"_s});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains("delete-forever"));
        for (const QStringList& wrong : {QStringList{u"zaubern"_s},
                                         {u"sheets"_s},
                                         {u"groups"_s, u"x"_s},
                                         {u"--fliegen"_s, u"groups"_s},
                                         {u"groups"_s, u"--group"_s, u"Ideen"_s},
                                         {u"search"_s, u"x"_s, u"--group"_s}}) {
            const Result r = orvik(wrong);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(u"orvik --help"_s), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
    }

    void groupsAndSheetsOfAFreshLibrary() {
        const Result groups = orvik({u"groups"_s, u"--json"_s});
        QCOMPARE(groups.code, 0);
        QCOMPARE(field(groups.json(), u"name"_s),
                 (QStringList{u"Schnelle Notiz"_s, u"Ideen"_s, u"Projekte"_s, u"Tagebuch"_s,
                              u"Papierkorb"_s}));
        QCOMPARE(field(groups.json(), u"kind"_s),
                 (QStringList{u"quick"_s, u"ideas"_s, u"projects"_s, u"diary"_s, u"trash"_s}));
        QCOMPARE(field(groups.json(), u"path"_s).last(), lib() + u"/.Papierkorb"_s);

        const Result sheets = orvik({u"--json"_s, u"sheets"_s, u"Ideen"_s});
        QCOMPARE(sheets.code, 0);
        const QJsonObject welcome = sheets.json().toArray().first().toObject();
        QCOMPARE(welcome.value(u"path"_s).toString(), lib() + u"/Ideen/willkommen.md"_s);
        QCOMPARE(welcome.value(u"title"_s).toString(), u"Willkommen bei Orvik"_s);
        QVERIFY(welcome.value(u"preview"_s).toString().endsWith(u"Tagebuch."_s));
        QCOMPARE(welcome.value(u"wordCount"_s).toInt(), 81);
        static const QRegularExpression iso(
            u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$"_s);
        QVERIFY2(iso.match(welcome.value(u"modified"_s).toString()).hasMatch(),
                 qPrintable(welcome.value(u"modified"_s).toString()));

        const Result text = orvik({u"sheets"_s, u"Ideen"_s});
        QVERIFY(QString::fromUtf8(text.out).contains(u"81 Wörter"_s));
        const Result missing = orvik({u"sheets"_s, u"Nirgends"_s});
        QCOMPARE(missing.code, 1);
        QVERIFY(missing.err.contains(u"gibt es nicht"_s));
    }

    void defaultLibraryIsInDocuments() {
        QDir(m_home.path() + u"/Documents"_s).removeRecursively();
        const Result groups = orvik({u"groups"_s, u"--json"_s}, false);
        QCOMPARE(groups.code, 0);
        QCOMPARE(field(groups.json(), u"path"_s).first(),
                 m_home.path() + u"/Documents/Orvik/Schnelle Notiz"_s);
    }

    // Only a library, a folder yet to be made or an empty one is opened as a
    // library; `init` makes any folder one.
    void aFolderOfOtherThingsBecomesALibraryOnlyByInit() {
        const QString home = m_home.path() + u"/Meine Sachen"_s;
        QDir(home).removeRecursively();
        QVERIFY(QDir().mkpath(home + u"/Projekte"_s));
        QVERIFY(orvik::test::writeBytes(home + u"/liste.txt"_s, "x"));
        const QStringList before = QDir(home).entryList(QDir::AllEntries | QDir::Hidden);
        for (const QStringList& command :
             {QStringList{u"groups"_s}, {u"--json"_s}, {u"sheets"_s, u"Ideen"_s}}) {
            const Result r = orvik(QStringList{u"--library"_s, home} + command, false);
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, u"orvik: \u201E"_s + home +
                                u"\u201C ist keine Orvik-Bibliothek. Mit \u201Eorvik init "
                                u"--library '"_s +
                                home + u"'\u201C wird sie eine.\n"_s);
            QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden), before);
        }
        QCOMPARE(orvik({u"--library"_s, home, u"init"_s}, false).code, 0);
        QCOMPARE(
            field(orvik({u"--library"_s, home, u"groups"_s, u"--json"_s}, false).json(), u"name"_s)
                .size(),
            5);
        QVERIFY(QFileInfo::exists(home + u"/liste.txt"_s));

        QVERIFY(QDir().mkpath(lib()));
        QCOMPARE(orvik({u"groups"_s}).code, 0);
        QVERIFY(QFileInfo(lib() + u"/Ideen"_s).isDir());
    }

    void search() {
        orvik({u"groups"_s});
        QVERIFY(orvik::test::writeBytes(lib() + u"/Projekte/reise.md"_s,
                                        "# Reise\n\nÜber die Alpen, über den Pass.\n"));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/alt.md"_s, "uber alles"));
        const Result all = orvik({u"search"_s, u"uber"_s, u"--json"_s});
        QCOMPARE(all.code, 0);
        const QJsonArray hits = all.json().toArray();
        // The welcome sheet speaks of an "Überschrift" once; the trash is not searched.
        QCOMPARE(field(hits, u"path"_s),
                 (QStringList{lib() + u"/Projekte/reise.md"_s, lib() + u"/Ideen/willkommen.md"_s}));
        QCOMPARE(hits[0][u"count"_s].toInt(), 2);
        QCOMPARE(hits[0][u"title"_s].toString(), u"Reise"_s);
        QVERIFY(hits[0][u"snippet"_s].toString().contains(u"Über die Alpen"_s));
        QVERIFY(!hits[0][u"modified"_s].toString().isEmpty());

        const Result inTrash =
            orvik({u"search"_s, u"--group"_s, u"Papierkorb"_s, u"uber"_s, u"--json"_s});
        QCOMPARE(field(inTrash.json(), u"path"_s), QStringList{lib() + u"/.Papierkorb/alt.md"_s});
        const Result none = orvik({u"search"_s, u"Zebra"_s});
        QCOMPARE(none.code, 0);
        QVERIFY(none.out.contains("Keine Treffer"));
        QCOMPARE(orvik({u"search"_s, u"uber"_s, u"--group"_s, u"Weg"_s}).code, 1);
    }

    void trashRoundTrip() {
        orvik({u"groups"_s});
        const QString sheet = lib() + u"/Projekte/-Notiz.md"_s;
        QVERIFY(orvik::test::writeBytes(sheet, "# Notiz"));
        const Result trashed = orvik({u"--json"_s, u"trash"_s, u"--"_s, sheet});
        QCOMPARE(trashed.code, 0);
        const QString inTrash = trashed.json()[u"path"_s].toString();
        QCOMPARE(inTrash, lib() + u"/.Papierkorb/-Notiz.md"_s);
        QCOMPARE(field(orvik({u"sheets"_s, u"Papierkorb"_s, u"--json"_s}).json(), u"title"_s),
                 QStringList{u"Notiz"_s});

        const Result restored = orvik({u"restore"_s, u"--json"_s, u"--"_s, u"-Notiz.md"_s});
        QCOMPARE(restored.code, 0);
        QCOMPARE(restored.json()[u"path"_s].toString(), sheet);
        QVERIFY(QFileInfo::exists(sheet));

        QCOMPARE(orvik({u"trash"_s, u"--"_s, sheet}).code, 0);
        const Result gone = orvik({u"delete-forever"_s, u"--"_s, u"-Notiz.md"_s});
        QCOMPARE(gone.code, 0);
        QVERIFY(!QFileInfo::exists(inTrash));

        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/a.md"_s, "a"));
        QCOMPARE(orvik({u"empty-trash"_s}).code, 0);
        QVERIFY(QDir(lib() + u"/.Papierkorb"_s).entryList({u"*.md"_s}).isEmpty());
    }

    void trashRefusesWhatIsNoSheet() {
        orvik({u"groups"_s});
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/draussen.md"_s, "x"));
        QVERIFY(orvik::test::writeBytes(lib() + u"/Ideen/notiz.txt"_s, "x"));
        for (const QString& file : {m_home.path() + u"/draussen.md"_s,
                                    lib() + u"/Ideen/notiz.txt"_s, lib() + u"/Ideen/fehlt.md"_s}) {
            const Result r = orvik({u"trash"_s, file});
            QCOMPARE(r.code, 1);
            QVERIFY(!r.err.isEmpty());
        }
        QVERIFY(QFileInfo::exists(m_home.path() + u"/draussen.md"_s));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/eintraege.json"_s, "[]"));
        for (const QString& name :
             {u"fehlt.md"_s, u"../Ideen/willkommen.md"_s, u".."_s, u"eintraege.json"_s}) {
            QCOMPARE(orvik({u"restore"_s, name}).code, 1);
            QCOMPARE(orvik({u"delete-forever"_s, name}).code, 1);
        }
        QVERIFY(QFileInfo::exists(lib() + u"/Ideen/willkommen.md"_s));
        QVERIFY(QFileInfo::exists(lib() + u"/.Papierkorb/eintraege.json"_s));

        // A trash that is a link leads elsewhere: refused, with the reason.
        QVERIFY(QDir(lib() + u"/.Papierkorb"_s).removeRecursively());
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/anderswo/fremd.md"_s, "fremd"));
        QVERIFY(QFile::link(m_home.path() + u"/anderswo"_s, lib() + u"/.Papierkorb"_s));
        const Result empty = orvik({u"empty-trash"_s});
        QCOMPARE(empty.code, 1);
        QVERIFY2(empty.err.contains(u"Verweis"_s), qPrintable(empty.err));
        QVERIFY(QFileInfo::exists(m_home.path() + u"/anderswo/fremd.md"_s));
        QCOMPARE(orvik({u"trash"_s, lib() + u"/Ideen/willkommen.md"_s}).code, 1);
        QCOMPARE(orvik({u"sheets"_s, u"Papierkorb"_s}).code, 1);
        QVERIFY(QFileInfo::exists(lib() + u"/Ideen/willkommen.md"_s));
    }

    void parallelTrashLosesNothing() {
        // Two loops of trash calls at once, over sheets of the same names in two
        // groups: every text and every index entry must survive.
        orvik({u"groups"_s});
        constexpr int perLoop = 40;
        QStringList loops[2];
        QStringList expected;
        for (int i = 0; i < perLoop; ++i) {
            for (int g = 0; g < 2; ++g) {
                const QString path =
                    lib() + (g ? u"/Ideen"_s : u"/Projekte"_s) + u"/n%1.md"_s.arg(i);
                expected.append((g ? u"I%1"_s : u"P%1"_s).arg(i));
                QVERIFY(orvik::test::writeBytes(path, expected.last().toUtf8()));
                loops[g].append(path);
            }
        }
        QProcess shells[2];
        for (int g = 0; g < 2; ++g) {
            shells[g].setProcessEnvironment(orvik::test::environmentWithHome(m_home.path()));
            shells[g].start(
                u"/bin/sh"_s,
                QStringList{u"-c"_s,
                            u"o=$1; l=$2; shift 2; for f; do "
                            u"\"$o\" --library \"$l\" trash -- \"$f\" >/dev/null || exit 1; "
                            u"done"_s,
                            u"sh"_s, QStringLiteral(ORVIK_BINARY), lib()} +
                    loops[g]);
        }
        for (QProcess& shell : shells) {
            QVERIFY(shell.waitForFinished(120000));
            QCOMPARE(shell.exitCode(), 0);
        }
        const QString trash = lib() + u"/.Papierkorb/"_s;
        QStringList files = QDir(trash).entryList({u"*.md"_s}, QDir::Files);
        files.sort();
        QStringList texts;
        for (const QString& file : files)
            texts.append(QString::fromUtf8(orvik::test::readBytes(trash + file)));
        texts.sort();
        expected.sort();
        QCOMPARE(texts, expected);
        QStringList entries = field(
            QJsonDocument::fromJson(orvik::test::readBytes(trash + u"eintraege.json"_s)).array(),
            u"fileName"_s);
        entries.sort();
        QCOMPARE(entries, files);
    }

    void backups() {
        const Result first = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(first.code, 0);
        const QString snapshot = first.json()[u"snapshot"_s].toString();
        QVERIFY2(snapshot.startsWith(m_home.path() + u"/.local/share/Orvik/Backups/"_s),
                 qPrintable(snapshot));
        QVERIFY(QFileInfo::exists(snapshot + u"/Ideen/willkommen.md"_s));

        const Result second = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(second.code, 0);
        QVERIFY(second.json()[u"snapshot"_s].isNull());
        QVERIFY(QString::fromUtf8(orvik({u"backup"_s}).out).contains(u"Nichts geändert"_s));

        const Result list = orvik({u"backups"_s, u"--json"_s});
        QCOMPARE(list.code, 0);
        QCOMPARE(field(list.json(), u"path"_s), QStringList{snapshot});
        QVERIFY(!list.json()[0][u"date"_s].toString().isEmpty());
    }

    void newSheetsAndGroups() {
        // No network in tests: the diary's context is switched off.
        QSettings settings(m_home.path() + u"/.config/Orvik/Orvik.conf"_s, QSettings::IniFormat);
        settings.setValue(u"OrvikIncludeWeather"_s, false);
        settings.setValue(u"OrvikIncludeNews"_s, false);
        settings.sync();

        const Result quick = orvik({u"new"_s, u"--json"_s});
        QCOMPARE(quick.code, 0);
        const QString quickPath = quick.json()[u"path"_s].toString();
        QVERIFY2(quickPath.startsWith(lib() + u"/Schnelle Notiz/"_s), qPrintable(quickPath));
        QCOMPARE(orvik::test::readBytes(quickPath), QByteArray("#\n\n"));

        const Result diary = orvik({u"new"_s, u"--template"_s, u"Tagebucheintrag"_s});
        QCOMPARE(diary.code, 0);
        const QString diaryPath = QString::fromUtf8(diary.out).section(u": "_s, 1).trimmed();
        QVERIFY2(diaryPath.startsWith(lib() + u"/Tagebuch/"_s), qPrintable(diaryPath));
        // Written before the command returned: the loading block is gone.
        QVERIFY(orvik::test::readBytes(diaryPath).endsWith(
            "---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"));

        const Result group = orvik({u"new-group"_s, u"  Reisen "_s, u"--json"_s});
        QCOMPARE(group.code, 0);
        QCOMPARE(group.json()[u"path"_s].toString(), lib() + u"/Reisen"_s);
        const Result idea =
            orvik({u"new"_s, u"--group=Reisen"_s, u"--template"_s, u"Projektidee"_s, u"--json"_s});
        QCOMPARE(idea.code, 0);
        QVERIFY(orvik::test::readBytes(idea.json()[u"path"_s].toString())
                    .startsWith("#\n\n**Angelegt:**"));

        for (const QStringList& failing : {QStringList{u"new-group"_s, u"../draussen"_s},
                                           {u"new-group"_s, u"  "_s},
                                           {u"new-group"_s, u"Papierkorb"_s},
                                           {u"new-group"_s, u"PAPIERKORB "_s},
                                           {u"new"_s, u"--template"_s, u"Quatsch"_s},
                                           {u"new"_s, u"--group"_s, u"Weg"_s}}) {
            const Result r = orvik(failing);
            QCOMPARE(r.code, 1);
            QVERIFY(!r.err.isEmpty());
        }
        QVERIFY(!QFileInfo::exists(m_home.path() + u"/draussen"_s));
        QVERIFY(QDir(lib()).entryList({u"papierkorb"_s}, QDir::Dirs).isEmpty());
        // One made by hand does not hide the trash.
        QVERIFY(QDir(lib()).mkdir(u"Papierkorb"_s));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/alt.md"_s, "# Alt"));
        QCOMPARE(field(orvik({u"sheets"_s, u"Papierkorb"_s, u"--json"_s}).json(), u"path"_s),
                 QStringList{lib() + u"/.Papierkorb/alt.md"_s});
    }

    void windowEndsInOrderOnSigterm() {
        // Without a command the window opens; a logout or kill must end it like
        // "Beenden", through the event loop, which writes a waiting save.
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        env.insert(u"ORVIK_UPDATE_FEED"_s, QString());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVIK_BINARY), {u"--library"_s, lib()});
        QVERIFY(p.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lib() + u"/.Papierkorb"_s), 20000);
        QTest::qWait(500);
        QCOMPARE(p.state(), QProcess::Running);
        p.terminate();
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
};

ORVIK_TEST_MAIN(TestCli)
#include "tst_cli.moc"
