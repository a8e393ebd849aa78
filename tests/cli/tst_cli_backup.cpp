#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <unistd.h>

// `orvik backup` tells a failed snapshot from an unchanged library. Permissions
// stop no root: as root the command runs as the unprivileged user nobody, on
// files handed over to it.
class TestCliBackup : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;
    const bool m_root = ::geteuid() == 0;

    QString home() const { return m_home->path(); }
    QString lib() const { return home() + u"/Texte"_qs; }
    QString backups() const { return home() + u"/.local/share/Orvik/Backups"_qs; }

    struct Result {
        int code = -1;
        QString out;
        QString err;
        QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
    };

    Result orvik(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(home());
        p.setProcessEnvironment(env);
        QStringList command{QStringLiteral(ORVIK_BINARY), u"--library"_qs, lib()};
        command += args;
        if (m_root)
            command = QStringList{u"--reuid=65534"_qs, u"--regid=65534"_qs, u"--clear-groups"_qs} +
                      command;
        p.start(m_root ? u"setpriv"_qs : command.takeFirst(), command);
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            qWarning("orvik %s did not finish", qPrintable(args.join(u' ')));
            return {};
        }
        if (p.exitStatus() != QProcess::NormalExit)
            return {};
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    // Everything in the home belongs to whoever runs orvik.
    bool handOver() {
        return !m_root ||
               QProcess::execute(u"chown"_qs, {u"-R"_qs, u"65534:65534"_qs, home()}) == 0;
    }

    static bool setMode(const QString& path, QFile::Permissions permissions) {
        return QFile::setPermissions(path, permissions);
    }

    static constexpr QFile::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner |
                                                   QFile::ReadGroup | QFile::ExeGroup |
                                                   QFile::ReadOther | QFile::ExeOther;
    static constexpr QFile::Permissions writable = readOnly | QFile::WriteOwner;

private Q_SLOTS:
    void init() {
        m_home.emplace();
        QVERIFY(m_home->isValid());
        QVERIFY(setMode(home(), writable));
        for (const auto& group :
             {u"Ideen"_qs, u"Projekte"_qs, u"Tagebuch"_qs, u"Schnelle Notiz"_qs})
            QVERIFY(QDir().mkpath(lib() + u'/' + group));
        QVERIFY(orvik::test::writeBytes(lib() + u"/Ideen/a.md"_qs, "a"));
        QVERIFY(QDir().mkpath(home() + u"/.local/share"_qs));
        QVERIFY(handOver());
    }

    void madeAndUnchanged() {
        const Result made = orvik({u"backup"_qs});
        QCOMPARE(made.code, 0);
        QVERIFY2(made.out.startsWith(u"Sicherung angelegt: "_qs + backups()), qPrintable(made.out));
        const Result unchanged = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(unchanged.code, 0);
        QVERIFY(unchanged.json().value(u"snapshot"_qs).isNull());
        QVERIFY(orvik({u"backup"_qs}).out.contains(u"Nichts geändert"_qs));
    }

    void anUnwritableBackupFolderFailsUntilItIsWritable() {
        const QString data = home() + u"/.local/share"_qs;
        QVERIFY(setMode(data, readOnly));
        const Result noFolder = orvik({u"backup"_qs});
        QCOMPARE(noFolder.code, 1);
        QVERIFY2(noFolder.err.contains(u"Sicherungsordner"_qs), qPrintable(noFolder.err));
        QVERIFY(!noFolder.out.contains(u"Nichts geändert"_qs));

        QVERIFY(setMode(data, writable));
        QVERIFY(QDir().mkpath(backups()));
        QVERIFY(handOver());
        QVERIFY(setMode(backups(), readOnly));
        const Result refused = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.out.isEmpty());
        QVERIFY2(refused.err.contains(backups()), qPrintable(refused.err));
        QVERIFY(QDir(backups()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        QVERIFY(setMode(backups(), writable));
        const Result made = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(made.code, 0);
        QVERIFY(
            QFileInfo::exists(made.json().value(u"snapshot"_qs).toString() + u"/Ideen/a.md"_qs));
    }

    void anUnreadableSheetIsNamedAndRetried() {
        QCOMPARE(orvik({u"backup"_qs}).code, 0);
        const QString secret = lib() + u"/Projekte/geheim.md"_qs;
        QVERIFY(orvik::test::writeBytes(secret, "geheim"));
        QVERIFY(handOver());
        QVERIFY(setMode(secret, {}));

        const Result partial = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(partial.code, 1);
        QCOMPARE(partial.json().value(u"failed"_qs).toArray(),
                 QJsonArray{u"Projekte/geheim.md"_qs});
        const QString incomplete = partial.json().value(u"snapshot"_qs).toString();
        QVERIFY(QFileInfo::exists(incomplete + u"/Ideen/a.md"_qs));
        QVERIFY(!QFileInfo::exists(incomplete + u"/Projekte/geheim.md"_qs));
        QVERIFY2(partial.err.contains(u"„Projekte/geheim.md“"_qs), qPrintable(partial.err));

        // Only the permission changed, which no fingerprint sees.
        QVERIFY(setMode(secret, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const Result whole = orvik({u"backup"_qs, u"--json"_qs});
        QCOMPARE(whole.code, 0);
        const QString snapshot = whole.json().value(u"snapshot"_qs).toString();
        QVERIFY(snapshot != incomplete);
        QCOMPARE(orvik::test::readBytes(snapshot + u"/Projekte/geheim.md"_qs), "geheim");
        QCOMPARE(orvik({u"backup"_qs}).code, 0);
    }
};

ORVIK_TEST_MAIN(TestCliBackup)
#include "tst_cli_backup.moc"
