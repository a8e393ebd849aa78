#include "faults.h"
#include "orvikrun.h"

#include <QDir>
#include <QTemporaryDir>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using orvik::test::Run;

// `orvik backup` tells a failed snapshot from an unchanged library. As root the
// command runs as nobody, on files handed over to it, so that file modes bind.
class TestCliBackup : public QObject {
    Q_OBJECT

    std::optional<QTemporaryDir> m_home;
    QString home(const QString& sub) const { return m_home->path() + u'/' + sub; }
    QString lib(const QString& sub = {}) const { return home(u"Texte"_s) + sub; }
    QString backups() const { return home(u".local/share/Orvik/Backups"_s); }

    Run orvik(const QString& line) {
        const QStringList args = QStringList{u"--library"_s, lib()} + line.split(u' ');
        return orvik::test::run(orvik::test::unprivileged(QStringLiteral(ORVIK_BINARY), args),
                                m_home->path());
    }
    bool handOver() { return orvik::test::handOver(m_home->path()); }
    static bool setMode(const QString& path, mode_t mode) {
        return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
    }

private Q_SLOTS:
    void init() {
        m_home.emplace();
        QVERIFY(setMode(m_home->path(), 0755) && QDir().mkpath(home(u".local/share"_s)));
        QVERIFY(QDir().mkpath(lib(u"/Projekte"_s)) &&
                orvik::test::writeBytes(lib(u"/Ideen/a.md"_s), "a"));
        QVERIFY(handOver());
    }

    void madeUnchangedAndListed() {
        const Run made = orvik(u"backup --json"_s);
        const QString snapshot = made[u"snapshot"_s].toString();
        QVERIFY2(made.code == 0 && snapshot.startsWith(backups() + u'/'), qPrintable(made.err));
        QVERIFY(QFileInfo::exists(snapshot + u"/Ideen/a.md"_s));
        const Run unchanged = orvik(u"backup --json"_s);
        QVERIFY(unchanged.code == 0 && unchanged[u"snapshot"_s].isNull());
        QVERIFY(orvik(u"backup"_s).text().contains(u"Nichts geändert"_s));
        const Run list = orvik(u"backups --json"_s);
        QCOMPARE(list.field(u"path"_s), QStringList{snapshot});
        QVERIFY(!list.field(u"date"_s).value(0).isEmpty());
    }

    // Guards against reporting "unchanged" when no snapshot could be written.
    void anUn0755BackupFolderFailsUntilItIsWritable() {
        QVERIFY(setMode(home(u".local/share"_s), 0555));
        const Run noFolder = orvik(u"backup"_s);
        QCOMPARE(noFolder.code, 1);
        QVERIFY2(noFolder.err.contains(u"Sicherungsordner"_s), qPrintable(noFolder.err));
        QVERIFY(!noFolder.text().contains(u"Nichts geändert"_s));

        QVERIFY(setMode(home(u".local/share"_s), 0755) && QDir().mkpath(backups()));
        QVERIFY(handOver() && setMode(backups(), 0555));
        const Run refused = orvik(u"backup --json"_s);
        QVERIFY(refused.code == 1 && refused.out.isEmpty());
        QVERIFY2(refused.err.contains(backups()), qPrintable(refused.err));
        QVERIFY(QDir(backups()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));

        QVERIFY(setMode(backups(), 0755));
        const Run made = orvik(u"backup --json"_s);
        QCOMPARE(made.code, 0);
        QVERIFY(QFileInfo::exists(made[u"snapshot"_s].toString() + u"/Ideen/a.md"_s));
    }

    // Guards against an unreadable sheet silently missing, and against a later
    // backup skipping it because only its permission changed.
    void anUnreadableSheetIsNamedAndRetried() {
        QCOMPARE(orvik(u"backup"_s).code, 0);
        const QString secret = lib(u"/Projekte/geheim.md"_s);
        QVERIFY(orvik::test::writeBytes(secret, "geheim") && handOver() && setMode(secret, 0));
        const Run partial = orvik(u"backup --json"_s);
        QCOMPARE(partial.code, 1);
        QCOMPARE(partial[u"failed"_s].toArray(), QJsonArray{u"Projekte/geheim.md"_s});
        const QString incomplete = partial[u"snapshot"_s].toString();
        QVERIFY(QFileInfo::exists(incomplete + u"/Ideen/a.md"_s));
        QVERIFY(!QFileInfo::exists(incomplete + u"/Projekte/geheim.md"_s));
        QVERIFY2(partial.err.contains(u"„Projekte/geheim.md“"_s), qPrintable(partial.err));

        QVERIFY(setMode(secret, 0604));
        const Run whole = orvik(u"backup --json"_s);
        const QString snapshot = whole[u"snapshot"_s].toString();
        QVERIFY(whole.code == 0 && snapshot != incomplete);
        QCOMPARE(orvik::test::readBytes(snapshot + u"/Projekte/geheim.md"_s), "geheim");
        QCOMPARE(orvik(u"backup"_s).code, 0);
    }
};

ORVIK_TEST_MAIN(TestCliBackup)
#include "tst_cli_backup.moc"
