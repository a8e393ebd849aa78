#include "faults.h"
#include "orvikrun.h"

#include "library/library.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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
    static QDateTime dateOf(const QString& snapshot) {
        return orvik::library::parseStamp(QFileInfo(snapshot).fileName());
    }
    static QString isoDate(const QString& snapshot) {
        const QDateTime d = dateOf(snapshot);
        return d.toOffsetFromUtc(d.offsetFromUtc()).toString(Qt::ISODate);
    }
    static QString germanDate(const QString& snapshot) {
        return QLocale(QLocale::German).toString(dateOf(snapshot), u"d. MMM yyyy, HH:mm"_s);
    }
    // A snapshot made by hand `daysAgo` days back, so that thinning keeps it.
    QString snapshot(int daysAgo) const {
        return backups() + u'/' +
               orvik::library::stamp(QDateTime::currentDateTime().addDays(-daysAgo));
    }
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

    // Three snapshots by hand: a version shared through a hard link and one copied unchanged are
    // listed once; a deleted sheet keeps its history; a restore first saves the text it replaces.
    void historyShowAndRestoreVersion() {
        const QString s1 = snapshot(1), s2 = snapshot(2), s3 = snapshot(3);
        const QString a = lib(u"/Ideen/a.md"_s), gone = lib(u"/Ideen/weg.md"_s);
        QVERIFY(orvik::test::writeBytes(s1 + u"/Ideen/a.md"_s, "eins zwei drei") &&
                orvik::test::writeBytes(s2 + u"/Ideen/a.md"_s, "eins\r\n") &&
                QDir().mkpath(s3 + u"/Ideen"_s) &&
                ::link(QFile::encodeName(s2 + u"/Ideen/a.md"_s).constData(),
                       QFile::encodeName(s3 + u"/Ideen/a.md"_s).constData()) == 0);
        for (const auto& [folder, text] :
             {std::pair{s1, "weg ist weg"}, std::pair{s2, "weg ist weg"}, std::pair{s3, "alt"}})
            QVERIFY(orvik::test::writeBytes(folder + u"/Ideen/weg.md"_s, text));
        QVERIFY(handOver());
        const QString n1 = QFileInfo(s1).fileName(), n2 = QFileInfo(s2).fileName(),
                      n3 = QFileInfo(s3).fileName();

        const Run history = orvik(u"history "_s + a + u" --json"_s);
        QCOMPARE(history.code, 0);
        QCOMPARE(history.field(u"snapshot"_s), (QStringList{n1, n2}));
        QCOMPARE(history.field(u"words"_s), (QStringList{u"3"_s, u"1"_s}));
        QCOMPARE(history.field(u"size"_s), (QStringList{u"14"_s, u"6"_s}));
        QCOMPARE(history.field(u"path"_s).value(1), s2 + u"/Ideen/a.md"_s);
        QCOMPARE(history.field(u"date"_s).value(1), isoDate(s2));
        QCOMPARE(orvik(u"history "_s + a).text(),
                 u"%1 · 3 Wörter\n%2 · 1 Wort\n"_s.arg(germanDate(s1), germanDate(s2)));
        QCOMPARE(orvik(u"history "_s + gone + u" --json"_s).field(u"snapshot"_s),
                 (QStringList{n1, n3}));
        const Run shown = orvik(u"show "_s + a + u" --at "_s + n3);
        QVERIFY(shown.code == 0 && shown.out == "eins\r\n");

        // Unknown snapshot, a sheet it does not hold, no --at, a file outside the library.
        const QList<std::pair<QString, int>> refused{
            {u"show "_s + a + u" --at 2000-01-01-000000"_s, 1},
            {u"restore-version "_s + lib(u"/Ideen/nie.md"_s) + u" --at "_s + n1, 1},
            {u"restore-version "_s + a, 2},
            {u"history "_s + home(u"draussen.md"_s), 1}};
        for (const auto& [line, code] : refused) {
            const Run r = orvik(line);
            QVERIFY2(r.code == code && r.out.isEmpty() && !r.err.isEmpty(), qPrintable(line));
        }
        QCOMPARE(orvik::test::readBytes(a), "a");

        const Run recreated = orvik(u"restore-version "_s + gone + u" --at "_s + n3 + u" --json"_s);
        QVERIFY2(recreated.code == 0, qPrintable(recreated.err));
        QCOMPARE(recreated[u"path"_s].toString(), gone);
        QCOMPARE(orvik::test::readBytes(gone), "alt");
        QVERIFY(orvik::test::writeBytes(a, "jetzt") && handOver());
        QCOMPARE(orvik(u"restore-version "_s + a + u" --at "_s + n2).code, 0);
        QCOMPARE(orvik::test::readBytes(a), "eins\r\n");
        // A snapshot within the same hour holds the restored text, which is the sheet's now and
        // no version; the replaced text stays in the history.
        QVERIFY(orvik(u"backup --json"_s)[u"snapshot"_s].isString());
        const QString saved = orvik(u"history "_s + a + u" --json"_s).field(u"path"_s).value(0);
        QVERIFY(!saved.startsWith(s1) && !saved.startsWith(s2));
        QCOMPARE(orvik::test::readBytes(saved), "jetzt");
    }

    void recoverBringsBackOnlyWhatIsMissing() {
        const QString older = snapshot(2), newest = snapshot(1);
        for (const auto& name :
             {u"/Ideen/a.md"_s, u"/Ideen/b.md"_s, u"/Neu/c.md"_s, u"/.Papierkorb/t.md"_s})
            QVERIFY(orvik::test::writeBytes(newest + name, "aus der Sicherung"));
        QVERIFY(orvik::test::writeBytes(older + u"/Ideen/alt.md"_s, "alt") &&
                orvik::test::writeBytes(older + u"/Ideen/willkommen.md"_s, "mein Willkommen"));
        QVERIFY(orvik::test::setModified(newest + u"/Ideen/b.md"_s,
                                         QDateTime::fromSecsSinceEpoch(1'000'000'000)));
        QVERIFY(handOver());
        const QStringList missing{lib(u"/Ideen/b.md"_s), lib(u"/Neu/c.md"_s)};
        const Run dry = orvik(u"recover --dry-run --json"_s);
        QCOMPARE(dry.json().toArray().toVariantList(),
                 QVariantList(missing.begin(), missing.end()));
        QVERIFY(!QFileInfo::exists(missing[0]));
        const Run recovered = orvik(u"recover"_s);
        QVERIFY2(recovered.code == 0, qPrintable(recovered.err));
        QCOMPARE(recovered.text(),
                 u"Zurückgeholt: %1\nZurückgeholt: %2\n"_s.arg(missing[0], missing[1]));
        QCOMPARE(orvik::test::readBytes(missing[1]), "aus der Sicherung");
        QCOMPARE(QFileInfo(missing[0]).lastModified(),
                 QDateTime::fromSecsSinceEpoch(1'000'000'000));
        QCOMPARE(orvik::test::readBytes(lib(u"/Ideen/a.md"_s)), "a");
        QVERIFY(!QFileInfo::exists(lib(u"/.Papierkorb/t.md"_s)));
        QCOMPARE(orvik(u"recover --json"_s).json().toArray(), QJsonArray());
        // The library folder gone: no welcome sheet is set up in place of the one saved.
        QVERIFY(QDir(lib()).removeRecursively());
        const Run fromOlder = orvik(u"recover --json --at "_s + QFileInfo(older).fileName());
        QCOMPARE(fromOlder.json().toArray(),
                 (QJsonArray{lib(u"/Ideen/alt.md"_s), lib(u"/Ideen/willkommen.md"_s)}));
        QCOMPARE(orvik::test::readBytes(lib(u"/Ideen/willkommen.md"_s)), "mein Willkommen");
        QCOMPARE(orvik(u"recover --at 2000-01-01-000000"_s).code, 1);
    }
};

ORVIK_TEST_MAIN(TestCliBackup)
#include "tst_cli_backup.moc"
