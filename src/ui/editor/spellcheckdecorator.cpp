#include "spellcheckdecorator.h"

#include "markdowneditor.h"
#include "spelling/spellchecker.h"

#include <QMenu>
#include <QTextBlock>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace orvik::ui {

using namespace MarkdownHighlighter;

namespace {

// Whether a block's words have been checked since it was last styled
// without them. Block user data neither enters the undo stack nor signals.
struct SpellMark : QTextBlockUserData {
    bool checked = false;
};

bool isChecked(const QTextBlock& block) {
    const auto* mark = static_cast<SpellMark*>(block.userData());
    return mark && mark->checked;
}

void setChecked(QTextBlock block, bool checked) {
    auto* mark = static_cast<SpellMark*>(block.userData());
    if (!mark) {
        if (!checked)
            return;
        mark = new SpellMark;
        block.setUserData(mark);
    }
    mark->checked = checked;
}

// Markup, addresses and code are no German to be judged.
bool isProse(const CharStyle& style) {
    return style.font != FontRole::Monospace && style.color != Palette::Role::Syntax &&
           style.color != Palette::Role::Code;
}

} // namespace

SpellCheckDecorator::SpellCheckDecorator(MarkdownEditor* editor)
    : QObject(editor), m_editor(editor) {}

void SpellCheckDecorator::setChecker(spelling::SpellChecker* checker) {
    if (m_checker)
        disconnect(m_checker, nullptr, this, nullptr);
    m_checker = checker;
    if (m_checker)
        connect(m_checker, &spelling::SpellChecker::wordAdded, this, &SpellCheckDecorator::forget);
}

void SpellCheckDecorator::decorate(QTextBlock block, QList<QTextLayout::FormatRange>& formats,
                                   const QList<StyledRange>& ranges, bool check) {
    check = check && m_checker;
    if (check)
        markWrong(block, formats, ranges);
    setChecked(block, check);
}

void SpellCheckDecorator::caretMoved(qsizetype position) {
    if (m_typingAt < 0 || position == m_typingAt)
        return;
    const QTextBlock block = m_editor->document()->findBlock(int(m_typingAt));
    m_typingAt = -1;
    if (!m_checker || !block.isValid())
        return;
    if (m_editor->styleBlock(block, true))
        m_editor->document()->markContentsDirty(block.position(), block.length());
}

void SpellCheckDecorator::forget() {
    for (QTextBlock b = m_editor->document()->begin(); b.isValid(); b = b.next())
        setChecked(b, false);
    m_editor->viewport()->update();
}

void SpellCheckDecorator::markWrong(const QTextBlock& block,
                                    QList<QTextLayout::FormatRange>& formats,
                                    const QList<StyledRange>& ranges) {
    // Input-method pre-edit text shares these formats: leave it alone.
    if (!block.layout()->preeditAreaText().isEmpty())
        return;
    const qsizetype start = block.position();
    const QStringView line = QStringView(m_editor->text()).mid(start, block.length() - 1);
    QList<spelling::Word> wrong;
    qsizetype r = 0;
    for (const spelling::Word& w : spelling::words(line)) {
        if (m_typingAt == start + w.end())
            continue;
        while (r < ranges.size() && ranges[r].end() <= start + w.start)
            ++r;
        bool prose = true;
        for (qsizetype i = r; i < ranges.size() && ranges[i].start < start + w.end(); ++i)
            prose = prose && isProse(ranges[i].style);
        if (prose && !m_checker->isCorrect(line.mid(w.start, w.length)))
            wrong.append(w);
    }
    if (wrong.isEmpty())
        return;
    // Cut the styling at the words' ends and add the wave to what lies
    // inside, so that bold, links and headings keep their look.
    QList<int> cuts;
    for (const QTextLayout::FormatRange& f : std::as_const(formats))
        cuts << f.start << f.start + f.length;
    for (const spelling::Word& w : std::as_const(wrong))
        cuts << int(w.start) << int(w.end());
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    QList<QTextLayout::FormatRange> merged;
    qsizetype f = 0;
    qsizetype w = 0;
    for (qsizetype i = 0; i + 1 < cuts.size(); ++i) {
        const int from = cuts[i];
        while (f < formats.size() && formats[f].start + formats[f].length <= from)
            ++f;
        while (w < wrong.size() && wrong[w].end() <= from)
            ++w;
        const bool styled = f < formats.size() && formats[f].start <= from;
        const bool misspelt = w < wrong.size() && wrong[w].start <= from;
        if (!styled && !misspelt)
            continue;
        QTextCharFormat format = styled ? formats[f].format : QTextCharFormat();
        if (misspelt) {
            format.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
            format.setUnderlineColor(QColor(0xd7, 0x26, 0x1e));
        }
        merged.append({from, cuts[i + 1] - from, format});
    }
    formats = std::move(merged);
}

void SpellCheckDecorator::scheduleVisibleCheck() {
    if (!m_checker || m_visibleCheckQueued || m_editor->showsPlain())
        return;
    m_visibleCheckQueued = true;
    QMetaObject::invokeMethod(this, &SpellCheckDecorator::checkVisible, Qt::QueuedConnection);
}

void SpellCheckDecorator::checkVisible() {
    m_visibleCheckQueued = false;
    if (!m_checker || m_editor->showsPlain())
        return;
    const QPointF offset = m_editor->contentOffset();
    const qreal bottom = m_editor->viewport()->height();
    int first = -1;
    int end = -1;
    for (QTextBlock b = m_editor->firstVisibleBlock(); b.isValid(); b = b.next()) {
        if (m_editor->blockBoundingGeometry(b).translated(offset).top() > bottom)
            break;
        if (isChecked(b) || !m_editor->styleBlock(b, true))
            continue;
        if (first < 0)
            first = b.position();
        end = b.position() + b.length();
    }
    if (first >= 0)
        m_editor->document()->markContentsDirty(first, end - first);
}

void SpellCheckDecorator::addSuggestions(QMenu* menu, int position) {
    const QTextBlock block = m_editor->document()->findBlock(position);
    if (!m_checker || !block.isValid())
        return;
    const qsizetype start = block.position();
    const QStringView line = QStringView(m_editor->text()).mid(start, block.length() - 1);
    const QList<QTextLayout::FormatRange> formats = block.layout()->formats();
    for (const spelling::Word& w : spelling::words(line)) {
        if (position < start + w.start || position > start + w.end())
            continue;
        // Only what carries the wave: code and markup were never judged.
        const bool marked = std::any_of(formats.begin(), formats.end(), [&](const auto& f) {
            return f.start <= w.start && w.start < f.start + f.length &&
                   f.format.underlineStyle() == QTextCharFormat::SpellCheckUnderline;
        });
        if (!marked)
            break;
        const QString word = line.mid(w.start, w.length).toString();
        QAction* top = menu->actions().value(0);
        const QStringList suggestions = m_checker->suggestions(word).mid(0, 6);
        for (const QString& suggestion : suggestions) {
            QAction* action = new QAction(suggestion, menu);
            connect(action, &QAction::triggered, m_editor,
                    [editor = m_editor, start, w, word, suggestion] {
                        // The text may have changed while the menu was open.
                        if (editor->isReadOnly() ||
                            QStringView(editor->text()).mid(start + w.start, w.length) != word)
                            return;
                        QTextCursor edit(editor->document());
                        edit.setPosition(int(start + w.start));
                        edit.setPosition(int(start + w.end()), QTextCursor::KeepAnchor);
                        edit.insertText(suggestion);
                    });
            menu->insertAction(top, action);
        }
        if (suggestions.isEmpty()) {
            QAction* none = new QAction(u"Keine Vorschläge"_s, menu);
            none->setEnabled(false);
            menu->insertAction(top, none);
        }
        QAction* add = new QAction(u"Zum Wörterbuch hinzufügen"_s, menu);
        spelling::SpellChecker* speller = m_checker;
        connect(add, &QAction::triggered, speller, [speller, word] { speller->addWord(word); });
        menu->insertAction(top, add);
        menu->insertSeparator(top);
        break;
    }
}

} // namespace orvik::ui
