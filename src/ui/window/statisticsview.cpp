#include "statisticsview.h"

#include "ui/editor/markdowneditor.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace orvik::ui {

namespace {

const QString words = u"Wörter"_s;
const QString withSpaces = u"Zeichen mit Leerzeichen"_s;
const QString withoutSpaces = u"Zeichen ohne Leerzeichen"_s;
const QString sentences = u"Sätze"_s;
const QString paragraphs = u"Absätze"_s;
const QString reading = u"Lesezeit"_s;
const QString speaking = u"Sprechzeit"_s;
const QString sentenceLength = u"Mittlere Satzlänge"_s;
const QString wiener = u"Wiener Sachtextformel"_s;
const QString flesch = u"Lesbarkeit nach Flesch (Amstad)"_s;

} // namespace

StatisticsView::StatisticsView(QWidget* parent) : QDialog(parent) {
    setWindowTitle(u"Statistik"_s);
    setAccessibleName(u"Statistik"_s);
    auto* layout = new QVBoxLayout(this);
    m_scope = new QLabel(this);
    m_scope->setAccessibleName(u"Umfang"_s);
    layout->addWidget(m_scope);
    m_form = new QFormLayout;
    layout->addLayout(m_form);
    for (const QString& label : {words, withSpaces, withoutSpaces, sentences, paragraphs, reading,
                                 speaking, sentenceLength, wiener, flesch})
        addRow(label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(u"Schließen"_s);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    // A pause in typing or selecting, then the counts follow.
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(250);
    connect(&m_refresh, &QTimer::timeout, this, &StatisticsView::refresh);
    refresh();
}

void StatisticsView::setEditor(MarkdownEditor* editor) {
    if (m_editor == editor)
        return;
    if (m_editor)
        m_editor->disconnect(this);
    m_editor = editor;
    if (editor) {
        const auto later = [this] { m_refresh.start(); };
        connect(editor, &QPlainTextEdit::textChanged, this, later);
        connect(editor, &QPlainTextEdit::selectionChanged, this, later);
        connect(editor, &QObject::destroyed, this, later);
    }
    refresh();
}

void StatisticsView::addRow(const QString& label) {
    auto* value = new QLabel(this);
    value->setAccessibleName(label);
    // Reachable with Tab, so that every count can be read from the keyboard.
    value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    auto* name = new QLabel(label + u':', this);
    name->setBuddy(value);
    m_form->addRow(name, value);
    m_values.insert(label, value);
}

QString StatisticsView::formatted(double value, int decimals) {
    return QLocale(QLocale::German, QLocale::Germany).toString(value, 'f', decimals);
}

void StatisticsView::refresh() {
    QString text;
    bool selection = false;
    if (m_editor) {
        const QTextCursor cursor = m_editor->textCursor();
        selection = cursor.hasSelection();
        text = selection ? cursor.selectedText() : m_editor->text();
        // A selection separates its lines with U+2029.
        text.replace(QChar::ParagraphSeparator, u'\n');
    }
    m_scope->setText(!m_editor   ? u"Kein Blatt ausgewählt"_s
                     : selection ? u"Auswahl"_s
                                 : u"Ganzes Blatt"_s);
    const statistics::TextStatistics s = statistics::measure(text);
    const auto set = [this](const QString& label, const QString& text) {
        m_values.value(label)->setText(text);
    };
    const auto count = [](int n) { return formatted(n, 0); };
    const auto grade = [](std::optional<double> score) {
        return score ? formatted(*score, 1) : u"\u2013"_s;
    };
    set(words, count(s.words));
    set(withSpaces, count(s.charactersWithSpaces));
    set(withoutSpaces, count(s.charactersWithoutSpaces));
    set(sentences, count(s.sentences));
    set(paragraphs, count(s.paragraphs));
    set(reading, count(s.readingMinutes()) + u" Min."_s);
    set(speaking, count(s.speakingMinutes()) + u" Min."_s);
    set(sentenceLength,
        s.sentences ? formatted(s.averageSentenceLength(), 1) + u" Wörter"_s : u"\u2013"_s);
    set(wiener, grade(s.wienerSachtextformel()));
    set(flesch, grade(s.fleschAmstad()));
}

QString StatisticsView::value(const QString& label) const {
    const QLabel* shown = m_values.value(label);
    return shown ? shown->text() : QString();
}

QString StatisticsView::scope() const {
    return m_scope->text();
}

} // namespace orvik::ui
