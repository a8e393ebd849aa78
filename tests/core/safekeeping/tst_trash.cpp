#include "library/library.h"
#include "safekeeping/trash.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

using namespace orvik;

class TestTrash : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString root() const { return m_dir.path(); }
    QString at(const QString& relative) const { return root() + u'/' + relative; }
    Trash trash() const { return Trash(root()); }

    QString put(const QString& relative, const QByteArray& bytes = "# Blatt") {
        const QString path = at(relative);
        if (!test::writeBytes(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void init() {
        QDir(root()).removeRecursively();
        QDir().mkpath(root());
    }

    void moveResolvesCollisionsAndRecordsOrigin() {
        put(u".Papierkorb/Notiz.md"_qs);
        put(u".Papierkorb/Notiz-1.md"_qs);
        const QString sheet = put(u"Projekte/Notiz.md"_qs, "# Meins");
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const auto moved = trash().move(sheet, u"Projekte"_qs);
        QCOMPARE(moved, at(u".Papierkorb/Notiz-2.md"_qs));
        QVERIFY(!QFileInfo::exists(sheet));
        QCOMPARE(test::readBytes(*moved), QByteArray("# Meins"));

        const QList<Trash::Entry> index = trash().readIndex();
        QCOMPARE(index.size(), 1);
        QCOMPARE(index[0].fileName, u"Notiz-2.md"_qs);
        QCOMPARE(index[0].originalFolder, u"Projekte"_qs);
        QCOMPARE(index[0].originalName, u"Notiz.md"_qs);
        QVERIFY(qAbs(index[0].deletedAt.msecsTo(before)) < 5000);

        // Back where it came from; under a counter name when the old name is taken.
        QCOMPARE(trash().restore(*moved, root()), at(u"Projekte/Notiz.md"_qs));
        QVERIFY(trash().readIndex().isEmpty());
        const auto again = trash().move(at(u"Projekte/Notiz.md"_qs), u"Projekte"_qs);
        put(u"Projekte/Notiz.md"_qs, "# Neu");
        QCOMPARE(trash().restore(*again, root()), at(u"Projekte/Notiz-1.md"_qs));
        QCOMPARE(test::readBytes(at(u"Projekte/Notiz-1.md"_qs)), QByteArray("# Meins"));
        QCOMPARE(test::readBytes(at(u"Projekte/Notiz.md"_qs)), QByteArray("# Neu"));
    }

    void failedMoveLeavesIndexAlone() {
        QVERIFY(!trash().move(at(u"Ideen/fehlt.md"_qs), u"Ideen"_qs));
        QVERIFY(!trash().restore(at(u".Papierkorb/fehlt.md"_qs), root()));
        QVERIFY(!QFileInfo::exists(at(u".Papierkorb/eintraege.json"_qs)));
    }

    void restoreWithoutEntryGoesToIdeasAndRecreatesGroups() {
        const QString orphan = put(u".Papierkorb/Waise.md"_qs);
        QCOMPARE(trash().restore(orphan, root()), at(u"Ideen/Waise.md"_qs));

        const QString sheet = put(u"Reise 2024/Plan.md"_qs);
        const auto moved = trash().move(sheet, u"Reise 2024"_qs);
        QVERIFY(QDir(at(u"Reise 2024"_qs)).removeRecursively());
        QCOMPARE(trash().restore(*moved, root()), at(u"Reise 2024/Plan.md"_qs));
    }

    void duplicateEntriesUseTheOlderAndAllGo() {
        const QDateTime t = QDateTime::currentDateTimeUtc();
        trash().ensureExists();
        trash().saveIndex({{u"A.md"_qs, u"Projekte"_qs, u"Alt.md"_qs, t.addDays(-2)},
                           {u"B.md"_qs, u"Ideen"_qs, u"B.md"_qs, t.addDays(-1)},
                           {u"A.md"_qs, u"Tagebuch"_qs, u"Neu.md"_qs, t}});
        const QString a = put(u".Papierkorb/A.md"_qs);
        QCOMPARE(trash().restore(a, root()), at(u"Projekte/Alt.md"_qs));
        const QList<Trash::Entry> left = trash().readIndex();
        QCOMPARE(left.size(), 1);
        QCOMPARE(left[0].fileName, u"B.md"_qs);
    }

    void craftedEntriesNeverLeaveTheLibrary_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("parent folder") << u".."_qs << u"Notiz.md"_qs;
        QTest::newRow("dot folder") << u"."_qs << u"Notiz.md"_qs;
        QTest::newRow("empty folder") << QString() << u"Notiz.md"_qs;
        QTest::newRow("nested folder") << u"../../etc"_qs << u"Notiz.md"_qs;
        QTest::newRow("name with separator") << u"Ideen"_qs << u"../../Notiz.md"_qs;
        QTest::newRow("empty name") << u"Ideen"_qs << QString();
        QTest::newRow("dot-dot name") << u"Ideen"_qs << u".."_qs;
    }
    void craftedEntriesNeverLeaveTheLibrary() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        // Other programs' files beside the library do not count.
        const QDir beside(m_dir.path() + u"/.."_qs);
        const qsizetype before = beside.entryList({u"Notiz*"_qs}).size();
        trash().ensureExists();
        trash().saveIndex({{u"Notiz.md"_qs, folder, name, QDateTime::currentDateTimeUtc()}});
        const QString trashed = put(u".Papierkorb/Notiz.md"_qs);
        QCOMPARE(trash().restore(trashed, root()), at(u"Ideen/Notiz.md"_qs));
        QVERIFY(trash().readIndex().isEmpty());
        QCOMPARE(beside.entryList({u"Notiz*"_qs}).size(), before);
    }

    void deleteForeverAndEmpty() {
        const QString a = put(u".Papierkorb/A.md"_qs);
        trash().saveIndex(
            {{u"A.md"_qs, u"Ideen"_qs, u"A.md"_qs, QDateTime::currentDateTimeUtc()},
             {u"weg.md"_qs, u"Ideen"_qs, u"weg.md"_qs, QDateTime::currentDateTimeUtc()}});
        trash().deleteForever(a);
        QVERIFY(!QFileInfo::exists(a));
        QCOMPARE(trash().readIndex().size(), 1);

        put(u".Papierkorb/Alt.MD"_qs);
        put(u".Papierkorb/.versteckt.md"_qs);
        put(u".Papierkorb/notes.txt"_qs, "bleibt");
        QVERIFY(!trash().isEmpty());
        trash().empty();
        QVERIFY(trash().isEmpty());
        QVERIFY(QFileInfo::exists(at(u".Papierkorb/notes.txt"_qs)));
        QCOMPARE(QDir(trash().path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u".eintraege.lock"_qs, u"eintraege.json"_qs, u"notes.txt"_qs}));
        QVERIFY(trash().readIndex().isEmpty());
        QVERIFY(Trash(at(u"nirgends"_qs)).isEmpty());
    }

    void linkedTrashIsNeverUsed_data() {
        QTest::addColumn<QString>("linked");
        QTest::addColumn<QString>("target");
        QTest::newRow("trash folder") << u".Papierkorb"_qs << u"anderswo"_qs;
        QTest::newRow("dangling index") << u".Papierkorb/eintraege.json"_qs << u"fehlt.json"_qs;
        QTest::newRow("index to a file") << u".Papierkorb/eintraege.json"_qs << u"leer.json"_qs;
        QTest::newRow("lock to a file") << u".Papierkorb/.eintraege.lock"_qs << u"leer.json"_qs;
    }
    void linkedTrashIsNeverUsed() {
        QFETCH(QString, linked);
        QFETCH(QString, target);
        QTemporaryDir outside;
        QVERIFY(test::writeBytes(outside.filePath(u"anderswo/fremd.md"_qs), "fremd"));
        QVERIFY(test::writeBytes(outside.filePath(u"anderswo/eintraege.json"_qs), "[]"));
        QVERIFY(test::writeBytes(outside.filePath(u"leer.json"_qs), ""));
        const auto contents = [&] {
            QStringList all;
            for (QDirIterator it(outside.path(),
                                 QDir::AllEntries | QDir::Hidden | QDir::System |
                                     QDir::NoDotAndDotDot,
                                 QDirIterator::Subdirectories);
                 it.hasNext();)
                all.append(it.next() + u'=' + QString::fromUtf8(test::readBytes(it.filePath())));
            all.sort();
            return all;
        };
        const QStringList before = contents();
        if (linked != u".Papierkorb")
            trash().ensureExists();
        QVERIFY(QFile::link(outside.filePath(target), at(linked)));
        const QString sheet = put(u"Ideen/a.md"_qs, "# A");

        QCOMPARE(trash().obstacle(), at(linked));
        QVERIFY(!trash().move(sheet, u"Ideen"_qs));
        QCOMPARE(test::readBytes(sheet), QByteArray("# A"));
        QVERIFY(!trash().deleteForever(at(u".Papierkorb/fremd.md"_qs)));
        QVERIFY(!trash().restore(at(u".Papierkorb/fremd.md"_qs), root()));
        QVERIFY(!trash().empty());
        trash().saveIndex({});
        QCOMPARE(contents(), before);
    }

    void indexFormat() {
        const QDateTime when = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(1500);
        const QByteArray json =
            Trash::encodeIndex({{u"Ä \"x\".md"_qs, u"Ideen"_qs, u"b.md"_qs, when}});
        // Sorted keys, one per line, dates as seconds since 2001.
        const QList<QByteArray> lines = json.split('\n');
        QCOMPARE(lines.size(), 8);
        QVERIFY(lines[2].contains("\"deletedAt\" : 1.5"));
        QVERIFY(lines[3].contains("\"fileName\""));
        QVERIFY(lines[4].contains("\"originalFolder\""));
        QVERIFY(lines[5].contains("\"originalName\""));
        const auto decoded = Trash::decodeIndex(json);
        QVERIFY(decoded);
        QCOMPARE(decoded->at(0).fileName, u"Ä \"x\".md"_qs);
        QCOMPARE(decoded->at(0).deletedAt, when);
        QCOMPARE(QJsonDocument::fromJson(Trash::encodeIndex({})).array().size(), 0);
        // Any layout reads.
        QVERIFY(Trash::decodeIndex(R"([{"originalName":"a.md","fileName":"a.md",
            "originalFolder":"Ideen","deletedAt":7}])"));
    }

    void unreadableIndexes_data() {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("keptAside");
        QTest::newRow("empty array") << QByteArray("[]") << false;
        QTest::newRow("empty file") << QByteArray() << false;
        QTest::newRow("missing deletedAt")
            << QByteArray(R"([{"fileName":"a.md","originalFolder":"Ideen","originalName":"a.md"}])")
            << true;
        QTest::newRow("date as string") << QByteArray(R"([{"fileName":"a.md","originalFolder":
            "Ideen","originalName":"a.md","deletedAt":"2024-01-01T00:00:00Z"}])")
                                        << true;
        QTest::newRow("not json") << QByteArray("{kaputt") << true;
        QTest::newRow("an object") << QByteArray("{}") << true;
    }
    void unreadableIndexes() {
        QFETCH(QByteArray, json);
        QFETCH(bool, keptAside);
        put(u".Papierkorb/eintraege.json"_qs, json);
        QVERIFY(trash().readIndex().isEmpty());
        const QString sheet = put(u"Ideen/a.md"_qs);
        QVERIFY(trash().move(sheet, u"Ideen"_qs));
        QCOMPARE(trash().readIndex().size(), 1);
        // An index we could not read is kept beside the new one, hidden and not a sheet.
        const QStringList aside =
            QDir(trash().path())
                .entryList({u".eintraege-unlesbar-*.json"_qs}, QDir::Files | QDir::Hidden);
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside)
            QCOMPARE(test::readBytes(trash().path() + u'/' + aside[0]), json);
        QVERIFY(!trash().isEmpty());
    }
};

ORVIK_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
