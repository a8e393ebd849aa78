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

using namespace Qt::StringLiterals;

// `orvik backup` tells a failed snapshot from an unchanged library. Permissions
// stop no root: as root the command runs as the unprivileged user nobody, on
// files handed over to it.
class TestCliBackup : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;
    const bool m_root = ::geteuid() == 0;

    QString home() const { return m_home->path(); }
    QString lib() const { return home() + u"/Texte"_s; }
    QString backups() const { return home() + u"/.local/share/Orvik/Backups"_s; }

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
        QStringList command{QStringLiteral(ORVIK_BINARY), u"--library"_s, lib()};
        command += args;
        if (m_root)
            command =
                QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s} + command;
        p.start(m_root ? u"setpriv"_s : command.takeFirst(), command);
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
        return !m_root || QProcess::execute(u"chown"_s, {u"-R"_s, u"65534:65534"_s, home()}) == 0;
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
        for (const auto& group : {u"Ideen"_s, u"Projekte"_s, u"Tagebuch"_s, u"Schnelle Notiz"_s})
            QVERIFY(QDir().mkpath(lib() + u'/' + group));
        QVERIFY(orvik::test::writeBytes(lib() + u"/Ideen/a.md"_s, "a"));
        QVERIFY(QDir().mkpath(home() + u"/.local/share"_s));
        QVERIFY(handOver());
    }

    void madeAndUnchanged() {
        const Result made = orvik({u"backup"_s});
        QCOMPARE(made.code, 0);
        QVERIFY2(made.out.startsWith(u"Sicherung angelegt: "_s + backups()), qPrintable(made.out));
        const Result unchanged = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(unchanged.code, 0);
        QVERIFY(unchanged.json().value(u"snapshot"_s).isNull());
        QVERIFY(orvik({u"backup"_s}).out.contains(u"Nichts geändert"_s));
    }

    void anUnwritableBackupFolderFailsUntilItIsWritable() {
        const QString data = home() + u"/.local/share"_s;
        QVERIFY(setMode(data, readOnly));
        const Result noFolder = orvik({u"backup"_s});
        QCOMPARE(noFolder.code, 1);
        QVERIFY2(noFolder.err.contains(u"Sicherungsordner"_s), qPrintable(noFolder.err));
        QVERIFY(!noFolder.out.contains(u"Nichts geändert"_s));

        QVERIFY(setMode(data, writable));
        QVERIFY(QDir().mkpath(backups()));
        QVERIFY(handOver());
        QVERIFY(setMode(backups(), readOnly));
        const Result refused = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.out.isEmpty());
        QVERIFY2(refused.err.contains(backups()), qPrintable(refused.err));
        QVERIFY(QDir(backups()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        QVERIFY(setMode(backups(), writable));
        const Result made = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(made.code, 0);
        QVERIFY(QFileInfo::exists(made.json().value(u"snapshot"_s).toString() + u"/Ideen/a.md"_s));
    }

    void anUnreadableSheetIsNamedAndRetried() {
        QCOMPARE(orvik({u"backup"_s}).code, 0);
        const QString secret = lib() + u"/Projekte/geheim.md"_s;
        QVERIFY(orvik::test::writeBytes(secret, "geheim"));
        QVERIFY(handOver());
        QVERIFY(setMode(secret, {}));

        const Result partial = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(partial.code, 1);
        QCOMPARE(partial.json().value(u"failed"_s).toArray(), QJsonArray{u"Projekte/geheim.md"_s});
        const QString incomplete = partial.json().value(u"snapshot"_s).toString();
        QVERIFY(QFileInfo::exists(incomplete + u"/Ideen/a.md"_s));
        QVERIFY(!QFileInfo::exists(incomplete + u"/Projekte/geheim.md"_s));
        QVERIFY2(partial.err.contains(u"„Projekte/geheim.md“"_s), qPrintable(partial.err));

        // Only the permission changed, which no fingerprint sees.
        QVERIFY(setMode(secret, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
        const Result whole = orvik({u"backup"_s, u"--json"_s});
        QCOMPARE(whole.code, 0);
        const QString snapshot = whole.json().value(u"snapshot"_s).toString();
        QVERIFY(snapshot != incomplete);
        QCOMPARE(orvik::test::readBytes(snapshot + u"/Projekte/geheim.md"_s), "geheim");
        QCOMPARE(orvik({u"backup"_s}).code, 0);
    }
};

ORVIK_TEST_MAIN(TestCliBackup)
#include "tst_cli_backup.moc"
