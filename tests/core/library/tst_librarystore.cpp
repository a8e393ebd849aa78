#include "platform/files.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/trash.h"
#include "store/librarystore.h"
#include "testenv.h"

#include <QDir>
#include <QPromise>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;

Q_DECLARE_METATYPE(orvik::ExternalChange)

namespace {
// Runs once, right before the next file's data is synced: the moment
// another program can take the name a new file is being written under.
std::function<void()> beforeNextSync;
} // namespace

extern "C" int fsync(int fd) {
    if (const auto hook = std::exchange(beforeNextSync, nullptr))
        hook();
    return int(::syscall(SYS_fsync, fd));
}

namespace {
// As sync tools write: a whole new file renamed onto the old one.
bool replaceByRename(const QString& path, const QByteArray& bytes) {
    const QString incoming = QFileInfo(path).dir().filePath(u".syncthing.tmp"_s);
    return test::writeBytes(incoming, bytes) && ::rename(QFile::encodeName(incoming).constData(),
                                                         QFile::encodeName(path).constData()) == 0;
}

QStringList fileNames(const QList<Sheet>& sheets) {
    QStringList names;
    for (const Sheet& s : sheets)
        names.append(QFileInfo(s.path()).fileName());
    names.sort();
    return names;
}

QStringList titles(const QList<Sheet>& sheets) {
    QStringList list;
    for (const Sheet& s : sheets)
        list.append(s.title);
    return list;
}
} // namespace

// The store against a real library in a temporary folder, with short delays
// and a daily context the test hands out itself.
class TestLibraryStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QList<std::shared_ptr<QPromise<QString>>> m_contexts;

    QString root() const { return m_dir->path() + u"/Orvik"_s; }
    QString at(const QString& relative) const { return root() + u'/' + relative; }

    // Shows `group` at once when named.
    std::unique_ptr<LibraryStore> makeStore(LibraryStore::Options options = {},
                                            const QString& group = {}) {
        options.root = root();
        options.backupRoot = m_dir->path() + u"/Backups"_s;
        options.saveDelayMs = 40;
        options.searchDelayMs = 10;
        options.watchDelayMs = 20;
        options.backupSchedule = options.firstBackupDelayMs != 8000;
        options.dailyContext = [this] {
            auto promise = std::make_shared<QPromise<QString>>();
            promise->start();
            m_contexts.append(promise);
            return promise->future();
        };
        auto store = std::make_unique<LibraryStore>(options);
        if (!group.isEmpty())
            store->setSelectedFolderID(groupNamed(*store, group).url);
        return store;
    }

    static LibraryStore::Options stoppedAt(const QDateTime& moment) {
        LibraryStore::Options options;
        options.clock = [moment] { return moment; };
        return options;
    }

    void put(const QString& relative, const QByteArray& bytes, int minutesAgo) {
        QVERIFY(test::writeBytes(at(relative), bytes));
        QVERIFY(test::setModified(at(relative),
                                  QDateTime::currentDateTime().addSecs(-60 * minutesAgo)));
    }

    static Folder groupNamed(const LibraryStore& store, const QString& name) {
        for (const Folder& f : store.folders())
            if (f.name == name)
                return f;
        qFatal("no group %s", qPrintable(name));
    }

    // Typed, then written at once.
    static void writeNow(LibraryStore& store, const QString& text) {
        store.setCurrentText(text);
        store.flushPendingSave();
    }

    static void resolve(const std::shared_ptr<QPromise<QString>>& promise, const QString& block) {
        promise->addResult(block);
        promise->finish();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_contexts.clear();
    }

    void firstStart() {
        auto store = makeStore();
        QCOMPARE(store->folders().last().name, u"Papierkorb"_s);
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        QVERIFY(store->selectedSheetID().isEmpty());
        QVERIFY(store->currentText().isEmpty());
        QVERIFY(QFileInfo(at(u".Papierkorb"_s)).isDir());
    }

    void selection() {
        put(u"Ideen/alt.md"_s, "# Alt", 30);
        put(u"Ideen/neu.md"_s, "# Neu\nText", 10);
        auto store = makeStore();
        const Folder ideas = groupNamed(*store, u"Ideen"_s);
        store->setSelectedFolderID(ideas.url);
        QCOMPARE(titles(store->sheets()), (QStringList{u"Neu"_s, u"Alt"_s}));
        QCOMPARE(store->currentText(), u"# Neu\nText"_s);

        // The same group again: nothing is read, nothing changes.
        QSignalSpy sheetsChanged(store.get(), &LibraryStore::sheetsChanged);
        store->setSelectedFolderID(ideas.url);
        QCOMPARE(sheetsChanged.count(), 0);

        // An empty group clears the selection and writes nothing.
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url);
        QVERIFY(store->selectedSheetID().isEmpty());
        QVERIFY(store->currentText().isEmpty());
        QVERIFY(!saved.wait(80) && saved.isEmpty());
        QVERIFY(!store->hasPendingSave());
    }

    void typingIsCoalescedIntoOneWrite() {
        put(u"Ideen/a.md"_s, "# A", 30);
        put(u"Ideen/b.md"_s, "# B", 10);
        auto store = makeStore({}, u"Ideen"_s);
        store->setSelectedSheetID(QUrl::fromLocalFile(at(u"Ideen/a.md"_s)));
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        QString text = u"# A"_s;
        for (int i = 0; i < 10; ++i) {
            text += QChar(u'0' + i);
            store->setCurrentText(text);
        }
        // The entry follows at once; the order waits for the write.
        QCOMPARE(titles(store->sheets()), (QStringList{u"B"_s, u"A0123456789"_s}));
        QCOMPARE(test::readBytes(at(u"Ideen/a.md"_s)), QByteArray("# A"));
        QTRY_COMPARE(saved.count(), 1);
        QCOMPARE(test::readBytes(at(u"Ideen/a.md"_s)), QByteArray("# A0123456789"));
        QTRY_COMPARE(titles(store->sheets()), (QStringList{u"A0123456789"_s, u"B"_s}));
        QVERIFY(!saved.wait(80) && saved.count() == 1);

        // A sheet with CR LF line ends keeps them; the editor works in line feeds.
        put(u"Ideen/c.md"_s, "# C\r\nText\r\n", 60);
        store->reloadSheets();
        store->setSelectedSheetID(QUrl::fromLocalFile(at(u"Ideen/c.md"_s)));
        QCOMPARE(store->currentText(), u"# C\nText\n"_s);
        writeNow(*store, u"# C\nText\nmehr"_s);
        QCOMPARE(test::readBytes(at(u"Ideen/c.md"_s)), QByteArray("# C\r\nText\r\nmehr"));
    }

    void waitingSaveIsWrittenBeforeEverythingElse() {
        put(u"Ideen/a.md"_s, "# A", 30);
        put(u"Ideen/b.md"_s, "# B", 10);
        auto store = makeStore({}, u"Ideen"_s);
        const QUrl a = QUrl::fromLocalFile(at(u"Ideen/a.md"_s));
        const QUrl b = QUrl::fromLocalFile(at(u"Ideen/b.md"_s));
        QCOMPARE(store->selectedSheetID(), b);
        const QDateTime aModified = QFileInfo(a.toLocalFile()).lastModified();

        // Switching sheets writes the old sheet's text into the old sheet.
        store->setCurrentText(u"# B neu"_s);
        store->setSelectedSheetID(a);
        QCOMPARE(test::readBytes(b.toLocalFile()), QByteArray("# B neu"));
        QCOMPARE(store->currentText(), u"# A"_s);
        QVERIFY(!store->hasPendingSave());
        QTest::qWait(80);
        QCOMPARE(QFileInfo(a.toLocalFile()).lastModified(), aModified);

        const auto flushedBy = [&](const char* what, const std::function<void()>& operation) {
            store->setSelectedSheetID(a);
            const QByteArray text = QByteArray("# A ") + what;
            store->setCurrentText(QString::fromUtf8(text));
            operation();
            QVERIFY2(test::readBytes(a.toLocalFile()) == text, what);
        };
        flushedBy("search", [&] {
            store->setSearchText(u"zz"_s);
            QTRY_VERIFY(!store->isSearching());
            store->setSearchText(QString());
        });
        flushedBy("backup", [&] { store->backupNow(); });
        flushedBy("empty trash", [&] { store->emptyTrash(); });
        flushedBy("flush", [&] { store->flushPendingSave(); });
        flushedBy("create", [&] { store->quickNewSheet(); });
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        flushedBy("group change",
                  [&] { store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url); });
    }

    void searchHitsAndTheirSelection() {
        put(u"Ideen/apfel.md"_s, "# Äpfel\nEin Apfel am Tag", 30);
        put(u"Projekte/plan.md"_s, "# Plan\napfel apfel", 10);
        put(u".Papierkorb/weg.md"_s, "# Weg\napfel", 5);
        auto store = makeStore({}, u"Ideen"_s);

        store->setSearchText(u" a"_s); // one character: nothing to search
        QVERIFY(!store->isSearching());
        QCOMPARE(store->visibleSheets(), store->sheets());

        store->setSearchScope(SearchScope::Library);
        store->setSearchText(u"apfel"_s);
        QVERIFY(store->isSearching());
        // A newer query supersedes the first: only its result is shown.
        store->setSearchText(u"apfel am"_s);
        QTRY_VERIFY(!store->isSearching());
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"Äpfel"_s});
        store->setSearchText(u"apfel"_s);
        QTRY_VERIFY(!store->isSearching());
        QCOMPARE(titles(store->visibleSheets()), (QStringList{u"Plan"_s, u"Äpfel"_s}));
        QCOMPARE(store->hitCount(store->visibleSheets().first()), 2);

        // A hit of another group is edited in place; the group's list stays.
        const QUrl plan = QUrl::fromLocalFile(at(u"Projekte/plan.md"_s));
        const QList<Sheet> ideasSheets = store->sheets();
        store->setSelectedSheetID(plan);
        QCOMPARE(store->currentText(), u"# Plan\napfel apfel"_s);
        const QDateTime beforeSave = QDateTime::currentDateTime().addSecs(-1);
        writeNow(*store, u"# Plan B\napfel apfel birne"_s);
        QCOMPARE(test::readBytes(plan.toLocalFile()), QByteArray("# Plan B\napfel apfel birne"));
        QCOMPARE(store->sheets(), ideasSheets);
        // Its row and the time of its last save follow the write.
        const Sheet shown = store->visibleSheets().first();
        QCOMPARE(shown.title, u"Plan B"_s);
        QCOMPARE(shown.wordCount, 6);
        QVERIFY(shown.modified > beforeSave);
        QCOMPARE(store->selectedSheet(), shown);

        // Shortening the query drops the hits: the sheet is no longer shown.
        store->setSearchText(u"a"_s);
        QVERIFY(store->searchHits().isEmpty());
        QCOMPARE(store->selectedSheetID(), plan);
        QVERIFY(!store->selectedSheet());

        // The trash is searched only as the selected group.
        store->setSelectedFolderID(store->trash().url());
        store->setSearchScope(SearchScope::Group);
        store->setSearchText(u"apfel"_s);
        QTRY_VERIFY(!store->isSearching());
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"Weg"_s});
    }

    void deletingRestoringAndEmptying() {
        put(u"Projekte/a.md"_s, "# A", 30);
        put(u"Projekte/b.md"_s, "# B", 20);
        put(u"Projekte/c.md"_s, "# C", 10);
        auto store = makeStore();
        store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url);
        store->setSelectedSheetID(QUrl::fromLocalFile(at(u"Projekte/b.md"_s)));
        store->deleteSheet(*store->selectedSheet());
        // The newest sheet follows, not the neighbour.
        QCOMPARE(titles(store->sheets()), (QStringList{u"C"_s, u"A"_s}));
        QCOMPARE(store->selectedSheet()->title, u"C"_s);
        QVERIFY(QFileInfo::exists(at(u".Papierkorb/b.md"_s)));

        // Restoring into a group that vanished brings the group back.
        QVERIFY(QDir(at(u"Projekte"_s)).removeRecursively());
        store->setSelectedFolderID(store->trash().url());
        QCOMPARE(titles(store->sheets()), QStringList{u"B"_s});
        store->restore(store->sheets().first());
        QVERIFY(store->sheets().isEmpty());
        QVERIFY(QFileInfo::exists(at(u"Projekte/b.md"_s)));
        QCOMPARE(store->folders().at(2).name, u"Projekte"_s);

        // In the trash, deleting is for good.
        store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url);
        store->deleteSheet(store->sheets().first());
        store->setSelectedFolderID(store->trash().url());
        store->deleteSheet(store->sheets().first());
        QVERIFY(QDir(at(u".Papierkorb"_s)).entryList({u"*.md"_s}).isEmpty());

        // Emptying the trash while a group is shown leaves that group alone...
        put(u"Ideen/x.md"_s, "# X", 1);
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        store->deleteSheet(*store->selectedSheet());
        const QUrl shown = store->selectedSheetID();
        store->emptyTrash();
        QCOMPARE(store->selectedSheetID(), shown);
        // ...and while a trashed sheet is shown empties the editor without writing.
        put(u".Papierkorb/y.md"_s, "# Y", 1);
        store->setSelectedFolderID(store->trash().url());
        QCOMPARE(store->currentText(), u"# Y"_s);
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        store->emptyTrash();
        QVERIFY(store->sheets().isEmpty());
        QVERIFY(store->selectedSheetID().isEmpty());
        QVERIFY(store->currentText().isEmpty());
        QVERIFY(!saved.wait(80) && saved.isEmpty());

        // In the trash, a library-wide hit from another group is not
        // "restored" into another group, and deleting it puts it into the
        // trash rather than away for good.
        put(u"Ideen/treffer.md"_s, "# Treffer", 60);
        const Sheet hit = *Sheet::load(at(u"Ideen/treffer.md"_s));
        QVERIFY(!store->restore(hit));
        QCOMPARE(test::readBytes(at(u"Ideen/treffer.md"_s)), QByteArray("# Treffer"));
        store->deleteSheet(hit);
        QCOMPARE(test::readBytes(at(u".Papierkorb/treffer.md"_s)), QByteArray("# Treffer"));

        // A trashed sheet whose write keeps failing: once the trash is emptied
        // the waiting text never brings it back; restored, it is written there.
        const auto failingInTrash = [&](const QString& name) {
            const QString path = at(u".Papierkorb/"_s + name);
            put(u".Papierkorb/"_s + name, "# Z", 1);
            store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
            store->setSelectedFolderID(store->trash().url());
            QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(path));
            // A folder where the file was cannot be replaced by a file.
            QVERIFY(QFile::remove(path) && QDir().mkdir(path));
            writeNow(*store, u"# Z neu"_s);
            QVERIFY(store->lastWriteFailed());
        };
        failingInTrash(u"z.md"_s);
        const QString emptied = at(u".Papierkorb/z.md"_s);
        store->emptyTrash();
        QVERIFY(QDir().rmdir(emptied));
        store->flushPendingSave();
        QVERIFY(!QFileInfo::exists(emptied));
        failingInTrash(u"r.md"_s);
        const QString restored = at(u".Papierkorb/r.md"_s);
        QVERIFY(store->restore(*store->selectedSheet()));
        QVERIFY(QDir().rmdir(at(u"Ideen/r.md"_s)));
        store->flushPendingSave();
        QVERIFY(!QFileInfo::exists(restored));
        QCOMPARE(test::readBytes(at(u"Ideen/r.md"_s)), QByteArray("# Z neu"));
    }

    void newSheets() {
        const QDateTime fixed(QDate(2026, 12, 5), QTime(10, 7, 30));
        auto store = makeStore(stoppedAt(fixed));
        store->setSelectedFolderID(groupNamed(*store, u"Tagebuch"_s).url);
        const auto first = store->quickNewSheet();
        const auto second = store->quickNewSheet();
        QVERIFY(first && second);
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        QCOMPARE(first->path(), at(u"Schnelle Notiz/2026-12-05-100730.md"_s));
        QCOMPARE(second->path(), at(u"Schnelle Notiz/2026-12-05-100730-1.md"_s));
        QCOMPARE(store->selectedSheetID(), second->url);
        QCOMPARE(store->sheets().size(), 2);
        QCOMPARE(first->title, u"2026-12-05-100730"_s); // "#" alone has no title text
        QCOMPARE(store->currentText(), u"#\n\n"_s);
        // A name another program takes while the new file is written stays its own.
        const QString taken = at(u"Schnelle Notiz/2026-12-05-100730-2.md"_s);
        beforeNextSync = [taken] { QVERIFY(test::writeBytes(taken, "fremd")); };
        const auto third = store->quickNewSheet();
        QCOMPARE(test::readBytes(taken), QByteArray("fremd"));
        QCOMPARE(third->path(), at(u"Schnelle Notiz/2026-12-05-100730-3.md"_s));
        QCOMPARE(test::readBytes(third->path()), QByteArray("#\n\n"));

        const auto idea = store->createSheet(*Template::named(u"Projektidee"_s));
        QCOMPARE(store->selectedFolder()->name, u"Projekte"_s);
        QCOMPARE(idea->preview, u"Angelegt: 5. Dezember 2026 Das Problem Die Idee Für wen Nächste "
                                u"Schritte - [ ] - [ ]"_s);

        // Without a quick-notes group the selected group takes the note.
        QVERIFY(QDir(at(u"Schnelle Notiz"_s)).removeRecursively());
        store->reloadFolders();
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        QCOMPARE(QFileInfo(store->quickNewSheet()->path()).dir().dirName(), u"Ideen"_s);

        // A group folder removed behind our back: nothing is created.
        const Folder projects = groupNamed(*store, u"Projekte"_s);
        QVERIFY(QDir(projects.path()).removeRecursively());
        const QList<Sheet> before = store->sheets();
        QVERIFY(!store->createSheet(Template::blank(), projects, fixed));
        QCOMPARE(store->sheets(), before);
        QVERIFY(!QFileInfo::exists(projects.path()));
    }

    void newGroups() {
        auto store = makeStore();
        const auto reisen = store->createFolder(u"  Reisen \t"_s);
        QVERIFY(reisen);
        QCOMPARE(reisen->path(), at(u"Reisen"_s));
        QCOMPARE(store->selectedFolderID(), reisen->url);
        QCOMPARE(store->createFolder(u"Reisen"_s)->url, reisen->url);

        const QUrl selected = store->selectedFolderID();
        for (const QString& bad : {u"   "_s, u".versteckt"_s, u".."_s, u"."_s, u"../draussen"_s,
                                   u"a/b"_s, u"papierkorb"_s}) {
            QVERIFY2(!store->createFolder(bad), qPrintable(bad));
            QCOMPARE(store->selectedFolderID(), selected);
        }
        QVERIFY(!QFileInfo::exists(m_dir->path() + u"/draussen"_s));
        QVERIFY(!QFileInfo::exists(at(u"a"_s)));
        QVERIFY(!QFileInfo::exists(at(u"papierkorb"_s)));
    }

    void templateBodies() {
        const QDateTime saturday(QDate(2026, 12, 5), QTime(9, 4));
        QCOMPARE(Template::diaryDefault().render(saturday),
                 u"# Samstag, 5. Dezember 2026\n\n\n\n\n---\n\n*Wetter und Nachrichten werden "
                 u"geladen …*"_s);
        QCOMPARE(Template::named(u"Tagebuch ohne Tageskontext"_s)->render(saturday),
                 u"# Samstag, 5. Dezember 2026\n\n"_s);
        const QString morning = Template::named(u"Morgenseiten"_s)->render(saturday);
        QVERIFY(morning.startsWith(
            u"# Morgenseiten – Samstag, 5. Dezember 2026\n\n*Begonnen um 09:04."_s));
        QVERIFY(Template::named(u"Wochenrückblick"_s)
                    ->render(saturday)
                    .startsWith(u"# Wochenrückblick – 5. Dezember 2026\n"_s));
        // Unknown placeholders stay.
        Template custom = Template::blank();
        custom.body = u"{{Datum}} {{zeit}} {{ort}}"_s;
        QCOMPARE(custom.render(saturday), u"{{Datum}} 09:04 {{ort}}"_s);
    }

    void diaryContextArrivesLater() {
        auto store = makeStore();
        QSignalSpy done(store.get(), &LibraryStore::dailyContextDone);
        const auto entry = store->newDiaryEntry();
        QVERIFY(entry);
        QCOMPARE(store->selectedFolder()->name, u"Tagebuch"_s);
        QVERIFY(store->currentText().endsWith(u"werden geladen …*"_s));
        QTRY_COMPARE(m_contexts.size(), 1);

        // The user writes above the loading block meanwhile.
        const QString typed = store->currentText().replace(u"\n\n\n\n\n"_s, u"\nHeute.\n\n"_s);
        store->setCurrentText(typed);
        resolve(m_contexts[0], u"**Wetter:** sonnig"_s);
        QTRY_COMPARE(done.count(), 1);
        QVERIFY(store->currentText().contains(u"\nHeute.\n\n**Wetter:** sonnig"_s));
        QVERIFY(!store->currentText().contains(u"geladen"_s));
        QVERIFY(!store->hasPendingSave());
        QCOMPARE(QString::fromUtf8(test::readBytes(entry->path())), store->currentText());

        // An empty context gives the fallback; a sheet left meanwhile is fixed on disk.
        const auto second = store->newDiaryEntry();
        QTRY_COMPARE(m_contexts.size(), 2);
        store->setSelectedSheetID(entry->url);
        resolve(m_contexts[1], QString());
        QTRY_COMPARE(done.count(), 2);
        QVERIFY(QString::fromUtf8(test::readBytes(second->path()))
                    .endsWith(u"---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"_s));

        // A removed loading block is left removed.
        const auto third = store->newDiaryEntry();
        QTRY_COMPARE(m_contexts.size(), 3);
        store->setCurrentText(u"# Eigenes"_s);
        resolve(m_contexts[2], u"**Wetter:** Regen"_s);
        QTRY_COMPARE(done.count(), 3);
        QCOMPARE(store->currentText(), u"# Eigenes"_s);
        store->flushPendingSave();
        QCOMPARE(test::readBytes(third->path()), QByteArray("# Eigenes"));

        // A write that failed keeps its text, and the context goes into that
        // text, even when the entry is no longer shown.
        const auto fourth = store->newDiaryEntry();
        QTRY_COMPARE(m_contexts.size(), 4);
        QVERIFY(QFile::remove(fourth->path()) && QDir().mkdir(fourth->path()));
        store->setCurrentText(store->currentText().replace(u"\n\n\n\n\n"_s, u"\nNur hier.\n\n"_s));
        store->flushPendingSave();
        QVERIFY(store->lastWriteFailed());
        store->setSelectedSheetID(entry->url);
        resolve(m_contexts[3], u"**Wetter:** Schnee"_s);
        QTRY_COMPARE(done.count(), 4);
        QVERIFY(QDir().rmdir(fourth->path()));
        store->flushPendingSave();
        QVERIFY(QString::fromUtf8(test::readBytes(fourth->path()))
                    .endsWith(u"\nNur hier.\n\n**Wetter:** Schnee"_s));
    }

    void twoDiaryEntriesInOneMinuteKeepTheirOwnContext() {
        auto store = makeStore();
        QSignalSpy done(store.get(), &LibraryStore::dailyContextDone);
        const auto first = store->newDiaryEntry();
        const auto second = store->newDiaryEntry();
        QTRY_COMPARE(m_contexts.size(), 2);
        resolve(m_contexts[1], u"zweiter"_s);
        resolve(m_contexts[0], u"erster"_s);
        QTRY_COMPARE(done.count(), 2);
        QVERIFY(test::readBytes(first->path()).endsWith("\nerster"));
        QVERIFY(test::readBytes(second->path()).endsWith("\nzweiter"));
    }

    void failedWritesAreKeptAndRetried() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store = makeStore({}, u"Ideen"_s);
        const QString path = at(u"Ideen/a.md"_s);
        // A folder where the file was cannot be replaced by a file.
        QVERIFY(QFile::remove(path));
        QVERIFY(QDir().mkdir(path));
        QSignalSpy failed(store.get(), &LibraryStore::lastWriteFailedChanged);
        writeNow(*store, u"# A wichtig"_s);
        QVERIFY(store->lastWriteFailed());
        QCOMPARE(failed.count(), 1);
        QCOMPARE(store->currentText(), u"# A wichtig"_s);

        // Left for another group, the text still waits in memory, and the next
        // flush after the cause is gone writes it.
        store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url);
        QVERIFY(!store->lastWriteFailed());
        store->flushPendingSave();
        QVERIFY(QFileInfo(path).isDir());
        QVERIFY(QDir().rmdir(path));
        store->flushPendingSave();
        QCOMPARE(test::readBytes(path), QByteArray("# A wichtig"));
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        QCOMPARE(store->currentText(), u"# A wichtig"_s);
        QVERIFY(!store->lastWriteFailed());
    }

    void otherProgramsChangesAreShown() {
        put(u"Ideen/a.md"_s, "# A", 10);
        put(u"Ideen/b.md"_s, "# B", 30);
        auto store = makeStore({}, u"Ideen"_s);
        const QString a = at(u"Ideen/a.md"_s);
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        QSignalSpy saved(store.get(), &LibraryStore::saved);

        // Renamed into place twice, then written in place: the last is seen
        // only by a watch on the file that replaced the watched one.
        QVERIFY(replaceByRename(a, "# A von drüben"));
        QTRY_COMPARE(store->currentText(), u"# A von drüben"_s);
        QVERIFY(replaceByRename(a, "# A noch einmal"));
        QTRY_COMPARE(store->currentText(), u"# A noch einmal"_s);
        // Written in place.
        QVERIFY(test::writeBytes(a, "# A an Ort und Stelle"));
        QTRY_COMPARE(store->currentText(), u"# A an Ort und Stelle"_s);
        QCOMPARE(titles(store->sheets()).first(), u"A an Ort und Stelle"_s);
        // A write in place may be seen half done first, and then again.
        QVERIFY(told.count() >= 3);
        const qsizetype heard = told.count();
        QCOMPARE(told.last().first().value<ExternalChange>().kind, ExternalChange::Kind::Reloaded);
        // Loading is no edit: nothing was written back.
        QVERIFY(!store->hasPendingSave());
        QVERIFY(!saved.wait(80) && saved.isEmpty());

        // Sheets that come and go, and a temporary file that is none.
        QVERIFY(test::writeBytes(at(u"Ideen/c.md"_s), "# C"));
        QVERIFY(test::writeBytes(at(u"Ideen/c.md.Xq81Zt"_s), "# halb"));
        QTRY_COMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"b.md"_s, u"c.md"_s}));
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QTRY_COMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"c.md"_s}));

        // The store's own writes are no news.
        store->setCurrentText(u"# A meins"_s);
        QTRY_COMPARE(saved.count(), 1);
        QVERIFY(!told.wait(100) && told.count() == heard);
        QCOMPARE(store->currentText(), u"# A meins"_s);
        // A touch changes no text.
        QVERIFY(test::setModified(a, QDateTime::currentDateTime().addSecs(-5)));
        QVERIFY(!told.wait(100) && told.count() == heard);
        writeNow(*store, u"# A meins, weiter"_s);
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList({u"*extern*"_s}), QStringList{});
    }

    void whenBothChangedNeitherIsLost() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store =
            makeStore(stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5))), u"Ideen"_s);
        const QString a = at(u"Ideen/a.md"_s);
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);

        store->setCurrentText(u"# A meins"_s);
        QVERIFY(replaceByRename(a, "# A fremd"));
        // The watcher sees the change first; the waiting edit is not replaced.
        QTest::qWait(60);
        QCOMPARE(store->currentText(), u"# A meins"_s);
        store->flushPendingSave();
        const QString kept = u"a (extern geändert 2026-12-06 143005).md"_s;
        QCOMPARE(test::readBytes(a), QByteArray("# A meins"));
        QCOMPARE(test::readBytes(at(u"Ideen/"_s + kept)), QByteArray("# A fremd"));
        QCOMPARE(told.count(), 1);
        const auto change = told.first().first().value<ExternalChange>();
        QCOMPARE(change.kind, ExternalChange::Kind::KeptBoth);
        QCOMPARE(change.sheet, QUrl::fromLocalFile(a));
        QCOMPARE(change.keptAs, kept);
        QTRY_VERIFY(fileNames(store->sheets()).contains(kept));
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));

        // The same moment again: the name takes a counter; the first copy stays.
        store->setCurrentText(u"# A meins 2"_s);
        QVERIFY(test::writeBytes(a, "# A fremd 2"));
        store->flushPendingSave();
        QCOMPARE(test::readBytes(a), QByteArray("# A meins 2"));
        QCOMPARE(test::readBytes(at(u"Ideen/"_s + kept)), QByteArray("# A fremd"));
        QCOMPARE(test::readBytes(at(u"Ideen/a (extern geändert 2026-12-06 143005)-1.md"_s)),
                 QByteArray("# A fremd 2"));
        QCOMPARE(told.count(), 2);

        // Another program writing exactly the user's text is no conflict.
        store->setCurrentText(u"# A gleich"_s);
        QVERIFY(test::writeBytes(a, "# A gleich"));
        store->flushPendingSave();
        QCOMPARE(told.count(), 2);
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList({u"*extern*"_s}).size(), 2);
    }

    // A name of 227 bytes leaves no room for the kept copy's date: the copy's
    // name is shortened, and the save goes through.
    void aLongNameStillKeepsBoth() {
        const QString a = at(u"Ideen/"_s + QString(u"ä"_s).repeated(112) + u".md"_s);
        put(QFileInfo(a).fileName().prepend(u"Ideen/"_s), "# A", 10);
        auto store =
            makeStore(stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5))), u"Ideen"_s);
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));
        store->setCurrentText(u"# A meins"_s);
        QVERIFY(test::writeBytes(a, "# A fremd"));
        store->flushPendingSave();
        QCOMPARE(test::readBytes(a), QByteArray("# A meins"));
        QCOMPARE(test::readBytes(at(u"Ideen/"_s + QString(u"ä"_s).repeated(107) +
                                    u" (extern geändert 2026-12-06 143005).md"_s)),
                 QByteArray("# A fremd"));
    }

    void aFileThatIsNoTextIsNeverReplacedUnseen() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store = makeStore(stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(9, 0))), u"Ideen"_s);
        // Listed as text, and rewritten in Latin-1 just before it is opened again.
        const QString a = at(u"Ideen/a.md"_s);
        QVERIFY(test::writeBytes(a, "# Gr\xFC\xDF"
                                    "e"));
        store->setSelectedSheetID(QUrl());
        store->setSelectedSheetID(QUrl::fromLocalFile(a));
        QCOMPARE(store->currentText(), QString());
        writeNow(*store, u"# Neu"_s);
        QCOMPARE(test::readBytes(a), QByteArray("# Neu"));
        QCOMPARE(test::readBytes(at(u"Ideen/a (extern geändert 2026-12-06 090000).md"_s)),
                 QByteArray("# Gr\xFC\xDF"
                            "e"));
    }

    void aSheetDeletedWhileOpenIsWrittenAgain() {
        put(u"Ideen/a.md"_s, "# A", 10);
        put(u"Ideen/b.md"_s, "# B", 30);
        auto store = makeStore({}, u"Ideen"_s);
        const QString a = at(u"Ideen/a.md"_s);
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);

        QVERIFY(QFile::remove(a));
        QTest::qWait(100);
        // Still open and listed: its text is all there is of it now.
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));
        QCOMPARE(store->currentText(), u"# A"_s);
        QVERIFY(fileNames(store->sheets()).contains(u"a.md"_s));
        QCOMPARE(told.count(), 0);

        writeNow(*store, u"# A wieder da"_s);
        QCOMPARE(test::readBytes(a), QByteArray("# A wieder da"));
        QCOMPARE(told.count(), 1);
        QCOMPARE(told.first().first().value<ExternalChange>().kind,
                 ExternalChange::Kind::Recreated);
        writeNow(*store, u"# A weiter"_s);
        QCOMPARE(told.count(), 1);

        // Deleted without an edit after it, it leaves the list with the selection.
        QVERIFY(QFile::remove(a));
        QTest::qWait(100);
        store->setSelectedSheetID(QUrl::fromLocalFile(at(u"Ideen/b.md"_s)));
        QVERIFY(!fileNames(store->sheets()).contains(u"a.md"_s));
        QVERIFY(!QFileInfo::exists(a));
        QCOMPARE(told.count(), 1);
    }

    void aGroupRenamedByAnotherProgramIsFollowed() {
        put(u"Ideen/a.md"_s, "# A", 10);
        put(u"Ideen/b.md"_s, "# B", 30);
        auto store = makeStore({}, u"Ideen"_s);
        const auto move = [&](const QString& from, const QString& to) {
            return ::rename(QFile::encodeName(at(from)).constData(),
                            QFile::encodeName(at(to)).constData()) == 0;
        };
        const auto shows = [&](const QString& group) {
            return store->selectedFolder() && store->selectedFolder()->name == group &&
                   store->selectedSheetID() == QUrl::fromLocalFile(at(group + u"/a.md"_s)) &&
                   fileNames(store->sheets()) == QStringList{u"a.md"_s, u"b.md"_s};
        };

        // Renamed while the text waits, and written before the watcher spoke.
        store->setCurrentText(u"# A getippt"_s);
        QVERIFY(move(u"Ideen"_s, u"Einfälle"_s));
        store->flushPendingSave();
        QVERIFY(!store->lastWriteFailed());
        QCOMPARE(test::readBytes(at(u"Einfälle/a.md"_s)), QByteArray("# A getippt"));
        QVERIFY(shows(u"Einfälle"_s));
        QVERIFY(!QFileInfo::exists(at(u"Ideen"_s)));

        // Seen by the watcher: the list shows the new name before any write.
        QVERIFY(move(u"Einfälle"_s, u"Ideen neu"_s));
        QTRY_VERIFY(shows(u"Ideen neu"_s));
        writeNow(*store, u"# A weiter"_s);
        QCOMPARE(test::readBytes(at(u"Ideen neu/a.md"_s)), QByteArray("# A weiter"));

        // As a sync tool renames: a new folder, the files moved over, the old one removed.
        store->setCurrentText(u"# A drüben"_s);
        QVERIFY(QDir().mkdir(at(u"Projekt X"_s)));
        QVERIFY(move(u"Ideen neu/a.md"_s, u"Projekt X/a.md"_s));
        QVERIFY(move(u"Ideen neu/b.md"_s, u"Projekt X/b.md"_s));
        QVERIFY(QDir().rmdir(at(u"Ideen neu"_s)));
        store->flushPendingSave();
        QCOMPARE(test::readBytes(at(u"Projekt X/a.md"_s)), QByteArray("# A drüben"));
        QTRY_VERIFY(shows(u"Projekt X"_s));
        QCOMPARE(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{u"Projekt X"_s, u"Projekte"_s, u"Schnelle Notiz"_s, u"Tagebuch"_s}));
    }

    // Devices, FIFOs and links to them are no sheets: listed, opened or
    // looked at again, they neither block the window nor read without end.
    void oddFilesNeitherHangNorNeverEnd() {
        put(u"Ideen/a.md"_s, "# A", 10);
        put(u"Ideen/b.md"_s, "# B", 30);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"Ideen/rohr.md"_s)).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, at(u"Ideen/null.md"_s)));
        auto store = makeStore({}, u"Ideen"_s);
        QCOMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"b.md"_s}));
        QCOMPARE(store->currentText(), u"# A"_s);

        // The open sheet replaced by a FIFO, the other by a link to a device.
        const QByteArray a = QFile::encodeName(at(u"Ideen/a.md"_s));
        QVERIFY(QFile::remove(at(u"Ideen/a.md"_s)));
        QCOMPARE(::mkfifo(a.constData(), 0600), 0);
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QVERIFY(QFile::link(u"/dev/zero"_s, at(u"Ideen/b.md"_s)));
        QTest::qWait(100);
        QCOMPARE(store->currentText(), u"# A"_s);
        // The text stays in the editor; what is there now is not replaced.
        writeNow(*store, u"# A neu"_s);
        QVERIFY(store->lastWriteFailed());
        struct stat st {};
        QCOMPARE(::stat(a.constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
        store->setSelectedSheetID(QUrl::fromLocalFile(at(u"Ideen/b.md"_s)));
        QCOMPARE(store->currentText(), QString());
        store->setSelectedFolderID(groupNamed(*store, u"Projekte"_s).url);
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        QCOMPARE(fileNames(store->sheets()), QStringList());
    }

    // A large sheet is listed from its head at once; the whole word count
    // follows from another thread, and so does what only the whole file
    // tells: that it is no UTF-8 after all.
    void aLargeSheetIsListedFromItsHead() {
        put(u"Ideen/gross.md"_s, "# Gross\n\n" + QByteArray("wort ").repeated(400000), 30);
        put(u"Ideen/klein.md"_s, "# Klein", 10);
        LibraryStore::Options options;
        options.headOnlyAbove = 1000;
        auto store = makeStore(options, u"Ideen"_s);
        const auto count = [&] {
            for (const Sheet& s : store->sheets())
                if (s.title == u"Gross")
                    return s.wordCount;
            return -1;
        };
        QVERIFY(count() > 0 && count() < 400002);
        QTRY_COMPARE(count(), 400002);

        QVERIFY(replaceByRename(at(u"Ideen/gross.md"_s),
                                "# Gross\n\n" + QByteArray("wort ").repeated(400000) + "\xFF"));
        QTRY_COMPARE(titles(store->sheets()), QStringList{u"Klein"_s});
    }

    // A name from an old archive that is no UTF-8: listed, opened and
    // written under its own bytes, never as a second file.
    void aNameThatIsNoUtf8KeepsItsFile() {
        put(u"Ideen/a.md"_s, "# A", 30);
        const QByteArray raw = QFile::encodeName(at(u"Ideen"_s)) + "/Br\xF6tchen.md";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "# Br\xC3\xB6tchen", 11), 11);
        ::close(fd);
        auto store = makeStore({}, u"Ideen"_s);
        QCOMPARE(titles(store->sheets()), (QStringList{u"Brötchen"_s, u"A"_s}));
        QCOMPARE(store->currentText(), u"# Brötchen"_s);
        writeNow(*store, u"# Brötchen\n\nvom Bäcker"_s);
        QVERIFY(!store->lastWriteFailed());
        QFile file;
        const int read = ::open(raw.constData(), O_RDONLY);
        QVERIFY(file.open(read, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        QCOMPARE(file.readAll(), u"# Brötchen\n\nvom Bäcker"_s.toUtf8());
        // Qt's listing cannot see that file, but would see a second one
        // under the replaced name.
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList(QDir::Files | QDir::Hidden).size(), 1);

        // Into the trash and back, under its own bytes each time.
        const QByteArray trashed = QFile::encodeName(at(u".Papierkorb"_s)) + "/Br\xF6tchen.md";
        struct stat st {};
        store->deleteSheet(store->sheets().first());
        QCOMPARE(::stat(trashed.constData(), &st), 0);
        QVERIFY(::stat(raw.constData(), &st) != 0);
        store->setSelectedFolderID(store->trash().folder().url);
        QCOMPARE(titles(store->sheets()), QStringList{u"Brötchen"_s});
        QVERIFY(store->restore(store->sheets().first()));
        QCOMPARE(::stat(raw.constData(), &st), 0);
        store->setSelectedFolderID(groupNamed(*store, u"Ideen"_s).url);
        store->deleteSheet(store->sheets().first());
        QVERIFY(!store->trash().isEmpty());
        store->emptyTrash();
        QVERIFY(::stat(trashed.constData(), &st) != 0);
        QVERIFY(store->trash().isEmpty());
    }

    void backupScheduleRunsOnItsOwn() {
        LibraryStore::Options options;
        options.firstBackupDelayMs = 50;
        options.backupIntervalMs = 60 * 60 * 1000;
        auto store = makeStore(options);
        const QString backups = m_dir->path() + u"/Backups"_s;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(backups + u"/.letzter-stand"_s), 10000);
        const QStringList snapshots = QDir(backups).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(snapshots.size(), 1);
        QVERIFY(QFileInfo::exists(backups + u'/' + snapshots[0] + u"/Ideen/willkommen.md"_s));
    }
};

ORVIK_TEST_MAIN(TestLibraryStore)
#include "tst_librarystore.moc"
