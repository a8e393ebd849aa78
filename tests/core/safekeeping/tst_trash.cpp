#include "library/library.h"
#include "safekeeping/trash.h"
#include "testenv.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;

using namespace orvik;

class TestTrash : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString root() const { return m_dir.path(); }
    QString at(const QString& relative) const { return m_dir.filePath(relative); }
    Trash trash() const { return Trash(root()); }

    QString put(const QString& relative, const QByteArray& bytes = "# Blatt") {
        const QString path = at(relative);
        if (!test::writeBytes(path, bytes))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
    // A trashed "Notiz.md" whose one index entry names that origin.
    QString trashedWith(const QString& folder, const QString& name) {
        trash().ensureExists();
        trash().saveIndex({{u"Notiz.md"_s, folder, name, QDateTime::currentDateTimeUtc()}});
        return put(u".Papierkorb/Notiz.md"_s);
    }

private Q_SLOTS:
    void init() {
        QDir(root()).removeRecursively();
        QDir().mkpath(root());
    }

    void moveResolvesCollisionsAndRecordsOrigin() {
        put(u".Papierkorb/Notiz.md"_s);
        put(u".Papierkorb/Notiz-1.md"_s);
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const auto moved = trash().move(put(u"Projekte/Notiz.md"_s, "# Meins"), u"Projekte"_s);
        QCOMPARE(moved, at(u".Papierkorb/Notiz-2.md"_s));
        const QList<Trash::Entry> index = trash().readIndex();
        QCOMPARE(index.size(), 1);
        QCOMPARE(QStringList({index[0].fileName, index[0].originalFolder, index[0].originalName}),
                 (QStringList{u"Notiz-2.md"_s, u"Projekte"_s, u"Notiz.md"_s}));
        QVERIFY(qAbs(index[0].deletedAt.msecsTo(before)) < 5000);
        // Restored under a counter name when the old name is taken; the entry goes.
        put(u"Projekte/Notiz.md"_s, "# Neu");
        QCOMPARE(trash().restore(*moved, root()), at(u"Projekte/Notiz-1.md"_s));
        QVERIFY(trash().readIndex().isEmpty());
        QCOMPARE(test::readBytes(at(u"Projekte/Notiz-1.md"_s)), QByteArray("# Meins"));
        QCOMPARE(test::readBytes(at(u"Projekte/Notiz.md"_s)), QByteArray("# Neu"));
    }

    void restoreWithoutEntryGoesToIdeasAndRecreatesGroups() {
        QCOMPARE(trash().restore(put(u".Papierkorb/Waise.md"_s), root()), at(u"Ideen/Waise.md"_s));
        const auto moved = trash().move(put(u"Reise 2024/Plan.md"_s), u"Reise 2024"_s);
        QVERIFY(QDir(at(u"Reise 2024"_s)).removeRecursively());
        QCOMPARE(trash().restore(*moved, root()), at(u"Reise 2024/Plan.md"_s));
        // What is not there is neither moved nor restored, and leaves the index alone.
        QVERIFY(QFile::remove(at(u".Papierkorb/eintraege.json"_s)));
        QVERIFY(!trash().move(at(u"Ideen/fehlt.md"_s), u"Ideen"_s));
        QVERIFY(!trash().restore(at(u".Papierkorb/fehlt.md"_s), root()));
        QVERIFY(!QFileInfo::exists(at(u".Papierkorb/eintraege.json"_s)));
    }

    void duplicateEntriesUseTheOlderAndAllGo() {
        const QDateTime t = QDateTime::currentDateTimeUtc();
        trash().ensureExists();
        trash().saveIndex({{u"A.md"_s, u"Projekte"_s, u"Alt.md"_s, t.addDays(-2)},
                           {u"B.md"_s, u"Ideen"_s, u"B.md"_s, t.addDays(-1)},
                           {u"A.md"_s, u"Tagebuch"_s, u"Neu.md"_s, t}});
        put(u".Papierkorb/B.md"_s);
        QCOMPARE(trash().restore(put(u".Papierkorb/A.md"_s), root()), at(u"Projekte/Alt.md"_s));
        const QList<Trash::Entry> left = trash().readIndex();
        QVERIFY(left.size() == 1 && left[0].fileName == u"B.md");
    }

    // Two devices trashed before they met, and the sync tool kept the losing index beside;
    // entries whose file went on the other device go too.
    void indexCopiesOfOtherDevicesAreMergedIn() {
        const QDateTime t(QDate(2026, 12, 6), QTime(14, 30), Qt::UTC);
        const Trash::Entry a{u"a.md"_s, u"Ideen"_s, u"a.md"_s, t},
            b{u"b.md"_s, u"Projekte"_s, u"b.md"_s, t}, c{u"c.md"_s, u"Tagebuch"_s, u"x.md"_s, t},
            gone{u"weg.md"_s, u"Ideen"_s, u"weg.md"_s, t};
        for (const QString& name : {u"a.md"_s, u"b.md"_s, u"c.md"_s})
            put(u".Papierkorb/"_s + name);
        trash().saveIndex({a, gone});
        put(u".Papierkorb/eintraege.sync-conflict-20261206-143005-ABCDEFG.json"_s,
            Trash::encodeIndex({a, b}));
        put(u".Papierkorb/eintraege (conflicted copy 2026-12-06 143005).json"_s,
            Trash::encodeIndex({gone, c}));
        const QString unreadable = u"eintraege.sync-conflict-20261206-150000-ABCDEFG.json"_s;
        put(u".Papierkorb/"_s + unreadable, "{kaputt");
        const auto byName = [](QList<Trash::Entry> entries) {
            std::ranges::sort(entries, {}, &Trash::Entry::fileName);
            return entries;
        };
        const QList<Trash::Entry> merged{a, b, c};
        QCOMPARE(byName(trash().readIndex()), merged);
        QCOMPARE(byName(*Trash::decodeIndex(test::readBytes(at(u".Papierkorb/eintraege.json"_s)))),
                 merged);
        QCOMPARE(QDir(trash().path()).entryList({u"*.json"_s}),
                 (QStringList{u"eintraege.json"_s, unreadable}));
        QCOMPARE(trash().restore(at(u".Papierkorb/c.md"_s), root()), at(u"Tagebuch/x.md"_s));
    }

    void craftedEntriesNeverLeaveTheLibrary_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::newRow("parent folder") << u".."_s << u"Notiz.md"_s;
        QTest::newRow("dot folder") << u"."_s << u"Notiz.md"_s;
        QTest::newRow("empty folder") << QString() << u"Notiz.md"_s;
        QTest::newRow("name with separator") << u"Ideen"_s << u"../../Notiz.md"_s;
        QTest::newRow("empty name") << u"Ideen"_s << QString();
        QTest::newRow("dot-dot name") << u"Ideen"_s << u".."_s;
    }
    void craftedEntriesNeverLeaveTheLibrary() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        // Other programs' files beside the library do not count.
        const QDir beside(m_dir.path() + u"/.."_s);
        const qsizetype before = beside.entryList({u"Notiz*"_s}).size();
        QCOMPARE(trash().restore(trashedWith(folder, name), root()), at(u"Ideen/Notiz.md"_s));
        QVERIFY(trash().readIndex().isEmpty());
        QCOMPARE(beside.entryList({u"Notiz*"_s}).size(), before);
    }

    void deleteForeverAndEmpty() {
        const QString a = trashedWith(u"Ideen"_s, u"Notiz.md"_s);
        trash().deleteForever(a);
        QVERIFY(!QFileInfo::exists(a) && trash().readIndex().isEmpty());
        put(u".Papierkorb/Alt.MD"_s);
        put(u".Papierkorb/.versteckt.md"_s);
        put(u".Papierkorb/notes.txt"_s, "bleibt");
        QVERIFY(trash().move(put(u"Ideen/weg.md"_s), u"Ideen"_s));
        QVERIFY(!trash().isEmpty());
        trash().empty();
        QVERIFY(trash().isEmpty() && trash().readIndex().isEmpty());
        QCOMPARE(QDir(trash().path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{u".eintraege.lock"_s, u"eintraege.json"_s, u"notes.txt"_s}));
        QVERIFY(Trash(at(u"nirgends"_s)).isEmpty());
    }

    void linkedTrashIsNeverUsed_data() {
        QTest::addColumn<QString>("linked");
        QTest::addColumn<QString>("target");
        QTest::newRow("trash folder") << u".Papierkorb"_s << u"anderswo"_s;
        QTest::newRow("dangling index") << u".Papierkorb/eintraege.json"_s << u"fehlt.json"_s;
        QTest::newRow("index to a file") << u".Papierkorb/eintraege.json"_s << u"leer.json"_s;
        QTest::newRow("lock to a file") << u".Papierkorb/.eintraege.lock"_s << u"leer.json"_s;
    }
    void linkedTrashIsNeverUsed() {
        QFETCH(QString, linked);
        QFETCH(QString, target);
        QTemporaryDir outside;
        QVERIFY(test::writeBytes(outside.filePath(u"anderswo/fremd.md"_s), "fremd"));
        QVERIFY(test::writeBytes(outside.filePath(u"anderswo/eintraege.json"_s), "[]"));
        QVERIFY(test::writeBytes(outside.filePath(u"leer.json"_s), ""));
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
        const QString sheet = put(u"Ideen/a.md"_s, "# A");
        QCOMPARE(trash().obstacle(), at(linked));
        QVERIFY(!trash().move(sheet, u"Ideen"_s) && QFileInfo::exists(sheet));
        QVERIFY(!trash().deleteForever(at(u".Papierkorb/fremd.md"_s)));
        QVERIFY(!trash().restore(at(u".Papierkorb/fremd.md"_s), root()));
        QVERIFY(!trash().empty());
        trash().saveIndex({});
        QCOMPARE(contents(), before);
    }

    // Dates as seconds since 2001, as the index has always held them; any layout reads.
    void indexFormat() {
        const QDateTime when = QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).addMSecs(1500);
        const QByteArray json =
            Trash::encodeIndex({{u"Ä \"x\".md"_s, u"Ideen"_s, u"b.md"_s, when}});
        QVERIFY(json.contains("\"deletedAt\" : 1.5"));
        const auto decoded = Trash::decodeIndex(json);
        QVERIFY(decoded && decoded->at(0).fileName == u"Ä \"x\".md" &&
                decoded->at(0).deletedAt == when);
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
        put(u".Papierkorb/eintraege.json"_s, json);
        QVERIFY(trash().readIndex().isEmpty());
        QVERIFY(trash().move(put(u"Ideen/a.md"_s), u"Ideen"_s));
        QCOMPARE(trash().readIndex().size(), 1);
        // An index we could not read is kept beside the new one, hidden and not a sheet.
        const QStringList aside =
            QDir(trash().path())
                .entryList({u".eintraege-unlesbar-*.json"_s}, QDir::Files | QDir::Hidden);
        QCOMPARE(aside.size(), keptAside ? 1 : 0);
        if (keptAside)
            QCOMPARE(test::readBytes(trash().path() + u'/' + aside[0]), json);
    }
};

ORVIK_TEST_MAIN(TestTrash)
#include "tst_trash.moc"
