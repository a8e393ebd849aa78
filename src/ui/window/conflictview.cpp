#include "conflictview.h"

#include "diffview.h"
#include "library/sheet.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>
#include <QtConcurrent>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

struct Read {
    bool complete = false; // both files there and readable
    QString title;         // the sheet's
    QList<worddiff::Piece> pieces;
};

// The editor and the store hold a sheet's lines joined by "\n".
std::optional<QString> readText(const QString& path) {
    const std::optional<QByteArray> bytes = files::readBytes(path);
    if (!bytes)
        return std::nullopt;
    QString text = QString::fromUtf8(*bytes);
    text.replace(u"\r\n"_s, u"\n"_s);
    return text;
}

QWidget* labelled(QLabel* label, QWidget* content, QWidget* parent) {
    auto* column = new QWidget(parent);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    // Which side is the sheet must be plain at a glance.
    QFont heading = label->font();
    heading.setBold(true);
    label->setFont(heading);
    label->setBuddy(content);
    content->setAccessibleName(label->text());
    layout->addWidget(label);
    layout->addWidget(content, 1);
    return column;
}

} // namespace

QString ConflictView::origin(const library::ConflictName& name) {
    const QString who = name.engine == library::ConflictEngine::Syncthing   ? u"Syncthing"_s
                        : name.engine == library::ConflictEngine::Nextcloud ? u"Nextcloud"_s
                                                                            : u"von außerhalb"_s;
    return who + u", "_s +
           QLocale(QLocale::German, QLocale::Germany).toString(name.date, u"d. MMM yyyy, HH:mm"_s);
}

ConflictView::ConflictView(LibraryStore& store, const QUrl& copy, const Palette& look,
                           QWidget* parent)
    : QDialog(parent), m_store(store), m_copy(copy) {
    const QFileInfo info(copy.toLocalFile());
    const std::optional<library::ConflictName> name = library::parseConflictName(info.fileName());
    m_original = name ? QUrl::fromLocalFile(info.dir().filePath(name->originalName)) : QUrl();
    setWindowTitle(u"Vergleichen"_s);
    resize(920, 600);

    auto* layout = new QVBoxLayout(this);
    auto* intro = new QLabel(u"Von diesem Blatt gibt es zwei Fassungen. Hervorgehoben ist, was "
                             u"nur in einer der beiden steht. Was du nicht behältst, kommt in "
                             u"den Papierkorb."_s,
                             this);
    intro->setWordWrap(true);
    layout->addWidget(intro);
    m_status = new QLabel(this);
    m_status->setAccessibleName(u"Hinweis"_s);
    m_status->setWordWrap(true);
    m_status->hide();
    layout->addWidget(m_status);

    auto* split = new QSplitter(Qt::Horizontal, this);
    split->setChildrenCollapsible(false);
    m_sheetText = new DiffView(split);
    m_otherText = new DiffView(split);
    for (DiffView* side : {m_sheetText, m_otherText})
        side->setLook(look);
    split->addWidget(labelled(new QLabel(u"Dieses Blatt"_s, this), m_sheetText, split));
    split->addWidget(labelled(
        new QLabel(u"Andere Fassung ("_s + (name ? origin(*name) : QString()) + u')', this),
        m_otherText, split));
    split->setSizes({450, 450});
    layout->addWidget(split, 1);

    auto* buttons = new QDialogButtonBox(this);
    m_keep = buttons->addButton(u"&Diese Fassung behalten"_s, QDialogButtonBox::ActionRole);
    m_take = buttons->addButton(u"&Andere Fassung übernehmen"_s, QDialogButtonBox::ActionRole);
    m_both = buttons->addButton(u"Beide &behalten"_s, QDialogButtonBox::RejectRole);
    const auto explain = [](QPushButton* button, const QString& text) {
        button->setToolTip(text);
        button->setAccessibleDescription(text);
        // Enter takes the button that has the keyboard.
        button->setAutoDefault(true);
    };
    explain(m_keep, u"Das Blatt bleibt, wie es ist; die andere Fassung kommt in den Papierkorb."_s);
    explain(
        m_take,
        u"Der Text der anderen Fassung kommt ins Blatt; der jetzige kommt in den Papierkorb."_s);
    explain(m_both, u"Nichts ändert sich; beide bleiben in der Gruppe."_s);
    // The window's default, so that no other button becomes it by coming first.
    m_both->setDefault(true);
    connect(m_keep, &QPushButton::clicked, this, [this] { choose(ConflictChoice::KeepOriginal); });
    connect(m_take, &QPushButton::clicked, this, [this] { choose(ConflictChoice::TakeCopy); });
    // Escape, like the button, keeps both.
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // What the writer typed last is what is compared, and what either choice keeps.
    m_store.flushPendingSave();
    // A sync tool may bring another version, or settle the conflict, meanwhile.
    connect(&m_store, &LibraryStore::sheetsChanged, this, &ConflictView::load);
    load();
    m_sheetText->setFocus();
}

QString ConflictView::status() const {
    return m_status->isHidden() ? QString() : m_status->text();
}

void ConflictView::setStatus(const QString& text) {
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void ConflictView::load() {
    const quint64 generation = ++m_generation;
    m_reading = true;
    const QString sheetPath = m_original.toLocalFile();
    const QString copyPath = m_copy.toLocalFile();
    // The application carries the answer back, not the window: one closed
    // meanwhile must not be the context of a continuation still due.
    QtConcurrent::run([sheetPath, copyPath] {
        Read read;
        const std::optional<QString> sheet = readText(sheetPath);
        const std::optional<QString> other = readText(copyPath);
        if (!sheet || !other)
            return read;
        read.complete = true;
        read.title = Sheet::fromText(sheetPath, *sheet, {}).title;
        read.pieces = worddiff::diff(*sheet, *other);
        return read;
    })
        .then(QCoreApplication::instance(),
              [this, self = QPointer(this), generation](const Read& read) {
                  if (!self || generation != m_generation)
                      return;
                  m_reading = false;
                  m_keep->setEnabled(read.complete);
                  m_take->setEnabled(read.complete);
                  if (!read.complete) {
                      setStatus(u"Eine der beiden Fassungen ist nicht mehr da; es gibt nichts zu "
                                u"entscheiden."_s);
                      m_pieces.clear();
                      m_sheetText->clearDiff();
                      m_otherText->clearDiff();
                      return;
                  }
                  if (m_status->text().startsWith(u"Eine der beiden"_s))
                      setStatus({});
                  setWindowTitle(u"Vergleichen: \u201E"_s + read.title + u'\u201C');
                  // Read again after any change in the group: what did not change keeps its place.
                  if (read.pieces == m_pieces && !m_sheetText->document()->isEmpty())
                      return;
                  m_pieces = read.pieces;
                  m_sheetText->setDiff(read.pieces, DiffView::Shows::OlderSide);
                  m_otherText->setDiff(read.pieces, DiffView::Shows::NewerSide);
              });
}

void ConflictView::choose(ConflictChoice choice) {
    if (!m_store.resolveConflict(m_copy, choice)) {
        setStatus(u"Das ließ sich nicht erledigen. Beide Fassungen sind unverändert da."_s);
        load();
        return;
    }
    Q_EMIT resolved(m_original, choice);
    accept();
}

} // namespace orvik::ui
