#include "platform/files.h"
#include "safekeeping/backupmanager.h"
#include "safekeeping/trash.h"
#include "store/librarystore.h"
#include "storefixture.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

using namespace orvik;

Q_DECLARE_METATYPE(orvik::ExternalChange)

// Runs once before the next fsync: when another program can take a new file's name.
static std::function<void()> beforeNextSync;

extern "C" int fsync(int fd) {
    if (const auto hook = std::exchange(beforeNextSync, nullptr))
        hook();
    return int(::syscall(SYS_fsync, fd));
}

namespace {
using Tweak = std::function<void(LibraryStore::Options&)>;

// As sync tools write: a whole new file renamed onto the old one.
bool replaceByRename(const QString& path, const QByteArray& bytes) {
    const QString incoming = QFileInfo(path).dir().filePath(u".syncthing.tmp"_s);
    return test::writeBytes(incoming, bytes) && ::rename(QFile::encodeName(incoming).constData(),
                                                         QFile::encodeName(path).constData()) == 0;
}

QStringList titles(const QList<Sheet>& sheets, bool fileNames = false) {
    QStringList list;
    for (const Sheet& s : sheets)
        list.append(fileNames ? QFileInfo(s.path()).fileName() : s.title);
    if (fileNames)
        list.sort();
    return list;
}
} // namespace

// The store on a temporary library, with short delays and a daily context handed out here.
class TestLibraryStore : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    test::StoreFixture m_fixture;

    QString root() const { return m_dir->path() + u"/Orvik"_s; }
    QString at(const QString& relative) const { return root() + u'/' + relative; }
    QUrl url(const QString& relative) const { return QUrl::fromLocalFile(at(relative)); }
    QByteArray read(const QString& relative) const { return test::readBytes(at(relative)); }
    static QStringList fileNames(const QList<Sheet>& sheets) { return titles(sheets, true); }
    static bool exists(const QByteArray& path) { return ::access(path.constData(), F_OK) == 0; }
    // A folder where the file was: no write can replace it.
    static bool blockWithFolder(const QString& p) { return QFile::remove(p) && QDir().mkdir(p); }
    static Tweak stoppedAt(const QDateTime& moment) {
        return [moment](LibraryStore::Options& o) { o.clock = [moment] { return moment; }; };
    }

    std::unique_ptr<LibraryStore> makeStore(const QString& group = {}, const Tweak& tweak = {}) {
        LibraryStore::Options options = m_fixture.options(m_dir->path(), 40);
        options.searchDelayMs = 10;
        options.watchDelayMs = 20;
        if (tweak)
            tweak(options);
        auto store = std::make_unique<LibraryStore>(options);
        if (!group.isEmpty())
            show(*store, group);
        return store;
    }

    // "Ideen" with the sheets a and b, shown.
    std::unique_ptr<LibraryStore> ideas(int aMinutesAgo = 10, int bMinutesAgo = 30) {
        put(u"Ideen/a.md"_s, "# A", aMinutesAgo);
        put(u"Ideen/b.md"_s, "# B", bMinutesAgo);
        return makeStore(u"Ideen"_s);
    }

    static bool idle(const LibraryStore& store) {
        return QTest::qWaitFor([&] { return !store.isListing() && !store.isReadingSheet(); });
    }

    void put(const QString& relative, const QByteArray& bytes, int minutesAgo) {
        QVERIFY(test::writeBytes(at(relative), bytes));
        QVERIFY(test::setModified(at(relative),
                                  QDateTime::currentDateTime().addSecs(-60 * minutesAgo)));
    }

    void show(LibraryStore& store, const QString& group) { store.setSelectedFolderID(url(group)); }

    static void writeNow(LibraryStore& store, const QString& text) {
        store.setCurrentText(text);
        store.flushPendingSave();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fixture.contexts.clear();
    }

    // Keystrokes make one write, the order waits for it; CR LF line ends survive an edit.
    void typingIsCoalescedIntoOneWrite() {
        auto store = ideas(30, 10);
        store->setSelectedSheetID(url(u"Ideen/a.md"_s));
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        for (const QChar digit : u"0123456789"_s)
            store->setCurrentText(store->currentText() + digit);
        QCOMPARE(titles(store->sheets()), (QStringList{u"B"_s, u"A0123456789"_s}));
        QCOMPARE(read(u"Ideen/a.md"_s), "# A");
        QTRY_COMPARE(saved.count(), 1);
        QCOMPARE(read(u"Ideen/a.md"_s), "# A0123456789");
        QTRY_COMPARE(titles(store->sheets()), (QStringList{u"A0123456789"_s, u"B"_s}));
        QVERIFY(!saved.wait(80) && saved.count() == 1);
        put(u"Ideen/c.md"_s, "# C\r\nText\r\n", 60);
        store->reloadSheets();
        store->setSelectedSheetID(url(u"Ideen/c.md"_s));
        QCOMPARE(store->currentText(), u"# C\nText\n"_s);
        writeNow(*store, u"# C\nText\nmehr"_s);
        QCOMPARE(read(u"Ideen/c.md"_s), "# C\r\nText\r\nmehr");
    }

    // A waiting text reaches its own sheet, and only it, before anything else happens.
    void waitingSaveIsWrittenBeforeEverythingElse() {
        auto store = ideas(30, 10);
        QSignalSpy relisted(store.get(), &LibraryStore::sheetsChanged);
        show(*store, u"Ideen"_s);
        QCOMPARE(relisted.count(), 0);
        const QUrl a = url(u"Ideen/a.md"_s);
        const QDateTime aModified = QFileInfo(a.toLocalFile()).lastModified();
        store->setCurrentText(u"# B neu"_s);
        store->setSelectedSheetID(a);
        QCOMPARE(read(u"Ideen/b.md"_s), "# B neu");
        QVERIFY(store->currentText() == u"# A" && !store->hasPendingSave());
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        QVERIFY(!saved.wait(80));
        QCOMPARE(QFileInfo(a.toLocalFile()).lastModified(), aModified);
        const auto flushedBy = [&](const char* what, const std::function<void()>& operation) {
            store->setSelectedSheetID(a);
            store->setCurrentText(u"# A "_s + QString::fromUtf8(what));
            operation();
            QVERIFY2(read(u"Ideen/a.md"_s) == QByteArray("# A ") + what, what);
        };
        flushedBy("search", [&] {
            store->setSearchText(u"zz"_s);
            QTRY_VERIFY(!store->isSearching());
            store->setSearchText(QString());
        });
        flushedBy("backup", [&] { store->backupNow(); });
        flushedBy("empty trash", [&] { store->emptyTrash(); });
        flushedBy("create", [&] { store->quickNewSheet(); });
        show(*store, u"Ideen"_s);
        flushedBy("group change", [&] { show(*store, u"Projekte"_s); });
        QVERIFY(store->selectedSheetID().isEmpty() && store->currentText().isEmpty());
        QVERIFY(!saved.wait(80) && !store->hasPendingSave());
    }

    // A newer query wins; the trash is no hit; a hit of another group is edited in place.
    void searchHitsAndTheirSelection() {
        put(u"Ideen/apfel.md"_s, "# Äpfel\nEin Apfel am Tag", 30);
        put(u"Projekte/plan.md"_s, "# Plan\napfel apfel", 10);
        put(u".Papierkorb/weg.md"_s, "# Weg\napfel", 5);
        auto store = makeStore(u"Ideen"_s);
        const auto search = [&](const QString& query) {
            store->setSearchText(query);
            QTRY_VERIFY(!store->isSearching());
        };
        store->setSearchScope(SearchScope::Library);
        store->setSearchText(u"apfel"_s);
        search(u"apfel am"_s);
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"Äpfel"_s});
        search(u"apfel"_s);
        QCOMPARE(titles(store->visibleSheets()), (QStringList{u"Plan"_s, u"Äpfel"_s}));
        QCOMPARE(store->hitCount(store->visibleSheets().first()), 2);
        const QList<Sheet> ideasSheets = store->sheets();
        store->setSelectedSheetID(url(u"Projekte/plan.md"_s));
        QCOMPARE(store->currentText(), u"# Plan\napfel apfel"_s);
        const QDateTime beforeSave = QDateTime::currentDateTime().addSecs(-1);
        writeNow(*store, u"# Plan B\napfel apfel birne"_s);
        QCOMPARE(read(u"Projekte/plan.md"_s), "# Plan B\napfel apfel birne");
        QCOMPARE(store->sheets(), ideasSheets);
        const Sheet shown = store->visibleSheets().first();
        QVERIFY(shown.title == u"Plan B" && shown.wordCount == 6 && shown.modified > beforeSave);
        QCOMPARE(store->selectedSheet(), shown);
        store->setSearchText(u"a"_s);
        QVERIFY(store->searchHits().isEmpty() && !store->selectedSheet());
        QCOMPARE(store->selectedSheetID(), url(u"Projekte/plan.md"_s));
    }

    // Deleting, emptying and restoring never write a trashed text back or touch the shown group.
    void deletingRestoringAndEmptying() {
        put(u"Projekte/a.md"_s, "# A", 30);
        put(u"Projekte/b.md"_s, "# B", 20);
        put(u"Projekte/c.md"_s, "# C", 10);
        auto store = makeStore(u"Projekte"_s);
        const auto showTrash = [&] { store->setSelectedFolderID(store->trash().url()); };
        store->setSelectedSheetID(url(u"Projekte/b.md"_s));
        store->deleteSheet(*store->selectedSheet());
        QCOMPARE(store->selectedSheet()->title, u"C"_s);
        put(u"Ideen/x.md"_s, "# X", 1);
        show(*store, u"Ideen"_s);
        store->deleteSheet(*store->selectedSheet());
        const QUrl shown = store->selectedSheetID();
        store->emptyTrash();
        QCOMPARE(store->selectedSheetID(), shown);
        put(u".Papierkorb/y.md"_s, "# Y", 1);
        showTrash();
        QCOMPARE(store->currentText(), u"# Y"_s);
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        store->emptyTrash();
        QVERIFY(store->currentText().isEmpty() && !saved.wait(80) && saved.isEmpty());
        put(u"Ideen/treffer.md"_s, "# Treffer", 60);
        const Sheet hit = *Sheet::load(at(u"Ideen/treffer.md"_s));
        QVERIFY(!store->restore(hit));
        store->deleteSheet(hit);
        QCOMPARE(read(u".Papierkorb/treffer.md"_s), "# Treffer");
        const auto failingInTrash = [&](const QString& name) {
            put(u".Papierkorb/"_s + name, "# Z", 1);
            show(*store, u"Ideen"_s);
            showTrash();
            QCOMPARE(store->selectedSheetID(), url(u".Papierkorb/"_s + name));
            QVERIFY(blockWithFolder(at(u".Papierkorb/"_s + name)));
            writeNow(*store, u"# Z neu"_s);
            QVERIFY(store->lastWriteFailed());
        };
        failingInTrash(u"z.md"_s);
        store->emptyTrash();
        QVERIFY(QDir().rmdir(at(u".Papierkorb/z.md"_s)));
        store->flushPendingSave();
        QVERIFY(!QFileInfo::exists(at(u".Papierkorb/z.md"_s)));
        failingInTrash(u"r.md"_s);
        QVERIFY(store->restore(*store->selectedSheet()));
        QVERIFY(QDir().rmdir(at(u"Ideen/r.md"_s)));
        store->flushPendingSave();
        QVERIFY(!QFileInfo::exists(at(u".Papierkorb/r.md"_s)));
        QCOMPARE(read(u"Ideen/r.md"_s), "# Z neu");
    }

    // A new sheet never replaces a file, not even one made mid-write, nor remakes a group.
    void newSheets() {
        const QDateTime fixed(QDate(2026, 12, 5), QTime(10, 7, 30));
        auto store = makeStore(u"Tagebuch"_s, stoppedAt(fixed));
        QCOMPARE(store->quickNewSheet()->path(), at(u"Schnelle Notiz/2026-12-05-100730.md"_s));
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        const QString taken = at(u"Schnelle Notiz/2026-12-05-100730-1.md"_s);
        beforeNextSync = [taken] { QVERIFY(test::writeBytes(taken, "fremd")); };
        QCOMPARE(store->quickNewSheet()->path(), at(u"Schnelle Notiz/2026-12-05-100730-2.md"_s));
        QCOMPARE(test::readBytes(taken), "fremd");
        const auto idea = store->createSheet(*Template::named(u"Projektidee"_s));
        QCOMPARE(store->selectedFolder()->name, u"Projekte"_s);
        QVERIFY(idea->preview.startsWith(u"Angelegt: 5. Dezember 2026 "_s));
        QVERIFY(QDir(at(u"Schnelle Notiz"_s)).removeRecursively());
        store->reloadFolders();
        show(*store, u"Ideen"_s);
        QCOMPARE(QFileInfo(store->quickNewSheet()->path()).dir().dirName(), u"Ideen"_s);
        const Folder projects = store->folders().at(1);
        QVERIFY(QDir(projects.path()).removeRecursively());
        const QList<Sheet> before = store->sheets();
        QVERIFY(!store->createSheet(Template::blank(), projects, fixed));
        QCOMPARE(store->sheets(), before);
        QVERIFY(!QFileInfo::exists(projects.path()));
    }

    // A new group's name is trimmed and reused; no name reaches outside or the trash.
    void newGroups() {
        auto store = makeStore();
        const auto reisen = store->createFolder(u"  Reisen \t"_s);
        QVERIFY(reisen && reisen->path() == at(u"Reisen"_s));
        QCOMPARE(store->createFolder(u"Reisen"_s)->url, reisen->url);
        for (const QString& bad : {u"   "_s, u".versteckt"_s, u".."_s, u"."_s, u"../draussen"_s,
                                   u"a/b"_s, u"papierkorb"_s}) {
            QVERIFY2(!store->createFolder(bad), qPrintable(bad));
            QCOMPARE(store->selectedFolderID(), reisen->url);
        }
        for (const QString& made :
             {m_dir->path() + u"/draussen"_s, at(u"a"_s), at(u"papierkorb"_s)})
            QVERIFY2(!QFileInfo::exists(made), qPrintable(made));
    }

    // A move renames the file: a waiting text goes first and along, the name is
    // kept or counted on, the open sheet stays open; the trash and outside are refused.
    void movingSheets() {
        put(u"Projekte/a.md"_s, "# A alt", 60);
        auto store = ideas(10, 30);
        const auto group = [&](const QString& name) {
            return *std::find_if(store->folders().cbegin(), store->folders().cend(),
                                 [&](const Folder& f) { return f.name == name; });
        };
        const QDateTime bWhen = QFileInfo(at(u"Ideen/b.md"_s)).lastModified();
        QSignalSpy moved(store.get(), &LibraryStore::sheetMoved);
        store->setCurrentText(u"# A getippt"_s);
        QCOMPARE(store->moveSheet(url(u"Ideen/a.md"_s), group(u"Projekte"_s)),
                 at(u"Projekte/a-1.md"_s));
        QVERIFY(!store->hasPendingSave() && !QFileInfo::exists(at(u"Ideen/a.md"_s)));
        QCOMPARE(read(u"Projekte/a-1.md"_s), "# A getippt");
        QCOMPARE(read(u"Projekte/a.md"_s), "# A alt");
        QCOMPARE(moved.count(), 1);
        QCOMPARE(store->selectedFolder()->name, u"Projekte"_s);
        QCOMPARE(store->selectedSheetID(), url(u"Projekte/a-1.md"_s));
        QCOMPARE(store->currentText(), u"# A getippt"_s);
        QCOMPARE(fileNames(store->sheets()), (QStringList{u"a-1.md"_s, u"a.md"_s}));
        writeNow(*store, u"# A weiter"_s);
        QVERIFY(read(u"Projekte/a-1.md"_s) == "# A weiter" &&
                !QFileInfo::exists(at(u"Ideen/a.md"_s)));
        QCOMPARE(store->moveSheet(url(u"Ideen/b.md"_s), group(u"Projekte"_s)),
                 at(u"Projekte/b.md"_s));
        QCOMPARE(QFileInfo(at(u"Projekte/b.md"_s)).lastModified(), bWhen);
        QCOMPARE(read(u"Projekte/b.md"_s), "# B");
        QCOMPARE(fileNames(store->sheets()), (QStringList{u"a-1.md"_s, u"a.md"_s, u"b.md"_s}));
        QCOMPARE(store->selectedSheetID(), url(u"Projekte/a-1.md"_s));
        put(u".Papierkorb/t.md"_s, "# T", 1);
        put(u"../draussen.md"_s, "# D", 1);
        for (const auto& [from, to] :
             {std::pair{at(u"Projekte/a.md"_s), store->trash().folder()},
              std::pair{at(u".Papierkorb/t.md"_s), group(u"Ideen"_s)},
              std::pair{m_dir->path() + u"/draussen.md"_s, group(u"Ideen"_s)},
              std::pair{at(u"Projekte/fehlt.md"_s), group(u"Ideen"_s)}})
            QVERIFY2(!store->moveSheet(QUrl::fromLocalFile(from), to), qPrintable(from));
        QVERIFY(QFileInfo::exists(at(u"Projekte/a.md"_s)) &&
                QFileInfo::exists(at(u".Papierkorb/t.md"_s)));
        QCOMPARE(moved.count(), 1);
    }

    // Only the writer's own groups are renamed or deleted: renamed as "Neue Gruppe"
    // names, deleted into the trash, from where a sheet brings its group back.
    void renamingAndDeletingGroups() {
        put(u"Rezepte/r1.md"_s, "# R1", 10);
        put(u"Rezepte/r2.md"_s, "# R2", 20);
        put(u"Rezepte/r3.md"_s, "# R3", 30);
        auto store = makeStore(u"Rezepte"_s);
        const auto group = [&](const QString& name) -> std::optional<Folder> {
            for (const Folder& f : store->folders())
                if (f.name == name)
                    return f;
            return std::nullopt;
        };
        store->deleteSheet(*Sheet::load(at(u"Rezepte/r3.md"_s)));
        const Folder rezepte = *group(u"Rezepte"_s);
        for (const QString& bad :
             {u"Projekte"_s, u"  "_s, u".versteckt"_s, u".."_s, u"a/b"_s, u"Papierkorb"_s})
            QVERIFY2(!store->renameFolder(rezepte, bad), qPrintable(bad));
        for (const Folder& fixed : {*group(u"Ideen"_s), store->trash().folder()}) {
            QVERIFY(!store->renameFolder(fixed, u"Anders"_s));
            QVERIFY(store->deleteFolder(fixed).refused);
        }
        store->setCurrentText(u"# R1 getippt"_s);
        const auto kueche = store->renameFolder(rezepte, u" Küche\t"_s);
        QVERIFY(kueche && kueche->path() == at(u"Küche"_s) && !QFileInfo::exists(rezepte.path()));
        QCOMPARE(read(u"Küche/r1.md"_s), "# R1 getippt");
        QCOMPARE(store->selectedFolderID(), kueche->url);
        QCOMPARE(store->selectedSheetID(), url(u"Küche/r1.md"_s));
        QVERIFY(test::writeBytes(at(u"Küche/liste.txt"_s), "Mehl"));
        const auto kept = store->deleteFolder(*kueche);
        QVERIFY(!kept.removed() && kept.left == QStringList{u"liste.txt"_s});
        QCOMPARE(kept.trashed.size(), 2);
        QVERIFY(store->sheets().isEmpty() && store->selectedSheetID().isEmpty());
        QVERIFY(QFile::remove(at(u"Küche/liste.txt"_s)));
        QVERIFY(store->deleteFolder(*kueche).removed());
        QVERIFY(!QFileInfo::exists(at(u"Küche"_s)) && !group(u"Küche"_s));
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        for (const QString& name : {u"r1.md"_s, u"r3.md"_s})
            QVERIFY(store->restore(*Sheet::load(at(u".Papierkorb/"_s + name))));
        QCOMPARE(read(u"Küche/r1.md"_s), "# R1 getippt");
        QCOMPARE(read(u"Küche/r3.md"_s), "# R3");
        QVERIFY(group(u"Küche"_s));
    }

    // A late context fills only its loading block, of its own entry, shown or not.
    void diaryContextArrivesLater() {
        auto store = makeStore();
        QSignalSpy done(store.get(), &LibraryStore::dailyContextDone);
        int answered = 0;
        const auto answer = [&](qsizetype n, const QString& block) {
            QTRY_VERIFY(m_fixture.contexts.size() > n);
            m_fixture.contexts[n]->addResult(block);
            m_fixture.contexts[n]->finish();
            ++answered;
            QTRY_COMPARE(done.count(), answered);
        };
        const auto entry = store->newDiaryEntry();
        store->setCurrentText(store->currentText().replace(u"\n\n\n\n\n"_s, u"\nHeute.\n\n"_s));
        answer(0, u"**Wetter:** sonnig"_s);
        QVERIFY(store->currentText().contains(u"\nHeute.\n\n**Wetter:** sonnig"_s));
        QVERIFY(!store->currentText().contains(u"geladen"_s) && !store->hasPendingSave());
        QCOMPARE(QString::fromUtf8(test::readBytes(entry->path())), store->currentText());
        const auto third = store->newDiaryEntry();
        store->setCurrentText(u"# Eigenes"_s);
        answer(1, u"**Wetter:** Regen"_s);
        store->flushPendingSave();
        QCOMPARE(test::readBytes(third->path()), "# Eigenes");
        const auto fourth = store->newDiaryEntry();
        QVERIFY(blockWithFolder(fourth->path()));
        store->setCurrentText(store->currentText().replace(u"\n\n\n\n\n"_s, u"\nNur hier.\n\n"_s));
        store->flushPendingSave();
        QVERIFY(store->lastWriteFailed());
        store->setSelectedSheetID(entry->url);
        answer(2, u"**Wetter:** Schnee"_s);
        QVERIFY(QDir().rmdir(fourth->path()));
        store->flushPendingSave();
        QVERIFY(test::readBytes(fourth->path()).endsWith("\nNur hier.\n\n**Wetter:** Schnee"));
        const auto fifth = store->newDiaryEntry();
        const auto sixth = store->newDiaryEntry();
        answer(4, u"sechster"_s);
        answer(3, u"fünfter"_s);
        QVERIFY(test::readBytes(fifth->path()).endsWith("\nfünfter"));
        QVERIFY(test::readBytes(sixth->path()).endsWith("\nsechster"));
    }

    // A failed write keeps its text, and the next flush after the cause is gone writes it.
    void failedWritesAreKeptAndRetried() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store = makeStore(u"Ideen"_s);
        QVERIFY(blockWithFolder(at(u"Ideen/a.md"_s)));
        QSignalSpy failed(store.get(), &LibraryStore::lastWriteFailedChanged);
        writeNow(*store, u"# A wichtig"_s);
        QVERIFY(store->lastWriteFailed() && failed.count() == 1);
        show(*store, u"Projekte"_s);
        QVERIFY(!store->lastWriteFailed());
        QVERIFY(QDir().rmdir(at(u"Ideen/a.md"_s)));
        store->flushPendingSave();
        QCOMPARE(read(u"Ideen/a.md"_s), "# A wichtig");
        show(*store, u"Ideen"_s);
        QVERIFY(store->currentText() == u"# A wichtig" && !store->lastWriteFailed());
    }

    // Others' writes are loaded without a write back; our own writes and a touch are no news.
    void otherProgramsChangesAreShown() {
        auto store = ideas();
        const QString a = at(u"Ideen/a.md"_s);
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        QVERIFY(replaceByRename(a, "# A von drüben"));
        QTRY_COMPARE(store->currentText(), u"# A von drüben"_s);
        QVERIFY(replaceByRename(a, "# A noch einmal"));
        QTRY_COMPARE(store->currentText(), u"# A noch einmal"_s);
        QVERIFY(test::writeBytes(a, "# A an Ort und Stelle"));
        QTRY_COMPARE(store->currentText(), u"# A an Ort und Stelle"_s);
        const qsizetype heard = told.count(); // a write in place may be seen half done first
        QVERIFY(heard >= 3);
        QCOMPARE(told.last().first().value<ExternalChange>().kind, ExternalChange::Kind::Reloaded);
        QVERIFY(!store->hasPendingSave() && !saved.wait(80) && saved.isEmpty());
        QVERIFY(test::writeBytes(at(u"Ideen/c.md"_s), "# C"));
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QTRY_COMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"c.md"_s}));
        store->setCurrentText(u"# A meins"_s);
        QTRY_COMPARE(saved.count(), 1);
        QVERIFY(test::setModified(a, QDateTime::currentDateTime().addSecs(-5)));
        QVERIFY(!told.wait(100) && told.count() == heard);
        writeNow(*store, u"# A meins, weiter"_s);
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList({u"*extern*"_s}), QStringList{});
    }

    void whenBothChangedNeitherIsLost_data() {
        QTest::addColumn<QByteArray>("foreign");
        QTest::addColumn<bool>("reopened");
        QTest::newRow("renamed in") << QByteArray("# A fremd") << false;
        // Listed as text, and rewritten in Latin-1 just before it is opened again.
        QTest::newRow("no text") << QByteArray("# Gr\xFC\xDF"
                                               "e")
                                 << true;
    }
    // What another program wrote under an edit is kept beside it, never replaced.
    void whenBothChangedNeitherIsLost() {
        QFETCH(QByteArray, foreign);
        QFETCH(bool, reopened);
        const QString a = at(u"Ideen/a.md"_s);
        const QString kept = u"a (extern geändert 2026-12-06 143005).md"_s;
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store =
            makeStore(u"Ideen"_s, stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5))));
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        if (reopened) {
            QVERIFY(test::writeBytes(a, foreign));
            store->setSelectedSheetID(QUrl());
            store->setSelectedSheetID(QUrl::fromLocalFile(a));
            QCOMPARE(store->currentText(), QString());
        } else {
            store->setCurrentText(u"# A meins"_s);
            QVERIFY(replaceByRename(a, foreign));
            QTest::qWait(60); // the watcher sees it first; the waiting edit stays
            QCOMPARE(store->currentText(), u"# A meins"_s);
        }
        writeNow(*store, u"# Neu"_s);
        QCOMPARE(test::readBytes(a), "# Neu");
        QCOMPARE(read(u"Ideen/"_s + kept), foreign);
        if (reopened)
            return;
        QCOMPARE(told.count(), 1);
        const auto change = told.first().first().value<ExternalChange>();
        QVERIFY(change.kind == ExternalChange::Kind::KeptBoth && change.keptAs == kept);
        QCOMPARE(change.sheet, QUrl::fromLocalFile(a));
        QTRY_VERIFY(fileNames(store->sheets()).contains(kept));
        store->setCurrentText(u"# A gleich"_s);
        QVERIFY(test::writeBytes(a, "# A gleich"));
        store->flushPendingSave();
        QCOMPARE(told.count(), 1);
    }

    // What sync tools keep in the library for themselves is no group, sheet, hit or backup.
    void syncToolsFilesAreNoSheets() {
        put(u"Ideen/a.md"_s, "# A sync", 10);
        const QStringList own{u".stignore"_s,           u".stversions/Ideen/a~20261206-143005.md"_s,
                              u".stfolder/x.md"_s,      u".syncthing.a.md.tmp"_s,
                              u"~syncthing~a.md.tmp"_s, u".sync_4f2a9c.db"_s,
                              u".sync_4f2a9c.db-wal"_s, u".owncloudsync.log"_s,
                              u"a.md.part"_s,           u".~lock.a.md#"_s};
        for (const QString& name : own)
            for (const QString& where : {QString(), u"Ideen/"_s})
                put(where + name, "# Fremd sync", 5);
        auto store = makeStore(u"Ideen"_s);
        QStringList groups;
        for (const Folder& f : store->folders())
            groups.append(f.name);
        QCOMPARE(groups, (QStringList{u"Schnelle Notiz"_s, u"Ideen"_s, u"Projekte"_s, u"Tagebuch"_s,
                                      u"Papierkorb"_s}));
        QCOMPARE(fileNames(store->sheets()), QStringList{u"a.md"_s});
        store->setSearchScope(SearchScope::Library);
        store->setSearchText(u"sync"_s);
        QTRY_VERIFY(!store->isSearching());
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"A sync"_s});
        QStringList backedUp;
        for (const auto& file : BackupManager::collectFiles(root(), m_dir->path() + u"/B"_s))
            backedUp.append(file.relative);
        QCOMPARE(backedUp, QStringList{u"Ideen/a.md"_s});
    }

    void conflictCopiesAreSettled_data() {
        QTest::addColumn<bool>("take");
        QTest::addColumn<bool>("sheetThere");
        QTest::addColumn<bool>("editing"); // the sheet open with a text not yet written
        QTest::addColumn<bool>("trashBlocked");
        QTest::addColumn<QByteArray>("sheet"); // afterwards
        QTest::addColumn<QList<QByteArray>>("trashed");
        const QByteArray mine = "# A", theirs = "# A drüben", edited = "# A meins";
        QTest::newRow("keep") << false << true << false << false << mine << QList{theirs};
        QTest::newRow("take") << true << true << false << false << theirs << QList{mine};
        QTest::newRow("take while typing")
            << true << true << true << false << theirs << QList{edited};
        QTest::newRow("take, sheet gone")
            << true << false << false << false << theirs << QList<QByteArray>{};
        QTest::newRow("keep, sheet gone")
            << false << false << false << false << QByteArray() << QList<QByteArray>{};
        QTest::newRow("trash unusable")
            << true << true << false << true << mine << QList<QByteArray>{};
    }
    // Settling a conflict deletes nothing: what is dropped lies in the trash, restorable beside.
    void conflictCopiesAreSettled() {
        QFETCH(bool, take);
        QFETCH(bool, sheetThere);
        QFETCH(bool, editing);
        QFETCH(bool, trashBlocked);
        QFETCH(QByteArray, sheet);
        QFETCH(QList<QByteArray>, trashed);
        const QString copy = u"Ideen/a.sync-conflict-20261206-143005-ABCDEFG.md"_s;
        if (sheetThere)
            put(u"Ideen/a.md"_s, "# A", 10);
        put(copy, "# A drüben", 5);
        if (trashBlocked)
            QVERIFY(QDir().mkpath(at(u".Papierkorb/eintraege.json"_s)));
        auto store = makeStore(u"Ideen"_s);
        QCOMPARE(store->selectedSheetID(), url(copy));
        if (editing) {
            store->setSelectedSheetID(url(u"Ideen/a.md"_s));
            store->setCurrentText(u"# A meins"_s);
        }
        const bool done = store->resolveConflict(url(copy), take ? ConflictChoice::TakeCopy
                                                                 : ConflictChoice::KeepOriginal);
        QCOMPARE(done, !sheet.isEmpty() && !trashBlocked);
        QList<QByteArray> inTrash;
        for (const QString& name : QDir(at(u".Papierkorb"_s)).entryList({u"*.md"_s}))
            inTrash.append(read(u".Papierkorb/"_s + name));
        QCOMPARE(inTrash, trashed);
        if (!done) {
            QCOMPARE(read(copy), "# A drüben");
            QCOMPARE(QFileInfo::exists(at(u"Ideen/a.md"_s)), sheetThere);
            return;
        }
        QVERIFY(!QFileInfo::exists(at(copy)));
        QCOMPARE(read(u"Ideen/a.md"_s), sheet);
        QCOMPARE(fileNames(store->sheets()), QStringList{u"a.md"_s});
        QCOMPARE(store->selectedSheetID(), url(u"Ideen/a.md"_s));
        QCOMPARE(store->currentText(), QString::fromUtf8(sheet));
        if (take && !trashed.isEmpty()) {
            const auto back = store->trash().restore(
                at(u".Papierkorb/"_s + QDir(at(u".Papierkorb"_s)).entryList({u"*.md"_s})[0]),
                root());
            QVERIFY(back && *back != at(u"Ideen/a.md"_s) && test::readBytes(*back) == trashed[0]);
            QCOMPARE(read(u"Ideen/a.md"_s), sheet);
        }
    }

    // A sheet deleted while open is written again when edited, and said so once.
    void aSheetDeletedWhileOpenIsWrittenAgain() {
        auto store = ideas();
        const QString a = at(u"Ideen/a.md"_s);
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        QVERIFY(QFile::remove(a));
        QVERIFY(!told.wait(100));
        QVERIFY(store->currentText() == u"# A" && fileNames(store->sheets()).contains(u"a.md"_s));
        writeNow(*store, u"# A wieder da"_s);
        QCOMPARE(test::readBytes(a), "# A wieder da");
        QCOMPARE(told.count(), 1);
        QCOMPARE(told[0][0].value<ExternalChange>().kind, ExternalChange::Kind::Recreated);
        writeNow(*store, u"# A weiter"_s);
        QVERIFY(QFile::remove(a));
        QVERIFY(!told.wait(100));
        store->setSelectedSheetID(url(u"Ideen/b.md"_s));
        QVERIFY(!fileNames(store->sheets()).contains(u"a.md"_s) && !QFileInfo::exists(a));
        QCOMPARE(told.count(), 1);
    }

    // A group renamed under a waiting text is followed, the old name not made again.
    void aGroupRenamedByAnotherProgramIsFollowed() {
        auto store = ideas();
        const auto move = [&](const QString& from, const QString& to) {
            return ::rename(QFile::encodeName(at(from)).constData(),
                            QFile::encodeName(at(to)).constData()) == 0;
        };
        const auto shows = [&](const QString& group) {
            return store->selectedFolder() && store->selectedFolder()->name == group &&
                   store->selectedSheetID() == url(group + u"/a.md"_s) &&
                   fileNames(store->sheets()) == QStringList{u"a.md"_s, u"b.md"_s};
        };
        store->setCurrentText(u"# A getippt"_s);
        QVERIFY(move(u"Ideen"_s, u"Einfälle"_s));
        store->flushPendingSave();
        QCOMPARE(read(u"Einfälle/a.md"_s), "# A getippt");
        QVERIFY(shows(u"Einfälle"_s) && !store->lastWriteFailed());
        store->setCurrentText(u"# A drüben"_s);
        QVERIFY(QDir().mkdir(at(u"Projekt X"_s)));
        QVERIFY(move(u"Einfälle/a.md"_s, u"Projekt X/a.md"_s));
        QVERIFY(move(u"Einfälle/b.md"_s, u"Projekt X/b.md"_s));
        QVERIFY(QDir().rmdir(at(u"Einfälle"_s)));
        store->flushPendingSave();
        QCOMPARE(read(u"Projekt X/a.md"_s), "# A drüben");
        QTRY_VERIFY(shows(u"Projekt X"_s));
        QCOMPARE(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{u"Projekt X"_s, u"Projekte"_s, u"Schnelle Notiz"_s, u"Tagebuch"_s}));
    }

    // An open sheet replaced by a FIFO or a link to a device neither hangs nor is replaced.
    void oddFilesNeitherHangNorNeverEnd() {
        auto store = ideas();
        const QByteArray a = QFile::encodeName(at(u"Ideen/a.md"_s));
        QVERIFY(QFile::remove(at(u"Ideen/a.md"_s)) && ::mkfifo(a.constData(), 0600) == 0);
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QVERIFY(QFile::link(u"/dev/zero"_s, at(u"Ideen/b.md"_s)));
        QTest::qWait(100);
        QCOMPARE(store->currentText(), u"# A"_s);
        writeNow(*store, u"# A neu"_s);
        QVERIFY(store->lastWriteFailed());
        struct stat st {};
        QVERIFY(::stat(a.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        store->setSelectedSheetID(url(u"Ideen/b.md"_s));
        QCOMPARE(store->currentText(), QString());
    }

    // Listed from its head at once; the word count, and that it is no UTF-8, follow later.
    void aLargeSheetIsListedFromItsHead() {
        const QByteArray large = "# Gross\n\n" + QByteArray("wort ").repeated(400000);
        put(u"Ideen/gross.md"_s, large, 30);
        put(u"Ideen/klein.md"_s, "# Klein", 10);
        auto store = makeStore(u"Ideen"_s, [](auto& o) { o.headOnlyAbove = 1000; });
        const auto count = [&] { return store->sheets().last().wordCount; };
        QVERIFY(count() > 0 && count() < 400002);
        QTRY_COMPARE(count(), 400002);
        QVERIFY(replaceByRename(at(u"Ideen/gross.md"_s), large + "\xFF"));
        QTRY_COMPARE(titles(store->sheets()), QStringList{u"Klein"_s});
    }

    // A name that is no UTF-8 keeps its bytes through a write and into the trash.
    void aNameThatIsNoUtf8KeepsItsFile() {
        const QByteArray raw = QFile::encodeName(at(u"Ideen"_s)) + "/Br\xF6tchen.md";
        QVERIFY(QDir().mkpath(at(u"Ideen"_s)));
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "# Br\xC3\xB6tchen", 11) == 11);
        ::close(fd);
        auto store = makeStore(u"Ideen"_s);
        QCOMPARE(store->currentText(), u"# Brötchen"_s);
        writeNow(*store, u"# Brötchen\n\nvom Bäcker"_s);
        QVERIFY(!store->lastWriteFailed());
        QCOMPARE(*files::readBytes(files::decodeName(raw)), u"# Brötchen\n\nvom Bäcker"_s.toUtf8());
        // Qt's listing cannot see that file, but would see one under the replaced name.
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList(QDir::Files | QDir::Hidden).size(), 0);
        const QByteArray trashed = QFile::encodeName(at(u".Papierkorb"_s)) + "/Br\xF6tchen.md";
        store->deleteSheet(store->sheets().first());
        QVERIFY(exists(trashed) && !exists(raw));
    }

    void backupScheduleRunsOnItsOwn() {
        auto store = makeStore({}, [](auto& o) {
            o.backupSchedule = true;
            o.firstBackupDelayMs = 50;
        });
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_dir->path() + u"/Backups/.letzter-stand"_s),
                                 10000);
    }

    // Listing and reading happen off this thread; what was left meanwhile never arrives.
    void listingAndReadingLeaveTheThreadFree() {
        put(u"Ideen/klein.md"_s, "# Klein", 30);
        const QByteArray text = "# Gross\n\n" + QByteArray("wort ").repeated(100000);
        put(u"Ideen/gross.md"_s, text, 20);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"Ideen/rohr.md"_s)).constData(), 0600), 0);
        QVERIFY(test::writeBytes(at(u"Ideen/riesig.md"_s), {}) &&
                QFile::resize(at(u"Ideen/riesig.md"_s), qint64(32) << 20));
        auto store = makeStore({}, [](LibraryStore::Options& o) { o.listInBackground = true; });
        show(*store, u"Ideen"_s);
        QVERIFY(store->isListing() && store->sheets().isEmpty());
        show(*store, u"Projekte"_s);
        show(*store, u"Ideen"_s);
        QTRY_VERIFY(!store->isListing());
        QCOMPARE(fileNames(store->sheets()),
                 (QStringList{u"gross.md"_s, u"klein.md"_s, u"riesig.md"_s}));
        QCOMPARE(store->selectedSheetID(), url(u"Ideen/riesig.md"_s));
        QVERIFY(store->isReadingSheet() && store->currentText().isEmpty());
        store->setCurrentText(u"x"_s);
        QVERIFY(store->currentText().isEmpty() && !store->hasPendingSave());
        store->setSelectedSheetID(url(u"Ideen/klein.md"_s));
        QVERIFY(!store->isReadingSheet());
        QCOMPARE(store->currentText(), u"# Klein"_s);
        store->setSelectedSheetID(url(u"Ideen/gross.md"_s));
        QVERIFY(idle(*store));
        QCOMPARE(store->currentText(), QString::fromUtf8(text));
    }
};

ORVIK_TEST_MAIN(TestLibraryStore)
#include "tst_librarystore.moc"
