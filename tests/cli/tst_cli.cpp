#include "testenv.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

// Runs the built `orvik` binary as scripts and users do, in a home of its own.
class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib() const { return m_home.path() + u"/Texte"_qs; }

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
                withLibrary ? QStringList{u"--library"_qs, lib()} + args : args);
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
        QDir(m_home.path() + u"/.local"_qs).removeRecursively();
    }

    void usage() {
        const Result version = orvik({u"--version"_qs}, false);
        QCOMPARE(version.code, 0);
        QVERIFY(version.out.startsWith("orvik 0."));
        const Result help = orvik({u"--help"_qs});
        QCOMPARE(help.code, 0);
        QVERIFY(help.out.contains("delete-forever"));
        for (const QStringList& wrong : {QStringList{u"zaubern"_qs},
                                         {u"sheets"_qs},
                                         {u"groups"_qs, u"x"_qs},
                                         {u"--fliegen"_qs, u"groups"_qs},
                                         {u"groups"_qs, u"--group"_qs, u"Ideen"_qs},
                                         {u"search"_qs, u"x"_qs, u"--group"_qs}}) {
            const Result r = orvik(wrong);
            QCOMPARE(r.code, 2);
            QVERIFY2(r.err.contains(u"orvik --help"_qs), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
    }

    void groupsAndSheetsOfAFreshLibrary() {
        const Result groups = orvik({u"groups"_qs, u"--json"_qs});
        QCOMPARE(groups.code, 0);
        QCOMPARE(field(groups.json(), u"name"_qs),
                 (QStringList{u"Schnelle Notiz"_qs, u"Ideen"_qs, u"Projekte"_qs, u"Tagebuch"_qs,
                              u"Papierkorb"_qs}));
        QCOMPARE(field(groups.json(), u"kind"_qs),
                 (QStringList{u"quick"_qs, u"ideas"_qs, u"projects"_qs, u"diary"_qs, u"trash"_qs}));
        QCOMPARE(field(groups.json(), u"path"_qs).last(), lib() + u"/.Papierkorb"_qs);

        const Result sheets = orvik({u"--json"_qs, u"sheets"_qs, u"Ideen"_qs});
        QCOMPARE(sheets.code, 0);
        const QJsonObject welcome = sheets.json().toArray().first().toObject();
        QCOMPARE(welcome.value(u"path"_qs).toString(), lib() + u"/Ideen/willkommen.md"_qs);
        QCOMPARE(welcome.value(u"title"_qs).toString(), u"Willkommen bei Orvik"_qs);
        QVERIFY(welcome.value(u"preview"_qs).toString().endsWith(u"Tagebuch."_qs));
        QCOMPARE(welcome.value(u"wordCount"_qs).toInt(), 81);
        static const QRegularExpression iso(
            u"^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d(Z|[+-]\\d\\d:\\d\\d)$"_qs);
        QVERIFY2(iso.match(welcome.value(u"modified"_qs).toString()).hasMatch(),
                 qPrintable(welcome.value(u"modified"_qs).toString()));

        const Result text = orvik({u"sheets"_qs, u"Ideen"_qs});
        QVERIFY(QString::fromUtf8(text.out).contains(u"81 Wörter"_qs));
        const Result missing = orvik({u"sheets"_qs, u"Nirgends"_qs});
        QCOMPARE(missing.code, 1);
        QVERIFY(missing.err.contains(u"gibt es nicht"_qs));
    }

    void defaultLibraryIsInDocuments() {
        QDir(m_home.path() + u"/Documents"_qs).removeRecursively();
        const Result groups = orvik({u"groups"_qs, u"--json"_qs}, false);
        QCOMPARE(groups.code, 0);
        QCOMPARE(field(groups.json(), u"path"_qs).first(),
                 m_home.path() + u"/Documents/Orvik/Schnelle Notiz"_qs);
    }

    // Only a library, a folder yet to be made or an empty one is opened as a
    // library; `init` makes any folder one.
    void aFolderOfOtherThingsBecomesALibraryOnlyByInit() {
        const QString home = m_home.path() + u"/Meine Sachen"_qs;
        QDir(home).removeRecursively();
        QVERIFY(QDir().mkpath(home + u"/Projekte"_qs));
        QVERIFY(orvik::test::writeBytes(home + u"/liste.txt"_qs, "x"));
        const QStringList before = QDir(home).entryList(QDir::AllEntries | QDir::Hidden);
        for (const QStringList& command :
             {QStringList{u"groups"_qs}, {u"--json"_qs}, {u"sheets"_qs, u"Ideen"_qs}}) {
            const Result r = orvik(QStringList{u"--library"_qs, home} + command, false);
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, u"orvik: \u201E"_qs + home +
                                u"\u201C ist keine Orvik-Bibliothek. Mit \u201Eorvik init "
                                u"--library '"_qs +
                                home + u"'\u201C wird sie eine.\n"_qs);
            QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden), before);
        }
        QCOMPARE(orvik({u"--library"_qs, home, u"init"_qs}, false).code, 0);
        QCOMPARE(field(orvik({u"--library"_qs, home, u"groups"_qs, u"--json"_qs}, false).json(),
                       u"name"_qs)
                     .size(),
                 5);
        QVERIFY(QFileInfo::exists(home + u"/liste.txt"_qs));

        QVERIFY(QDir().mkpath(lib()));
        QCOMPARE(orvik({u"groups"_qs}).code, 0);
        QVERIFY(QFileInfo(lib() + u"/Ideen"_qs).isDir());
    }

    void search() {
        orvik({u"groups"_qs});
        QVERIFY(orvik::test::writeBytes(lib() + u"/Projekte/reise.md"_qs,
                                        "# Reise\n\nÜber die Alpen, über den Pass.\n"));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/alt.md"_qs, "uber alles"));
        const Result all = orvik({u"search"_qs, u"uber"_qs, u"--json"_qs});
        QCOMPARE(all.code, 0);
        const QJsonArray hits = all.json().toArray();
        // The welcome sheet speaks of an "Überschrift" once; the trash is not searched.
        QCOMPARE(field(hits, u"path"_qs), (QStringList{lib() + u"/Projekte/reise.md"_qs,
                                                       lib() + u"/Ideen/willkommen.md"_qs}));
        QCOMPARE(hits[0][u"count"_qs].toInt(), 2);
        QCOMPARE(hits[0][u"title"_qs].toString(), u"Reise"_qs);
        QVERIFY(hits[0][u"snippet"_qs].toString().contains(u"Über die Alpen"_qs));
        QVERIFY(!hits[0][u"modified"_qs].toString().isEmpty());

        const Result inTrash =
            orvik({u"search"_qs, u"--group"_qs, u"Papierkorb"_qs, u"uber"_qs, u"--json"_qs});
        QCOMPARE(field(inTrash.json(), u"path"_qs), QStringList{lib() + u"/.Papierkorb/alt.md"_qs});
        const Result none = orvik({u"search"_qs, u"Zebra"_qs});
        QCOMPARE(none.code, 0);
        QVERIFY(none.out.contains("Keine Treffer"));
        QCOMPARE(orvik({u"search"_qs, u"uber"_qs, u"--group"_qs, u"Weg"_qs}).code, 1);
    }

    void trashRoundTrip() {
        orvik({u"groups"_qs});
        const QString sheet = lib() + u"/Projekte/-Notiz.md"_qs;
        QVERIFY(orvik::test::writeBytes(sheet, "# Notiz"));
        const Result trashed = orvik({u"--json"_qs, u"trash"_qs, u"--"_qs, sheet});
        QCOMPARE(trashed.code, 0);
        const QString inTrash = trashed.json()[u"path"_qs].toString();
        QCOMPARE(inTrash, lib() + u"/.Papierkorb/-Notiz.md"_qs);
        QCOMPARE(field(orvik({u"sheets"_qs, u"Papierkorb"_qs, u"--json"_qs}).json(), u"title"_qs),
                 QStringList{u"Notiz"_qs});

        const Result restored = orvik({u"restore"_qs, u"--json"_qs, u"--"_qs, u"-Notiz.md"_qs});
        QCOMPARE(restored.code, 0);
        QCOMPARE(restored.json()[u"path"_qs].toString(), sheet);
        QVERIFY(QFileInfo::exists(sheet));

        QCOMPARE(orvik({u"trash"_qs, u"--"_qs, sheet}).code, 0);
        const Result gone = orvik({u"delete-forever"_qs, u"--"_qs, u"-Notiz.md"_qs});
        QCOMPARE(gone.code, 0);
        QVERIFY(!QFileInfo::exists(inTrash));

        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/a.md"_qs, "a"));
        QCOMPARE(orvik({u"empty-trash"_qs}).code, 0);
        QVERIFY(QDir(lib() + u"/.Papierkorb"_qs).entryList({u"*.md"_qs}).isEmpty());
    }

    void trashRefusesWhatIsNoSheet() {
        orvik({u"groups"_qs});
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/draussen.md"_qs, "x"));
        QVERIFY(orvik::test::writeBytes(lib() + u"/Ideen/notiz.txt"_qs, "x"));
        for (const QString& file :
             {m_home.path() + u"/draussen.md"_qs, lib() + u"/Ideen/notiz.txt"_qs,
              lib() + u"/Ideen/fehlt.md"_qs}) {
            const Result r = orvik({u"trash"_qs, file});
            QCOMPARE(r.code, 1);
            QVERIFY(!r.err.isEmpty());
        }
        QVERIFY(QFileInfo::exists(m_home.path() + u"/draussen.md"_qs));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/eintraege.json"_qs, "[]"));
        for (const QString& name :
             {u"fehlt.md"_qs, u"../Ideen/willkommen.md"_qs, u".."_qs, u"eintraege.json"_qs}) {
            QCOMPARE(orvik({u"restore"_qs, name}).code, 1);
            QCOMPARE(orvik({u"delete-forever"_qs, name}).code, 1);
        }
        QVERIFY(QFileInfo::exists(lib() + u"/Ideen/willkommen.md"_qs));
        QVERIFY(QFileInfo::exists(lib() + u"/.Papierkorb/eintraege.json"_qs));

        // A trash that is a link leads elsewhere: refused, with the reason.
        QVERIFY(QDir(lib() + u"/.Papierkorb"_qs).removeRecursively());
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/anderswo/fremd.md"_qs, "fremd"));
        QVERIFY(QFile::link(m_home.path() + u"/anderswo"_qs, lib() + u"/.Papierkorb"_qs));
        const Result empty = orvik({u"empty-trash"_qs});
        QCOMPARE(empty.code, 1);
        QVERIFY2(empty.err.contains(u"Verweis"_qs), qPrintable(empty.err));
        QVERIFY(QFileInfo::exists(m_home.path() + u"/anderswo/fremd.md"_qs));
        QCOMPARE(orvik({u"trash"_qs, lib() + u"/Ideen/willkommen.md"_qs}).code, 1);
        QCOMPARE(orvik({u"sheets"_qs, u"Papierkorb"_qs}).code, 1);
        QVERIFY(QFileInfo::exists(lib() + u"/Ideen/willkommen.md"_qs));
    }

    void parallelTrashLosesNothing() {
        // Two loops of trash calls at once, over sheets of the same names in two
        // groups: every text and every index entry must survive.
        orvik({u"groups"_qs});
        constexpr int perLoop = 40;
        QStringList loops[2];
        QStringList expected;
        for (int i = 0; i < perLoop; ++i) {
            for (int g = 0; g < 2; ++g) {
                const QString path =
                    lib() + (g ? u"/Ideen"_qs : u"/Projekte"_qs) + u"/n%1.md"_qs.arg(i);
                expected.append((g ? u"I%1"_qs : u"P%1"_qs).arg(i));
                QVERIFY(orvik::test::writeBytes(path, expected.last().toUtf8()));
                loops[g].append(path);
            }
        }
        QProcess shells[2];
        for (int g = 0; g < 2; ++g) {
            shells[g].setProcessEnvironment(orvik::test::environmentWithHome(m_home.path()));
            shells[g].start(
                u"/bin/sh"_qs,
                QStringList{u"-c"_qs,
                            u"o=$1; l=$2; shift 2; for f; do "
                            u"\"$o\" --library \"$l\" trash -- \"$f\" >/dev/null || exit 1; "
                            u"done"_qs,
                            u"sh"_qs, QStringLiteral(ORVIK_BINARY), lib()} +
                    loops[g]);
        }
        for (QProcess& shell : shells) {
            QVERIFY(shell.waitForFinished(120000));
            QCOMPARE(shell.exitCode(), 0);
        }
        const QString trash = lib() + u"/.Papierkorb/"_qs;
        QStringList files = QDir(trash).entryList({u"*.md"_qs}, QDir::Files);
        files.sort();
        QStringList texts;
        for (const QString& file : files)
            texts.append(QString::fromUtf8(orvik::test::readBytes(trash + file)));
        texts.sort();
        expected.sort();
        QCOMPARE(texts, expected);
        QStringList entries = field(
            QJsonDocument::fromJson(orvik::test::readBytes(trash + u"eintraege.json"_qs)).array(),
            u"fileName"_qs);
        entries.sort();
        QCOMPARE(entries, files);
    }

    void backups() {
        const Result first = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(first.code, 0);
        const QString snapshot = first.json()[u"snapshot"_qs].toString();
        QVERIFY2(snapshot.startsWith(m_home.path() + u"/.local/share/Orvik/Backups/"_qs),
                 qPrintable(snapshot));
        QVERIFY(QFileInfo::exists(snapshot + u"/Ideen/willkommen.md"_qs));

        const Result second = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(second.code, 0);
        QVERIFY(second.json()[u"snapshot"_qs].isNull());
        QVERIFY(QString::fromUtf8(orvik({u"backup"_qs}).out).contains(u"Nichts geändert"_qs));

        const Result list = orvik({u"backups"_qs, u"--json"_qs});
        QCOMPARE(list.code, 0);
        QCOMPARE(field(list.json(), u"path"_qs), QStringList{snapshot});
        QVERIFY(!list.json()[0][u"date"_qs].toString().isEmpty());
    }

    void newSheetsAndGroups() {
        // No network in tests: the diary's context is switched off.
        QSettings settings(m_home.path() + u"/.config/Orvik/Orvik.conf"_qs, QSettings::IniFormat);
        settings.setValue(u"OrvikIncludeWeather"_qs, false);
        settings.setValue(u"OrvikIncludeNews"_qs, false);
        settings.sync();

        const Result quick = orvik({u"new"_qs, u"--json"_qs});
        QCOMPARE(quick.code, 0);
        const QString quickPath = quick.json()[u"path"_qs].toString();
        QVERIFY2(quickPath.startsWith(lib() + u"/Schnelle Notiz/"_qs), qPrintable(quickPath));
        QCOMPARE(orvik::test::readBytes(quickPath), QByteArray("#\n\n"));

        const Result diary = orvik({u"new"_qs, u"--template"_qs, u"Tagebucheintrag"_qs});
        QCOMPARE(diary.code, 0);
        const QString diaryPath = QString::fromUtf8(diary.out).section(u": "_qs, 1).trimmed();
        QVERIFY2(diaryPath.startsWith(lib() + u"/Tagebuch/"_qs), qPrintable(diaryPath));
        // Written before the command returned: the loading block is gone.
        QVERIFY(orvik::test::readBytes(diaryPath).endsWith(
            "---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"));

        const Result group = orvik({u"new-group"_qs, u"  Reisen "_qs, u"--json"_qs});
        QCOMPARE(group.code, 0);
        QCOMPARE(group.json()[u"path"_qs].toString(), lib() + u"/Reisen"_qs);
        const Result idea = orvik(
            {u"new"_qs, u"--group=Reisen"_qs, u"--template"_qs, u"Projektidee"_qs, u"--json"_qs});
        QCOMPARE(idea.code, 0);
        QVERIFY(orvik::test::readBytes(idea.json()[u"path"_qs].toString())
                    .startsWith("#\n\n**Angelegt:**"));

        for (const QStringList& failing : {QStringList{u"new-group"_qs, u"../draussen"_qs},
                                           {u"new-group"_qs, u"  "_qs},
                                           {u"new-group"_qs, u"Papierkorb"_qs},
                                           {u"new-group"_qs, u"PAPIERKORB "_qs},
                                           {u"new"_qs, u"--template"_qs, u"Quatsch"_qs},
                                           {u"new"_qs, u"--group"_qs, u"Weg"_qs}}) {
            const Result r = orvik(failing);
            QCOMPARE(r.code, 1);
            QVERIFY(!r.err.isEmpty());
        }
        QVERIFY(!QFileInfo::exists(m_home.path() + u"/draussen"_qs));
        QVERIFY(QDir(lib()).entryList({u"papierkorb"_qs}, QDir::Dirs).isEmpty());
        // One made by hand does not hide the trash.
        QVERIFY(QDir(lib()).mkdir(u"Papierkorb"_qs));
        QVERIFY(orvik::test::writeBytes(lib() + u"/.Papierkorb/alt.md"_qs, "# Alt"));
        QCOMPARE(field(orvik({u"sheets"_qs, u"Papierkorb"_qs, u"--json"_qs}).json(), u"path"_qs),
                 QStringList{lib() + u"/.Papierkorb/alt.md"_qs});
    }

    void windowEndsInOrderOnSigterm() {
        // Without a command the window opens; a logout or kill must end it like
        // "Beenden", through the event loop, which writes a waiting save.
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        env.insert(u"QT_QPA_PLATFORM"_qs, u"offscreen"_qs);
        env.insert(u"ORVIK_UPDATE_FEED"_qs, QString());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVIK_BINARY), {u"--library"_qs, lib()});
        QVERIFY(p.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(lib() + u"/.Papierkorb"_qs), 20000);
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
