#include "sidebar.h"

#include "library/library.h"
#include "services.h"
#include "sheetlist.h"
#include "store/librarystore.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

constexpr int urlRole = Qt::UserRole + 1;

QString symbolFor(Folder::Kind kind) {
    switch (kind) {
    case Folder::Kind::Diary:
        return u"book.closed"_s;
    case Folder::Kind::Ideas:
        return u"lightbulb"_s;
    case Folder::Kind::Projects:
        return u"square.stack.3d.up"_s;
    case Folder::Kind::Quick:
        return u"bolt"_s;
    case Folder::Kind::Custom:
        return u"folder"_s;
    case Folder::Kind::Trash:
        return u"trash"_s;
    }
    return u"folder"_s;
}

// Rows of the group list. With a palette of its own chrome the selected row
// carries a rounded mark in the palette's selection colour instead of the
// style's highlight, so that the sepia look stays calm.
class GroupDelegate : public QStyledItemDelegate {
public:
    GroupDelegate(const SidebarView* sidebar, QObject* parent)
        : QStyledItemDelegate(parent), m_sidebar(sidebar) {}

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        const bool themed = m_sidebar->editorStyle().palette.overridesChrome;
        return size + QSize(themed ? 16 : 0, themed ? 10 : 4);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const Palette& palette = m_sidebar->editorStyle().palette;
        if (!palette.overridesChrome) {
            // The desktop draws the selection; the extra height is the padding.
            QStyledItemDelegate::paint(painter, option, index);
            paintFocus(painter, option, QRectF(option.rect).adjusted(2, 2, -2, -2),
                       option.state & QStyle::State_Selected
                           ? option.palette.color(QPalette::HighlightedText)
                           : option.palette.color(QPalette::Highlight));
            return;
        }
        const QPalette& qt = option.palette;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->fillRect(option.rect, palette.color(Palette::Role::Sidebar, qt));
        if (option.state & QStyle::State_Selected) {
            QPainterPath mark;
            mark.addRoundedRect(QRectF(option.rect).adjusted(6, 1, -6, -1), 6, 6);
            painter->fillPath(mark, palette.color(Palette::Role::Selection, qt));
        }
        paintFocus(painter, option, QRectF(option.rect).adjusted(7, 2, -7, -2),
                   palette.color(Palette::Role::Link, qt));
        QStyleOptionViewItem content = option;
        initStyleOption(&content, index);
        const QRect inner = option.rect.adjusted(8 + 6, 5, -8, -5);
        const int iconSize = content.decorationSize.height();
        const QRect iconRect(inner.left(), inner.center().y() - iconSize / 2 + 1, iconSize,
                             iconSize);
        content.icon.paint(painter, iconRect);
        painter->setPen(palette.color(Palette::Role::Text, qt));
        painter->setFont(content.font);
        const QRect textRect = inner.adjusted(iconSize + 6, 0, 0, 0);
        painter->drawText(
            textRect, Qt::AlignVCenter | Qt::AlignLeft,
            content.fontMetrics.elidedText(content.text, Qt::ElideRight, textRect.width()));
        painter->restore();
    }

private:
    // Whatever the desktop's style draws for focus, or not: the keyboard's
    // row is outlined in every look, also when it is the selected one.
    static void paintFocus(QPainter* painter, const QStyleOptionViewItem& option,
                           const QRectF& ring, const QColor& colour) {
        if (!(option.state & QStyle::State_HasFocus))
            return;
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(colour, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(ring, 5, 5);
        painter->restore();
    }

    const SidebarView* m_sidebar;
};

} // namespace

SidebarView::SidebarView(LibraryStore& store, QWidget* parent) : QWidget(parent), m_store(store) {
    setObjectName(u"sidebar"_s);
    setAccessibleName(u"Orvik"_s);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(4);

    m_header = new QLabel(u"Bibliothek"_s, this);
    QFont headerFont = m_header->font();
    headerFont.setBold(true);
    headerFont.setPointSizeF(headerFont.pointSizeF() * 0.85);
    m_header->setFont(headerFont);
    m_header->setContentsMargins(14, 0, 8, 2);
    layout->addWidget(m_header);

    m_list = new QListWidget(this);
    m_list->setObjectName(u"groups"_s);
    m_list->setAccessibleName(u"Bibliothek"_s);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setItemDelegate(new GroupDelegate(this, m_list));
    m_list->setIconSize(QSize(16, 16));
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_list, 1);

    m_newGroup = new QToolButton(this);
    m_newGroup->setObjectName(u"newGroup"_s);
    m_newGroup->setText(u"Neue Gruppe"_s);
    m_newGroup->setAccessibleName(u"Neue Gruppe"_s);
    m_newGroup->setIcon(symbolIcon(u"plus"_s));
    m_newGroup->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_newGroup->setAutoRaise(true);
    m_newGroup->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_newGroup->setFocusPolicy(Qt::StrongFocus);
    auto* bar = new QWidget(this);
    auto* barLayout = new QVBoxLayout(bar);
    barLayout->setContentsMargins(16 - 4, 10 - 4, 16 - 4, 10 - 4);
    barLayout->addWidget(m_newGroup);
    layout->addWidget(bar);

    connect(m_newGroup, &QToolButton::clicked, this, &SidebarView::openNewGroupDialog);
    // The selection, not the current row: assistive technology selects a
    // row without moving the current one, and clicks and arrows select too.
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const QList<QListWidgetItem*> chosen = m_list->selectedItems();
        if (m_syncing || chosen.isEmpty())
            return;
        m_store.setSelectedFolderID(chosen.first()->data(urlRole).toUrl());
    });
    // Sheet rows dragged from the list land on a group; the menu key and
    // Shift+F10 open the menu of the keyboard's row.
    m_list->setAcceptDrops(true);
    m_list->viewport()->setAcceptDrops(true);
    m_list->setDropIndicatorShown(true);
    m_list->installEventFilter(this);
    m_list->viewport()->installEventFilter(this);
    auto* rename = new QAction(u"Umbenennen \u2026"_s, m_list);
    rename->setShortcut(QKeySequence(Qt::Key_F2));
    rename->setShortcutContext(Qt::WidgetShortcut);
    connect(rename, &QAction::triggered, this, [this] {
        if (const auto group = currentFolder(); group && group->kind == Folder::Kind::Custom)
            openRenameDialog(*group);
    });
    m_list->addAction(rename);
    connect(&m_store, &LibraryStore::foldersChanged, this, &SidebarView::rebuild);
    connect(&m_store, &LibraryStore::selectedFolderIDChanged, this, &SidebarView::showSelection);
    rebuild();
    applyColours();
}

void SidebarView::setEditorStyle(const MarkdownHighlighter::Style& style) {
    if (style == m_style)
        return;
    m_style = style;
    applyColours();
    m_list->doItemsLayout();
    m_list->viewport()->update();
    update();
}

void SidebarView::applyColours() {
    const Palette& palette = m_style.palette;
    const bool themed = palette.overridesChrome;
    QPalette qt = QWidget::palette();
    const QColor quote = palette.color(Palette::Role::Quote, qt);
    QPalette button = m_newGroup->palette();
    button.setColor(QPalette::ButtonText, quote);
    button.setColor(QPalette::WindowText, quote);
    m_newGroup->setPalette(button);
    QPalette header = m_header->palette();
    header.setColor(QPalette::WindowText, quote);
    m_header->setPalette(header);
    // The list draws on the column's ground, never on a white field of its own.
    QPalette list = m_list->palette();
    const QColor ground =
        themed ? palette.color(Palette::Role::Sidebar, qt) : qt.color(QPalette::Window);
    list.setColor(QPalette::Base, ground);
    if (themed)
        list.setColor(QPalette::Highlight, palette.color(Palette::Role::Selection, qt));
    else
        list.setBrush(QPalette::Highlight, qt.brush(QPalette::Highlight));
    m_list->setPalette(list);
}

void SidebarView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& qt = QWidget::palette();
    painter.fillRect(rect(), m_style.palette.overridesChrome
                                 ? m_style.palette.color(Palette::Role::Sidebar, qt)
                                 : qt.color(QPalette::Window));
}

void SidebarView::rebuild() {
    m_syncing = true;
    m_list->clear();
    for (const Folder& folder : m_store.folders()) {
        auto* item = new QListWidgetItem(symbolIcon(symbolFor(folder.kind)), folder.name, m_list);
        item->setData(urlRole, folder.url);
    }
    m_syncing = false;
    showSelection();
}

void SidebarView::showSelection() {
    m_syncing = true;
    const QUrl selected = m_store.selectedFolderID();
    QListWidgetItem* current = nullptr;
    for (int i = 0; i < m_list->count(); ++i)
        if (m_list->item(i)->data(urlRole).toUrl() == selected)
            current = m_list->item(i);
    if (current)
        m_list->setCurrentItem(current);
    else
        m_list->clearSelection();
    m_syncing = false;
    m_list->viewport()->update();
}

std::optional<Folder> SidebarView::folderAt(const QPoint& viewportPos) const {
    const QListWidgetItem* item = m_list->itemAt(viewportPos);
    if (!item)
        return std::nullopt;
    const QUrl url = item->data(urlRole).toUrl();
    for (const Folder& f : m_store.folders())
        if (f.url == url)
            return f;
    return std::nullopt;
}

std::optional<Folder> SidebarView::currentFolder() const {
    const QListWidgetItem* item = m_list->currentItem();
    return item ? folderAt(m_list->visualItemRect(item).center()) : std::nullopt;
}

bool SidebarView::eventFilter(QObject* watched, QEvent* event) {
    // The mouse's menu comes to the rows' viewport, the keyboard's to the list.
    if ((watched == m_list || watched == m_list->viewport()) &&
        event->type() == QEvent::ContextMenu) {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        const QListWidgetItem* current = m_list->currentItem();
        QPoint at = menuEvent->pos();
        if (menuEvent->reason() == QContextMenuEvent::Keyboard)
            at = current ? m_list->visualItemRect(current).center() : QPoint();
        else if (watched == m_list)
            at = m_list->viewport()->mapFrom(m_list, at);
        if (const auto group = folderAt(at)) {
            QMenu* menu = groupMenu(*group, this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(m_list->viewport()->mapToGlobal(at));
        }
        return true;
    }
    if (watched != m_list->viewport())
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        const QList<QUrl> dragged = draggedSheets(drag->mimeData());
        if (dragged.isEmpty() && !droppedFiles(drag->mimeData()).isEmpty()) {
            // Files from outside are copied in, into any group but the trash.
            const auto group = folderAt(drag->position().toPoint());
            drag->setDropAction(Qt::CopyAction);
            if ((group && group->kind != Folder::Kind::Trash) || event->type() == QEvent::DragEnter)
                drag->accept();
            else
                drag->ignore();
            return true;
        }
        // Anything else dragged in is for whoever else takes it.
        if (dragged.isEmpty())
            return QWidget::eventFilter(watched, event);
        const auto group = folderAt(drag->position().toPoint());
        // Not onto the trash (the row menu puts there) nor the sheets' own group.
        const bool fits = group && group->kind != Folder::Kind::Trash &&
                          std::any_of(dragged.cbegin(), dragged.cend(), [&](const QUrl& url) {
                              return QFileInfo(url.toLocalFile()).absolutePath() != group->path();
                          });
        if (fits || event->type() == QEvent::DragEnter)
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QList<QUrl> dragged = draggedSheets(drop->mimeData());
        if (const QStringList files = droppedFiles(drop->mimeData());
            dragged.isEmpty() && !files.isEmpty()) {
            const auto group = folderAt(drop->position().toPoint());
            if (!group || group->kind == Folder::Kind::Trash) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            Q_EMIT filesDropped(files, *group);
            return true;
        }
        if (dragged.isEmpty())
            return QWidget::eventFilter(watched, event);
        const auto group = folderAt(drop->position().toPoint());
        if (group && group->kind != Folder::Kind::Trash) {
            drop->acceptProposedAction();
            moveSheets(m_store, dragged, *group);
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

QMenu* SidebarView::groupMenu(const Folder& group, QWidget* parent) {
    auto* menu = new QMenu(parent);
    const bool own = group.kind == Folder::Kind::Custom;
    QAction* newSheet = menu->addAction(u"Neues Blatt in dieser Gruppe"_s, this,
                                        [this, group] { Q_EMIT newSheetRequested(group); });
    newSheet->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
    newSheet->setEnabled(group.kind != Folder::Kind::Trash);
    menu->addSeparator();
    QAction* rename =
        menu->addAction(u"Umbenennen \u2026"_s, this, [this, group] { openRenameDialog(group); });
    rename->setShortcut(QKeySequence(Qt::Key_F2));
    rename->setEnabled(own);
    menu->addAction(u"Gruppe löschen \u2026"_s, this, [this, group] { deleteGroup(group); })
        ->setEnabled(own);
    return menu;
}

void SidebarView::openRenameDialog(const Folder& group) {
    if (m_renameDialog || group.kind != Folder::Kind::Custom)
        return;
    auto* dialog = new QDialog(window());
    m_renameDialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(u"Gruppe umbenennen"_s);
    dialog->setAccessibleName(u"Gruppe umbenennen"_s);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(new QLabel(u"Wie soll die Gruppe „"_s + group.name + u"“ heißen?"_s, dialog));
    auto* name = new QLineEdit(group.name, dialog);
    name->setObjectName(u"groupName"_s);
    name->setAccessibleName(u"Name"_s);
    name->selectAll();
    layout->addWidget(name);
    auto* problem = new QLabel(dialog);
    problem->setObjectName(u"renameProblem"_s);
    problem->setWordWrap(true);
    problem->hide();
    layout->addWidget(problem);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* rename = buttons->addButton(u"Umbenennen"_s, QDialogButtonBox::AcceptRole);
    rename->setDefault(true);
    buttons->addButton(u"Abbrechen"_s, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    // The dialog stays with its reason when the name cannot be the group's.
    connect(buttons, &QDialogButtonBox::accepted, dialog, [this, dialog, name, problem, group] {
        if (m_store.renameFolder(group, name->text())) {
            dialog->accept();
            return;
        }
        const QString wanted = name->text().trimmed();
        const QFileInfo taken(QDir(m_store.rootPath()).filePath(wanted));
        problem->setText(wanted != group.name && !wanted.isEmpty() && !wanted.contains(u'/') &&
                                 taken.exists()
                             ? u"Eine Gruppe „"_s + wanted + u"“ gibt es schon."_s
                             : u"So kann keine Gruppe heißen."_s);
        problem->setAccessibleName(problem->text());
        problem->show();
        name->setFocus();
    });
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    name->setFocus();
}

void SidebarView::deleteGroup(const Folder& group) {
    if (group.kind != Folder::Kind::Custom)
        return;
    const qsizetype count = library::sheetFiles(group.path()).size();
    const QString name = u"„"_s + group.name + u"“"_s;
    const QString question =
        count == 0   ? u"Gruppe "_s + name + u" in den Papierkorb legen?"_s
        : count == 1 ? u"Gruppe "_s + name + u" und ihr Blatt in den Papierkorb legen?"_s
                     : u"Gruppe "_s + name + u" und ihre "_s + QString::number(count) +
                           u" Blätter in den Papierkorb legen?"_s;
    if (!services().confirm(this, question, u"In den Papierkorb"_s))
        return;
    const LibraryStore::FolderDeletion done = m_store.deleteFolder(group);
    if (done.removed())
        return;
    QStringList names;
    for (const QString& left : done.left)
        names.append(u"„"_s + left + u"“"_s);
    Q_EMIT told(u"Der Ordner "_s + name + u" bleibt, denn darin liegt noch: "_s +
                names.join(u", "_s) + u'.');
}

void SidebarView::openNewGroupDialog() {
    if (m_dialog)
        return;
    auto* dialog = new QDialog(window());
    m_dialog = dialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(u"Neue Gruppe"_s);
    dialog->setAccessibleName(u"Neue Gruppe"_s);
    auto* layout = new QVBoxLayout(dialog);
    auto* title = new QLabel(u"Neue Gruppe"_s, dialog);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);
    layout->addWidget(new QLabel(u"Wie soll die Gruppe heißen?"_s, dialog));
    // A new field each time: the dialog never offers the previous name.
    auto* name = new QLineEdit(dialog);
    name->setObjectName(u"groupName"_s);
    name->setPlaceholderText(u"Name"_s);
    name->setAccessibleName(u"Name"_s);
    layout->addWidget(name);
    auto* buttons = new QDialogButtonBox(dialog);
    QPushButton* create = buttons->addButton(u"Anlegen"_s, QDialogButtonBox::AcceptRole);
    create->setDefault(true);
    buttons->addButton(u"Abbrechen"_s, QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    connect(dialog, &QDialog::accepted, this, [this, name] { m_store.createFolder(name->text()); });
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
    name->setFocus();
}

} // namespace orvik::ui
