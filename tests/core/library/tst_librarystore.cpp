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

namespace {
// Runs once before the next fsync: when another program can take a new file's name.
std::function<void()> beforeNextSync;
} // namespace

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

// A folder where the file was: no write can replace it.
bool blockWithFolder(const QString& path) {
    return QFile::remove(path) && QDir().mkdir(path);
}

bool exists(const QByteArray& path) {
    struct stat st {};
    return ::stat(path.constData(), &st) == 0;
}

QStringList titles(const QList<Sheet>& sheets, bool fileNames = false) {
    QStringList list;
    for (const Sheet& s : sheets)
        list.append(fileNames ? QFileInfo(s.path()).fileName() : s.title);
    if (fileNames)
        list.sort();
    return list;
}
QStringList fileNames(const QList<Sheet>& sheets) {
    return titles(sheets, true);
}

Tweak stoppedAt(const QDateTime& moment) {
    return [moment](LibraryStore::Options& o) { o.clock = [moment] { return moment; }; };
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

    // Shows `group` at once when named.
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

    // Once the shown group is listed and the selected sheet read.
    static bool idle(const LibraryStore& store) {
        return QTest::qWaitFor([&] { return !store.isListing() && !store.isReadingSheet(); });
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
    static void show(LibraryStore& store, const QString& group) {
        store.setSelectedFolderID(groupNamed(store, group).url);
    }

    // Typed, then written at once.
    static void writeNow(LibraryStore& store, const QString& text) {
        store.setCurrentText(text);
        store.flushPendingSave();
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_fixture.contexts.clear();
    }

    void selection() {
        put(u"Ideen/alt.md"_s, "# Alt", 30);
        put(u"Ideen/neu.md"_s, "# Neu\nText", 10);
        auto store = makeStore(u"Ideen"_s);
        QCOMPARE(titles(store->sheets()), (QStringList{u"Neu"_s, u"Alt"_s}));
        QCOMPARE(store->currentText(), u"# Neu\nText"_s);
        // The same group again: nothing is read, nothing changes.
        QSignalSpy sheetsChanged(store.get(), &LibraryStore::sheetsChanged);
        show(*store, u"Ideen"_s);
        QCOMPARE(sheetsChanged.count(), 0);
        // An empty group clears the selection and writes nothing.
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        show(*store, u"Projekte"_s);
        QVERIFY(store->selectedSheetID().isEmpty() && store->currentText().isEmpty());
        QVERIFY(!saved.wait(80) && saved.isEmpty() && !store->hasPendingSave());
    }

    void typingIsCoalescedIntoOneWrite() {
        auto store = ideas(30, 10);
        store->setSelectedSheetID(url(u"Ideen/a.md"_s));
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        for (const QChar digit : u"0123456789"_s)
            store->setCurrentText(store->currentText() + digit);
        // The entry follows at once; the order waits for the write.
        QCOMPARE(titles(store->sheets()), (QStringList{u"B"_s, u"A0123456789"_s}));
        QCOMPARE(read(u"Ideen/a.md"_s), "# A");
        QTRY_COMPARE(saved.count(), 1);
        QCOMPARE(read(u"Ideen/a.md"_s), "# A0123456789");
        QTRY_COMPARE(titles(store->sheets()), (QStringList{u"A0123456789"_s, u"B"_s}));
        QVERIFY(!saved.wait(80) && saved.count() == 1);
        // A sheet with CR LF line ends keeps them; the editor works in line feeds.
        put(u"Ideen/c.md"_s, "# C\r\nText\r\n", 60);
        store->reloadSheets();
        store->setSelectedSheetID(url(u"Ideen/c.md"_s));
        QCOMPARE(store->currentText(), u"# C\nText\n"_s);
        writeNow(*store, u"# C\nText\nmehr"_s);
        QCOMPARE(read(u"Ideen/c.md"_s), "# C\r\nText\r\nmehr");
    }

    void waitingSaveIsWrittenBeforeEverythingElse() {
        auto store = ideas(30, 10);
        const QUrl a = url(u"Ideen/a.md"_s);
        const QDateTime aModified = QFileInfo(a.toLocalFile()).lastModified();
        // Switching sheets writes the old sheet's text into the old sheet, and only there.
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
        flushedBy("flush", [&] { store->flushPendingSave(); });
        flushedBy("create", [&] { store->quickNewSheet(); });
        show(*store, u"Ideen"_s);
        flushedBy("group change", [&] { show(*store, u"Projekte"_s); });
    }

    void searchHitsAndTheirSelection() {
        put(u"Ideen/apfel.md"_s, "# Äpfel\nEin Apfel am Tag", 30);
        put(u"Projekte/plan.md"_s, "# Plan\napfel apfel", 10);
        put(u".Papierkorb/weg.md"_s, "# Weg\napfel", 5);
        auto store = makeStore(u"Ideen"_s);
        const auto search = [&](const QString& query) {
            store->setSearchText(query);
            QTRY_VERIFY(!store->isSearching());
        };
        store->setSearchText(u" a"_s); // one character: nothing to search
        QVERIFY(!store->isSearching());
        QCOMPARE(store->visibleSheets(), store->sheets());
        store->setSearchScope(SearchScope::Library);
        store->setSearchText(u"apfel"_s);
        QVERIFY(store->isSearching());
        // A newer query supersedes the first: only its result is shown.
        search(u"apfel am"_s);
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"Äpfel"_s});
        search(u"apfel"_s);
        QCOMPARE(titles(store->visibleSheets()), (QStringList{u"Plan"_s, u"Äpfel"_s}));
        QCOMPARE(store->hitCount(store->visibleSheets().first()), 2);
        // A hit of another group is edited in place; only its row follows the write.
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
        // Shortening the query drops the hits: the sheet is no longer shown.
        store->setSearchText(u"a"_s);
        QVERIFY(store->searchHits().isEmpty() && !store->selectedSheet());
        QCOMPARE(store->selectedSheetID(), url(u"Projekte/plan.md"_s));
        // The trash is searched only as the selected group.
        store->setSelectedFolderID(store->trash().url());
        store->setSearchScope(SearchScope::Group);
        search(u"apfel"_s);
        QCOMPARE(titles(store->visibleSheets()), QStringList{u"Weg"_s});
    }

    void deletingRestoringAndEmptying() {
        put(u"Projekte/a.md"_s, "# A", 30);
        put(u"Projekte/b.md"_s, "# B", 20);
        put(u"Projekte/c.md"_s, "# C", 10);
        auto store = makeStore(u"Projekte"_s);
        const auto showTrash = [&] { store->setSelectedFolderID(store->trash().url()); };
        store->setSelectedSheetID(url(u"Projekte/b.md"_s));
        store->deleteSheet(*store->selectedSheet());
        // The newest sheet follows, not the neighbour.
        QCOMPARE(titles(store->sheets()), (QStringList{u"C"_s, u"A"_s}));
        QCOMPARE(store->selectedSheet()->title, u"C"_s);
        QVERIFY(QFileInfo::exists(at(u".Papierkorb/b.md"_s)));
        // Restoring into a group that vanished brings the group back.
        QVERIFY(QDir(at(u"Projekte"_s)).removeRecursively());
        showTrash();
        QCOMPARE(titles(store->sheets()), QStringList{u"B"_s});
        store->restore(store->sheets().first());
        QVERIFY(store->sheets().isEmpty() && QFileInfo::exists(at(u"Projekte/b.md"_s)));
        QCOMPARE(store->folders().at(2).name, u"Projekte"_s);
        // In the trash, deleting is for good.
        show(*store, u"Projekte"_s);
        store->deleteSheet(store->sheets().first());
        showTrash();
        store->deleteSheet(store->sheets().first());
        QVERIFY(QDir(at(u".Papierkorb"_s)).entryList({u"*.md"_s}).isEmpty());
        // Emptying the trash while a group is shown leaves that group alone...
        put(u"Ideen/x.md"_s, "# X", 1);
        show(*store, u"Ideen"_s);
        store->deleteSheet(*store->selectedSheet());
        const QUrl shown = store->selectedSheetID();
        store->emptyTrash();
        QCOMPARE(store->selectedSheetID(), shown);
        // ...and while a trashed sheet is shown empties the editor without writing.
        put(u".Papierkorb/y.md"_s, "# Y", 1);
        showTrash();
        QCOMPARE(store->currentText(), u"# Y"_s);
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        store->emptyTrash();
        QVERIFY(store->sheets().isEmpty() && store->selectedSheetID().isEmpty());
        QVERIFY(store->currentText().isEmpty() && !saved.wait(80) && saved.isEmpty());
        // A library-wide hit of another group is neither "restored" nor deleted for good.
        put(u"Ideen/treffer.md"_s, "# Treffer", 60);
        const Sheet hit = *Sheet::load(at(u"Ideen/treffer.md"_s));
        QVERIFY(!store->restore(hit));
        QCOMPARE(read(u"Ideen/treffer.md"_s), "# Treffer");
        store->deleteSheet(hit);
        QCOMPARE(read(u".Papierkorb/treffer.md"_s), "# Treffer");
        // A trashed sheet whose write keeps failing: once the trash is emptied
        // the waiting text never brings it back; restored, it is written there.
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

    void newSheets() {
        const QDateTime fixed(QDate(2026, 12, 5), QTime(10, 7, 30));
        auto store = makeStore(u"Tagebuch"_s, stoppedAt(fixed));
        const auto first = store->quickNewSheet();
        const auto second = store->quickNewSheet();
        QVERIFY(first && second);
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        QCOMPARE(first->path(), at(u"Schnelle Notiz/2026-12-05-100730.md"_s));
        QCOMPARE(second->path(), at(u"Schnelle Notiz/2026-12-05-100730-1.md"_s));
        QVERIFY(store->selectedSheetID() == second->url && store->sheets().size() == 2);
        QCOMPARE(first->title, u"2026-12-05-100730"_s); // "#" alone has no title text
        QCOMPARE(store->currentText(), u"#\n\n"_s);
        // A name another program takes while the new file is written stays its own.
        const QString taken = at(u"Schnelle Notiz/2026-12-05-100730-2.md"_s);
        beforeNextSync = [taken] { QVERIFY(test::writeBytes(taken, "fremd")); };
        const auto third = store->quickNewSheet();
        QCOMPARE(test::readBytes(taken), "fremd");
        QCOMPARE(third->path(), at(u"Schnelle Notiz/2026-12-05-100730-3.md"_s));
        QCOMPARE(test::readBytes(third->path()), "#\n\n");
        // A template goes to its group, dated in German by the store's clock;
        // unknown placeholders stay.
        const auto idea = store->createSheet(*Template::named(u"Projektidee"_s));
        QCOMPARE(store->selectedFolder()->name, u"Projekte"_s);
        QVERIFY(idea->preview.startsWith(u"Angelegt: 5. Dezember 2026 "_s));
        Template custom = Template::blank();
        custom.body = u"{{Datum}} {{zeit}} {{ort}}"_s;
        QCOMPARE(custom.render(fixed), u"{{Datum}} 10:07 {{ort}}"_s);
        // Without a quick-notes group the selected group takes the note.
        QVERIFY(QDir(at(u"Schnelle Notiz"_s)).removeRecursively());
        store->reloadFolders();
        show(*store, u"Ideen"_s);
        QCOMPARE(QFileInfo(store->quickNewSheet()->path()).dir().dirName(), u"Ideen"_s);
        // A group folder removed behind our back: nothing is created.
        const Folder projects = groupNamed(*store, u"Projekte"_s);
        QVERIFY(QDir(projects.path()).removeRecursively());
        const QList<Sheet> before = store->sheets();
        QVERIFY(!store->createSheet(Template::blank(), projects, fixed));
        QCOMPARE(store->sheets(), before);
        QVERIFY(!QFileInfo::exists(projects.path()));
    }

    void firstStartAndNewGroups() {
        auto store = makeStore();
        QCOMPARE(store->folders().last().name, u"Papierkorb"_s);
        QCOMPARE(store->selectedFolder()->name, u"Schnelle Notiz"_s);
        QVERIFY(store->selectedSheetID().isEmpty() && store->currentText().isEmpty());
        QVERIFY(QFileInfo(at(u".Papierkorb"_s)).isDir());
        const auto reisen = store->createFolder(u"  Reisen \t"_s);
        QVERIFY(reisen);
        QCOMPARE(reisen->path(), at(u"Reisen"_s));
        QCOMPARE(store->selectedFolderID(), reisen->url);
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
        QVERIFY(entry);
        QCOMPARE(store->selectedFolder()->name, u"Tagebuch"_s);
        QVERIFY(store->currentText().endsWith(u"werden geladen …*"_s));
        // The user writes above the loading block meanwhile.
        store->setCurrentText(store->currentText().replace(u"\n\n\n\n\n"_s, u"\nHeute.\n\n"_s));
        answer(0, u"**Wetter:** sonnig"_s);
        QVERIFY(store->currentText().contains(u"\nHeute.\n\n**Wetter:** sonnig"_s));
        QVERIFY(!store->currentText().contains(u"geladen"_s) && !store->hasPendingSave());
        QCOMPARE(QString::fromUtf8(test::readBytes(entry->path())), store->currentText());
        // An empty context gives the fallback; a sheet left meanwhile is fixed on disk.
        const auto second = store->newDiaryEntry();
        store->setSelectedSheetID(entry->url);
        answer(1, QString());
        QVERIFY(test::readBytes(second->path())
                    .endsWith("---\n\n*Wetter und Nachrichten waren nicht abrufbar.*"));
        // A removed loading block is left removed.
        const auto third = store->newDiaryEntry();
        store->setCurrentText(u"# Eigenes"_s);
        answer(2, u"**Wetter:** Regen"_s);
        QCOMPARE(store->currentText(), u"# Eigenes"_s);
        store->flushPendingSave();
        QCOMPARE(test::readBytes(third->path()), "# Eigenes");
        // A failed write keeps its text, and the context goes into it even when not shown.
        const auto fourth = store->newDiaryEntry();
        QVERIFY(blockWithFolder(fourth->path()));
        store->setCurrentText(store->currentText().replace(u"\n\n\n\n\n"_s, u"\nNur hier.\n\n"_s));
        store->flushPendingSave();
        QVERIFY(store->lastWriteFailed());
        store->setSelectedSheetID(entry->url);
        answer(3, u"**Wetter:** Schnee"_s);
        QVERIFY(QDir().rmdir(fourth->path()));
        store->flushPendingSave();
        QVERIFY(test::readBytes(fourth->path()).endsWith("\nNur hier.\n\n**Wetter:** Schnee"));
        // Two entries of one minute, answered in reverse order, keep their own context.
        const auto fifth = store->newDiaryEntry();
        const auto sixth = store->newDiaryEntry();
        QTRY_COMPARE(m_fixture.contexts.size(), 6);
        answer(5, u"sechster"_s);
        answer(4, u"fünfter"_s);
        QVERIFY(test::readBytes(fifth->path()).endsWith("\nfünfter"));
        QVERIFY(test::readBytes(sixth->path()).endsWith("\nsechster"));
    }

    void failedWritesAreKeptAndRetried() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store = makeStore(u"Ideen"_s);
        QVERIFY(blockWithFolder(at(u"Ideen/a.md"_s)));
        QSignalSpy failed(store.get(), &LibraryStore::lastWriteFailedChanged);
        writeNow(*store, u"# A wichtig"_s);
        QVERIFY(store->lastWriteFailed() && failed.count() == 1);
        QCOMPARE(store->currentText(), u"# A wichtig"_s);
        // Left for another group, the text waits; the next flush after the cause writes it.
        show(*store, u"Projekte"_s);
        QVERIFY(!store->lastWriteFailed());
        store->flushPendingSave();
        QVERIFY(QDir().rmdir(at(u"Ideen/a.md"_s)));
        store->flushPendingSave();
        QCOMPARE(read(u"Ideen/a.md"_s), "# A wichtig");
        show(*store, u"Ideen"_s);
        QVERIFY(store->currentText() == u"# A wichtig" && !store->lastWriteFailed());
    }

    void otherProgramsChangesAreShown() {
        auto store = ideas();
        const QString a = at(u"Ideen/a.md"_s);
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        QSignalSpy saved(store.get(), &LibraryStore::saved);
        // Renamed into place twice, then written in place (seen only by a new watch).
        QVERIFY(replaceByRename(a, "# A von drüben"));
        QTRY_COMPARE(store->currentText(), u"# A von drüben"_s);
        QVERIFY(replaceByRename(a, "# A noch einmal"));
        QTRY_COMPARE(store->currentText(), u"# A noch einmal"_s);
        QVERIFY(test::writeBytes(a, "# A an Ort und Stelle"));
        QTRY_COMPARE(store->currentText(), u"# A an Ort und Stelle"_s);
        QCOMPARE(titles(store->sheets()).first(), u"A an Ort und Stelle"_s);
        // A write in place may be seen half done first, and then again.
        QVERIFY(told.count() >= 3);
        const qsizetype heard = told.count();
        QCOMPARE(told.last().first().value<ExternalChange>().kind, ExternalChange::Kind::Reloaded);
        // Loading is no edit: nothing was written back.
        QVERIFY(!store->hasPendingSave() && !saved.wait(80) && saved.isEmpty());
        // Sheets that come and go, and a temporary file that is none.
        QVERIFY(test::writeBytes(at(u"Ideen/c.md"_s), "# C"));
        QVERIFY(test::writeBytes(at(u"Ideen/c.md.Xq81Zt"_s), "# halb"));
        QTRY_COMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"b.md"_s, u"c.md"_s}));
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QTRY_COMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"c.md"_s}));
        // The store's own writes are no news, nor is a touch.
        store->setCurrentText(u"# A meins"_s);
        QTRY_COMPARE(saved.count(), 1);
        QVERIFY(!told.wait(100) && told.count() == heard);
        QVERIFY(test::setModified(a, QDateTime::currentDateTime().addSecs(-5)));
        QVERIFY(!told.wait(100) && told.count() == heard);
        QCOMPARE(store->currentText(), u"# A meins"_s);
        writeNow(*store, u"# A meins, weiter"_s);
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList({u"*extern*"_s}), QStringList{});
    }

    void whenBothChangedNeitherIsLost() {
        put(u"Ideen/a.md"_s, "# A", 10);
        auto store =
            makeStore(u"Ideen"_s, stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5))));
        const QString a = at(u"Ideen/a.md"_s);
        const QString kept = u"Ideen/a (extern geändert 2026-12-06 143005).md"_s;
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        store->setCurrentText(u"# A meins"_s);
        QVERIFY(replaceByRename(a, "# A fremd"));
        // The watcher sees the change first; the waiting edit is not replaced.
        QTest::qWait(60);
        QCOMPARE(store->currentText(), u"# A meins"_s);
        store->flushPendingSave();
        QVERIFY(test::readBytes(a) == "# A meins" && read(kept) == "# A fremd");
        QCOMPARE(told.count(), 1);
        const auto change = told.first().first().value<ExternalChange>();
        QCOMPARE(change.kind, ExternalChange::Kind::KeptBoth);
        QCOMPARE(change.sheet, QUrl::fromLocalFile(a));
        QCOMPARE(u"Ideen/"_s + change.keptAs, kept);
        QTRY_VERIFY(fileNames(store->sheets()).contains(change.keptAs));
        QCOMPARE(store->selectedSheetID(), QUrl::fromLocalFile(a));
        // The same moment again: the name takes a counter; the first copy stays.
        store->setCurrentText(u"# A meins 2"_s);
        QVERIFY(test::writeBytes(a, "# A fremd 2"));
        store->flushPendingSave();
        QVERIFY(test::readBytes(a) == "# A meins 2" && read(kept) == "# A fremd");
        QCOMPARE(read(u"Ideen/a (extern geändert 2026-12-06 143005)-1.md"_s), "# A fremd 2");
        QCOMPARE(told.count(), 2);
        // Another program writing exactly the user's text is no conflict.
        store->setCurrentText(u"# A gleich"_s);
        QVERIFY(test::writeBytes(a, "# A gleich"));
        store->flushPendingSave();
        QCOMPARE(told.count(), 2);
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList({u"*extern*"_s}).size(), 2);
    }

    void keptBothUnderAnOddName_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("foreign");
        QTest::addColumn<bool>("reopened");
        QTest::addColumn<QString>("kept");
        const QString tag = u" (extern geändert 2026-12-06 143005).md"_s;
        // 227 bytes leave no room for the copy's date: its name is shortened.
        QTest::newRow("long name")
            << QString(u"ä"_s).repeated(112) + u".md"_s << QByteArray("# A fremd") << false
            << QString(u"ä"_s).repeated(107) + tag;
        // Listed as text, and rewritten in Latin-1 just before it is opened again.
        QTest::newRow("no text") << u"a.md"_s
                                 << QByteArray("# Gr\xFC\xDF"
                                               "e")
                                 << true << u"a"_s + tag;
    }
    void keptBothUnderAnOddName() {
        QFETCH(QString, name);
        QFETCH(QByteArray, foreign);
        QFETCH(bool, reopened);
        QFETCH(QString, kept);
        put(u"Ideen/"_s + name, "# A", 10);
        auto store =
            makeStore(u"Ideen"_s, stoppedAt(QDateTime(QDate(2026, 12, 6), QTime(14, 30, 5))));
        QCOMPARE(store->selectedSheetID(), url(u"Ideen/"_s + name));
        QVERIFY(test::writeBytes(at(u"Ideen/"_s + name), foreign));
        if (reopened) {
            store->setSelectedSheetID(QUrl());
            store->setSelectedSheetID(url(u"Ideen/"_s + name));
            QCOMPARE(store->currentText(), QString());
        }
        writeNow(*store, u"# Neu"_s);
        QCOMPARE(read(u"Ideen/"_s + name), "# Neu");
        QCOMPARE(read(u"Ideen/"_s + kept), foreign);
    }

    void aSheetDeletedWhileOpenIsWrittenAgain() {
        auto store = ideas();
        const QString a = at(u"Ideen/a.md"_s);
        QSignalSpy told(store.get(), &LibraryStore::changedOutside);
        QVERIFY(QFile::remove(a));
        QVERIFY(!told.wait(100));
        // Still open and listed: its text is all there is of it now.
        QVERIFY(store->selectedSheetID() == QUrl::fromLocalFile(a) &&
                store->currentText() == u"# A");
        QVERIFY(fileNames(store->sheets()).contains(u"a.md"_s));
        writeNow(*store, u"# A wieder da"_s);
        QCOMPARE(test::readBytes(a), "# A wieder da");
        QCOMPARE(told.count(), 1);
        QCOMPARE(told.first().first().value<ExternalChange>().kind,
                 ExternalChange::Kind::Recreated);
        writeNow(*store, u"# A weiter"_s);
        QCOMPARE(told.count(), 1);
        // Deleted without an edit after it, it leaves the list with the selection.
        QVERIFY(QFile::remove(a));
        QVERIFY(!told.wait(100));
        store->setSelectedSheetID(url(u"Ideen/b.md"_s));
        QVERIFY(!fileNames(store->sheets()).contains(u"a.md"_s) && !QFileInfo::exists(a));
        QCOMPARE(told.count(), 1);
    }

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
        // Renamed while the text waits, and written before the watcher spoke.
        store->setCurrentText(u"# A getippt"_s);
        QVERIFY(move(u"Ideen"_s, u"Einfälle"_s));
        store->flushPendingSave();
        QVERIFY(!store->lastWriteFailed());
        QCOMPARE(read(u"Einfälle/a.md"_s), "# A getippt");
        QVERIFY(shows(u"Einfälle"_s) && !QFileInfo::exists(at(u"Ideen"_s)));
        // Seen by the watcher: the list shows the new name before any write.
        QVERIFY(move(u"Einfälle"_s, u"Ideen neu"_s));
        QTRY_VERIFY(shows(u"Ideen neu"_s));
        writeNow(*store, u"# A weiter"_s);
        QCOMPARE(read(u"Ideen neu/a.md"_s), "# A weiter");
        // As a sync tool renames: a new folder, the files moved over, the old one removed.
        store->setCurrentText(u"# A drüben"_s);
        QVERIFY(QDir().mkdir(at(u"Projekt X"_s)));
        QVERIFY(move(u"Ideen neu/a.md"_s, u"Projekt X/a.md"_s));
        QVERIFY(move(u"Ideen neu/b.md"_s, u"Projekt X/b.md"_s));
        QVERIFY(QDir().rmdir(at(u"Ideen neu"_s)));
        store->flushPendingSave();
        QCOMPARE(read(u"Projekt X/a.md"_s), "# A drüben");
        QTRY_VERIFY(shows(u"Projekt X"_s));
        QCOMPARE(QDir(root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                 (QStringList{u"Projekt X"_s, u"Projekte"_s, u"Schnelle Notiz"_s, u"Tagebuch"_s}));
    }

    // FIFOs, devices and links to them are no sheets: they neither block nor read without end.
    void oddFilesNeitherHangNorNeverEnd() {
        const QByteArray a = QFile::encodeName(at(u"Ideen/a.md"_s));
        put(u"Ideen/a.md"_s, "# A", 10);
        put(u"Ideen/b.md"_s, "# B", 30);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"Ideen/rohr.md"_s)).constData(), 0600), 0);
        QVERIFY(QFile::link(u"/dev/zero"_s, at(u"Ideen/null.md"_s)));
        auto store = makeStore(u"Ideen"_s);
        QCOMPARE(fileNames(store->sheets()), (QStringList{u"a.md"_s, u"b.md"_s}));
        // The open sheet replaced by a FIFO, the other by a link to a device.
        QVERIFY(QFile::remove(at(u"Ideen/a.md"_s)) && ::mkfifo(a.constData(), 0600) == 0);
        QVERIFY(QFile::remove(at(u"Ideen/b.md"_s)));
        QVERIFY(QFile::link(u"/dev/zero"_s, at(u"Ideen/b.md"_s)));
        QTest::qWait(100);
        QCOMPARE(store->currentText(), u"# A"_s);
        // The text stays in the editor; what is there now is not replaced.
        writeNow(*store, u"# A neu"_s);
        QVERIFY(store->lastWriteFailed());
        struct stat st {};
        QVERIFY(::stat(a.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
        store->setSelectedSheetID(url(u"Ideen/b.md"_s));
        QCOMPARE(store->currentText(), QString());
        show(*store, u"Projekte"_s);
        show(*store, u"Ideen"_s);
        QCOMPARE(fileNames(store->sheets()), QStringList());
    }

    // Listed from its head at once; the word count, and that it is no UTF-8, follow later.
    void aLargeSheetIsListedFromItsHead() {
        const QByteArray large = "# Gross\n\n" + QByteArray("wort ").repeated(400000);
        put(u"Ideen/gross.md"_s, large, 30);
        put(u"Ideen/klein.md"_s, "# Klein", 10);
        auto store = makeStore(u"Ideen"_s, [](auto& o) { o.headOnlyAbove = 1000; });
        const auto count = [&] {
            for (const Sheet& s : store->sheets())
                if (s.title == u"Gross")
                    return s.wordCount;
            return -1;
        };
        QVERIFY(count() > 0 && count() < 400002);
        QTRY_COMPARE(count(), 400002);
        QVERIFY(replaceByRename(at(u"Ideen/gross.md"_s), large + "\xFF"));
        QTRY_COMPARE(titles(store->sheets()), QStringList{u"Klein"_s});
    }

    // A name that is no UTF-8 keeps its bytes through every step, never a second file.
    void aNameThatIsNoUtf8KeepsItsFile() {
        put(u"Ideen/a.md"_s, "# A", 30);
        const QByteArray raw = QFile::encodeName(at(u"Ideen"_s)) + "/Br\xF6tchen.md";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "# Br\xC3\xB6tchen", 11), 11);
        ::close(fd);
        auto store = makeStore(u"Ideen"_s);
        QCOMPARE(titles(store->sheets()), (QStringList{u"Brötchen"_s, u"A"_s}));
        QCOMPARE(store->currentText(), u"# Brötchen"_s);
        writeNow(*store, u"# Brötchen\n\nvom Bäcker"_s);
        QVERIFY(!store->lastWriteFailed());
        QFile file;
        QVERIFY(file.open(::open(raw.constData(), O_RDONLY), QIODevice::ReadOnly,
                          QFileDevice::AutoCloseHandle));
        QCOMPARE(file.readAll(), u"# Brötchen\n\nvom Bäcker"_s.toUtf8());
        // Qt's listing cannot see that file, but would see one under the replaced name.
        QCOMPARE(QDir(at(u"Ideen"_s)).entryList(QDir::Files | QDir::Hidden).size(), 1);
        const QByteArray trashed = QFile::encodeName(at(u".Papierkorb"_s)) + "/Br\xF6tchen.md";
        store->deleteSheet(store->sheets().first());
        QVERIFY(exists(trashed) && !exists(raw));
        store->setSelectedFolderID(store->trash().folder().url);
        QCOMPARE(titles(store->sheets()), QStringList{u"Brötchen"_s});
        QVERIFY(store->restore(store->sheets().first()) && exists(raw));
        show(*store, u"Ideen"_s);
        store->deleteSheet(store->sheets().first());
        QVERIFY(!store->trash().isEmpty());
        store->emptyTrash();
        QVERIFY(!exists(trashed) && store->trash().isEmpty());
    }

    void backupScheduleRunsOnItsOwn() {
        auto store = makeStore({}, [](auto& o) {
            o.backupSchedule = true;
            o.firstBackupDelayMs = 50;
        });
        const QString backups = m_dir->path() + u"/Backups"_s;
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(backups + u"/.letzter-stand"_s), 10000);
        const QStringList snapshots = QDir(backups).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(snapshots.size(), 1);
        QVERIFY(QFileInfo::exists(backups + u'/' + snapshots[0] + u"/Ideen/willkommen.md"_s));
    }

    // Each call returns before the folder is looked at or the large file
    // read: what blocks or takes long happens on another thread.
    void listingAndReadingLeaveTheThreadFree() {
        put(u"Ideen/klein.md"_s, "# Klein", 30);
        const QByteArray text = "# Gross\n\n" + QByteArray("wort ").repeated(100000);
        put(u"Ideen/gross.md"_s, text, 20);
        QCOMPARE(::mkfifo(QFile::encodeName(at(u"Ideen/rohr.md"_s)).constData(), 0600), 0);
        const int fd = ::open(QFile::encodeName(at(u"Ideen/riesig.md"_s)).constData(),
                              O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::ftruncate(fd, qint64(32) << 20) == 0);
        ::close(fd);
        const auto owned =
            makeStore({}, [](LibraryStore::Options& o) { o.listInBackground = true; });
        LibraryStore& store = *owned;
        QVERIFY(idle(store));

        // A group chosen and left at once: its listing never arrives.
        store.setSelectedFolderID(groupNamed(store, u"Ideen"_s).url);
        QVERIFY(store.isListing() && store.sheets().isEmpty());
        store.setSelectedFolderID(groupNamed(store, u"Projekte"_s).url);
        store.setSelectedFolderID(groupNamed(store, u"Ideen"_s).url);
        QTRY_VERIFY(!store.isListing());
        QCOMPARE(fileNames(store.sheets()),
                 (QStringList{u"gross.md"_s, u"klein.md"_s, u"riesig.md"_s}));

        // The newest, 32 MB of NUL bytes, is read; nothing typed meanwhile is taken, and
        // another sheet chosen stops the read.
        QCOMPARE(store.selectedSheetID(), url(u"Ideen/riesig.md"_s));
        QVERIFY(store.isReadingSheet() && store.currentText().isEmpty());
        store.setCurrentText(u"x"_s);
        QVERIFY(store.currentText().isEmpty() && !store.hasPendingSave());
        store.setSelectedSheetID(url(u"Ideen/gross.md"_s));
        QVERIFY(store.isReadingSheet());
        store.setSelectedSheetID(url(u"Ideen/klein.md"_s));
        QVERIFY(!store.isReadingSheet());
        QCOMPARE(store.currentText(), u"# Klein"_s);

        // Read to the end, it is written like any other.
        store.setSelectedSheetID(url(u"Ideen/gross.md"_s));
        QVERIFY(idle(store));
        QCOMPARE(store.currentText(), QString::fromUtf8(text));
        writeNow(store, u"# Gross"_s);
        QCOMPARE(read(u"Ideen/gross.md"_s), "# Gross");
        QCOMPARE(QFileInfo(at(u"Ideen/riesig.md"_s)).size(), qint64(32) << 20);
    }
};

ORVIK_TEST_MAIN(TestLibraryStore)
#include "tst_librarystore.moc"
