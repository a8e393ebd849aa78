#include "versionsview.h"

#include "appearance/palette.h"
#include "platform/files.h"
#include "safekeeping/trash.h"
#include "services.h"
#include "store/librarystore.h"
#include "ui/editor/editorpane.h"
#include "ui/editor/markdowneditor.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

const QString reading = u"Fassungen werden gelesen \u2026"_s;

QString germanDate(const QDateTime& date) {
    return QLocale(QLocale::German, QLocale::Germany)
        .toString(date.toLocalTime(), u"d. MMM yyyy, HH:mm"_s);
}

QString wordCount(int words) {
    return QString::number(words) + (words == 1 ? u" Wort"_s : u" Wörter"_s);
}

// The editor and the store hold a sheet's lines joined by "\n".
QString sheetText(const QByteArray& bytes) {
    QString text = QString::fromUtf8(bytes);
    text.replace(u"\r\n"_s, u"\n"_s);
    return text;
}

} // namespace

VersionsView::VersionsView(LibraryStore& store, EditorPane* pane, QWidget* parent)
    : QDialog(parent), m_store(store), m_pane(pane) {
    setWindowTitle(u"Versionen"_s);
    setAccessibleName(u"Versionen"_s);
    auto* layout = new QVBoxLayout(this);
    m_status = new QLabel(this);
    m_status->setAccessibleName(u"Hinweis"_s);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);

    auto* split = new QSplitter(Qt::Horizontal, this);
    m_list = new QListWidget(split);
    m_list->setAccessibleName(u"Frühere Fassungen"_s);
    auto* listLabel = new QLabel(u"&Fassungen:"_s, this);
    listLabel->setBuddy(m_list);
    m_text = new DiffView(split);
    m_text->setAccessibleName(u"Text der Fassung"_s);
    split->addWidget(m_list);
    split->addWidget(m_text);
    split->setStretchFactor(1, 3);
    // Wide enough for a whole row: date, words and change.
    const int listWidth = m_list->fontMetrics().horizontalAdvance(
                              u"00. Dez. 0000, 00:00 · 00000 Wörter · +0000 / −0000"_s) +
                          32;
    m_list->setMinimumWidth(listWidth);
    resize(listWidth + 560, 560);
    split->setSizes({listWidth, 520});
    layout->addWidget(listLabel);
    layout->addWidget(split, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_restore =
        buttons->addButton(u"Diese Fassung &wiederherstellen"_s, QDialogButtonBox::ActionRole);
    m_copy = buttons->addButton(u"Als neues &Blatt öffnen"_s, QDialogButtonBox::ActionRole);
    QPushButton* close = buttons->addButton(QDialogButtonBox::Close);
    close->setText(u"Schließen"_s);
    // Enter in the list must not close the window or restore by accident.
    for (QPushButton* b : {m_restore, m_copy, close})
        b->setAutoDefault(false);
    connect(m_restore, &QPushButton::clicked, this, &VersionsView::restoreSelected);
    connect(m_copy, &QPushButton::clicked, this, &VersionsView::openSelectedAsSheet);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    connect(m_list, &QListWidget::currentRowChanged, this, &VersionsView::showSelected);
    // Another sheet, or its text changed (typed, restored): once it settled.
    m_follow.setSingleShot(true);
    m_follow.setInterval(400);
    connect(&m_follow, &QTimer::timeout, this, &VersionsView::reload);
    connect(&store, &LibraryStore::selectedSheetIDChanged, this,
            [this] { QTimer::singleShot(0, this, &VersionsView::reload); });
    connect(&store, &LibraryStore::isReadingSheetChanged, this, [this] {
        if (!m_store.isReadingSheet())
            m_follow.start();
    });
    connect(&store, &LibraryStore::currentTextChanged, &m_follow, qOverload<>(&QTimer::start));
    enableButtons();
    reload();
}

QString VersionsView::status() const {
    return m_status->text();
}

void VersionsView::setStatus(const QString& text) {
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

QString VersionsView::changeText(const worddiff::Counts& counts) {
    return u"+"_s + QString::number(counts.inserted) + u" / \u2212"_s +
           QString::number(counts.removed);
}

const VersionsView::Entry* VersionsView::selectedEntry() const {
    const int row = m_list->currentRow();
    return row >= 0 && row < m_entries.size() ? &m_entries[row] : nullptr;
}

void VersionsView::enableButtons() {
    const bool chosen = selectedEntry() && !m_restoring;
    m_restore->setEnabled(chosen);
    m_copy->setEnabled(chosen);
}

void VersionsView::reload() {
    m_follow.stop();
    const std::optional<Sheet> sheet = m_store.selectedSheet();
    const bool inTrash = sheet && QFileInfo(sheet->path()).absolutePath() ==
                                      QFileInfo(m_store.trash().path()).absoluteFilePath();
    const QString keep = selectedEntry() && sheet && sheet->path() == m_sheetPath
                             ? selectedEntry()->version.snapshot
                             : QString();
    ++m_listGeneration;
    if (!sheet || inTrash) {
        m_sheetPath.clear();
        m_entries.clear();
        m_list->clear();
        m_text->clear();
        m_listing = false;
        setWindowTitle(u"Versionen"_s);
        setStatus(u"Kein Blatt ausgewählt"_s);
        enableButtons();
        return;
    }
    if (m_store.isReadingSheet())
        return; // the text now follows; so does the list
    if (sheet->path() != m_sheetPath) {
        m_entries.clear();
        m_list->clear();
        setStatus({});
    }
    m_sheetPath = sheet->path();
    m_relative = QDir(m_store.rootPath()).relativeFilePath(m_sheetPath);
    setWindowTitle(u"Versionen von \u201E"_s + sheet->title + u'\u201C');
    if (m_entries.isEmpty())
        setStatus(reading);
    m_listing = true;
    const quint64 generation = m_listGeneration;
    const QString relative = m_relative;
    const QString path = m_sheetPath;
    const QString current = m_store.currentText();
    // The application carries each answer back, not the window: one closed
    // meanwhile must not be the context of a continuation still due.
    m_store.backups()
        .snapshots()
        .then(QtFuture::Launch::Async,
              [relative, path, current](const QList<BackupManager::Snapshot>& snapshots) {
                  QList<Entry> entries;
                  QString newer = current;
                  for (const history::Version& v : history::versionsOf(snapshots, relative, path)) {
                      const QString text =
                          sheetText(files::readBytes(v.path).value_or(QByteArray()));
                      // The file may not hold the text shown yet (an undo, typing
                      // not yet written): no version of it either.
                      if (entries.isEmpty() && text == current)
                          continue;
                      entries.append({v, worddiff::countWords(worddiff::diff(text, newer))});
                      newer = text;
                  }
                  return entries;
              })
        .then(QCoreApplication::instance(),
              [this, self = QPointer(this), generation, keep](const QList<Entry>& entries) {
                  if (!self || generation != m_listGeneration)
                      return;
                  m_listing = false;
                  m_entries = entries;
                  const QSignalBlocker quiet(m_list);
                  m_list->clear();
                  int chosen = entries.isEmpty() ? -1 : 0;
                  for (qsizetype i = 0; i < entries.size(); ++i) {
                      const history::Version& v = entries[i].version;
                      m_list->addItem(germanDate(v.date) + u" \u00B7 "_s + wordCount(v.words) +
                                      u" \u00B7 "_s + changeText(entries[i].change));
                      if (v.snapshot == keep)
                          chosen = int(i);
                  }
                  m_list->setCurrentRow(chosen);
                  // What a restore or copy said stays until another sheet is shown.
                  if (entries.isEmpty())
                      setStatus(u"Keine früheren Fassungen"_s);
                  else if (status() == reading)
                      setStatus({});
                  showSelected();
              })
        .onCanceled(this, [this, generation] {
            if (generation == m_listGeneration)
                m_listing = false;
        });
}

void VersionsView::showSelected() {
    enableButtons();
    ++m_diffGeneration;
    const Entry* entry = selectedEntry();
    if (!entry) {
        m_pieces.clear();
        m_diffing = false;
        render();
        return;
    }
    m_diffing = true;
    const quint64 generation = m_diffGeneration;
    const QString path = entry->version.path;
    const QString current = m_store.currentText();
    QtConcurrent::run([path, current] {
        return worddiff::diff(sheetText(files::readBytes(path).value_or(QByteArray())), current);
    })
        .then(QCoreApplication::instance(),
              [this, self = QPointer(this), generation](const QList<worddiff::Piece>& pieces) {
                  if (!self || generation != m_diffGeneration)
                      return;
                  m_diffing = false;
                  m_pieces = pieces;
                  render();
              });
}

void VersionsView::render() {
    // In the colours of the sheet's own look, so that the marks read in every appearance.
    m_text->setLook(m_pane ? m_pane->editorStyle().palette : Palette::system());
    m_text->setDiff(m_pieces);
    const Entry* entry = selectedEntry();
    m_text->setAccessibleName(entry ? u"Fassung vom "_s + germanDate(entry->version.date)
                                    : u"Text der Fassung"_s);
    if (!entry)
        m_text->setAccessibleDescription({});
}

void VersionsView::restoreSelected() {
    const Entry* entry = selectedEntry();
    const std::optional<Sheet> sheet = m_store.selectedSheet();
    MarkdownEditor* editor = m_pane ? m_pane->editor() : nullptr;
    if (!entry || !sheet || sheet->path() != m_sheetPath || m_restoring)
        return;
    // The editor takes the text, so that its undo brings the replaced one back.
    if (!editor || editor->documentID() != m_sheetPath || editor->isReadOnly() ||
        editor->showsPlain()) {
        setStatus(u"Das Blatt lässt sich gerade nicht ändern."_s);
        return;
    }
    const history::Version version = entry->version;
    if (!services().confirm(this,
                            u"\u201E"_s + sheet->title + u"\u201C auf die Fassung vom "_s +
                                germanDate(version.date) +
                                u" zurücksetzen? Der jetzige Text bleibt in den Sicherungen."_s,
                            u"Diese Fassung wiederherstellen"_s))
        return;
    const std::optional<QByteArray> bytes = files::readBytes(version.path);
    if (!bytes) {
        setStatus(u"Die Fassung lässt sich nicht lesen."_s);
        return;
    }
    // The text now goes to the disk first, so that the snapshot holds it.
    m_store.flushPendingSave();
    m_restoring = true;
    enableButtons();
    setStatus(u"Der jetzige Stand wird gesichert \u2026"_s);
    const QString text = sheetText(*bytes);
    const QString relative = m_relative;
    const QString sheetPath = m_sheetPath;
    BackupManager& backups = m_store.backups();
    backups.runIfNeeded()
        .then(QtFuture::Launch::Async,
              [&backups, relative](const BackupManager::RunResult& backup) {
                  using Status = BackupManager::RunResult::Status;
                  const bool covered =
                      backup.status == Status::Unchanged || backup.status == Status::Made ||
                      (backup.status == Status::Incomplete && !backup.failed.contains(relative));
                  if (!covered)
                      return false;
                  // The next snapshot within the hour would otherwise thin away
                  // the text being replaced.
                  const QString holding = backup.madeSnapshot()
                                              ? backup.snapshot
                                              : backups.snapshots().result().value(0).path;
                  if (!holding.isEmpty())
                      files::writeNewAtomically(
                          holding + u'/' + QLatin1String(BackupManager::beforeRestoreName), {});
                  return true;
              })
        .then(QCoreApplication::instance(), [this, self = QPointer(this), text,
                                             sheetPath](bool covered) {
            if (!self)
                return;
            m_restoring = false;
            enableButtons();
            if (!covered) {
                setStatus(u"Der jetzige Stand ließ sich nicht sichern; das Blatt bleibt, wie es "
                          u"ist."_s);
                return;
            }
            MarkdownEditor* editor = m_pane ? m_pane->editor() : nullptr;
            if (!editor || editor->documentID() != sheetPath || editor->isReadOnly()) {
                setStatus(u"Das Blatt lässt sich gerade nicht ändern."_s);
                return;
            }
            // One edit: one step of the editor's undo.
            QTextCursor all(editor->document());
            all.beginEditBlock();
            all.select(QTextCursor::Document);
            all.insertText(text);
            all.endEditBlock();
            m_store.flushPendingSave();
            setStatus(u"Wiederhergestellt. Strg+Z im Editor holt den ersetzten Text zurück."_s);
            reload();
        });
}

void VersionsView::openSelectedAsSheet() {
    const Entry* entry = selectedEntry();
    const std::optional<Sheet> sheet = m_store.selectedSheet();
    if (!entry || !sheet || sheet->path() != m_sheetPath)
        return;
    const QString folder = QFileInfo(m_sheetPath).absolutePath();
    for (const Folder& group : m_store.folders()) {
        if (QFileInfo(group.path()).absoluteFilePath() != folder)
            continue;
        const QList<library::Imported> made = m_store.importFiles({entry->version.path}, group);
        if (made.isEmpty() || !made.first().ok())
            setStatus(made.isEmpty() ? u"Die Fassung ließ sich nicht kopieren."_s
                                     : made.first().refusal);
        return;
    }
    setStatus(u"Die Gruppe des Blatts ist nicht zu finden."_s);
}

} // namespace orvik::ui
