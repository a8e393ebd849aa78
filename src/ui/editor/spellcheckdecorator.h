#pragma once

#include "markdown/highlighter.h"

#include <QObject>
#include <QTextLayout>

class QMenu;

namespace orvik::spelling {
class SpellChecker;
}

namespace orvik::ui {

class MarkdownEditor;

// The red wave under misspelt words of prose in an editor, and the help on
// them in its context menu. Lines are checked as they are styled, edited or
// come into view, never the whole sheet at once; a word still being typed
// waits until the caret leaves it.
class SpellCheckDecorator : public QObject {
    Q_OBJECT
public:
    explicit SpellCheckDecorator(MarkdownEditor* editor);

    // nullptr turns checking off; the caller restyles.
    void setChecker(spelling::SpellChecker* checker);
    spelling::SpellChecker* checker() const { return m_checker; }

    // Adds the wave to the formats of `block`, styled as `ranges`, when
    // `check`; otherwise leaves that to the pass over the visible lines.
    void decorate(QTextBlock block, QList<QTextLayout::FormatRange>& formats,
                  const QList<MarkdownHighlighter::StyledRange>& ranges, bool check);
    // Where the caret stands after a keystroke, or -1: the word ending
    // there is not judged yet.
    void setTypingAt(qsizetype position) { m_typingAt = position; }
    // The caret moved to `position`: a word it left is judged now.
    void caretMoved(qsizetype position);
    // Checks the unchecked lines in view once the event loop turns.
    void scheduleVisibleCheck();
    // Puts suggestions for a misspelt word at `position` on top of `menu`.
    void addSuggestions(QMenu* menu, int position);

private:
    void checkVisible();
    void forget();
    void markWrong(const QTextBlock& block, QList<QTextLayout::FormatRange>& formats,
                   const QList<MarkdownHighlighter::StyledRange>& ranges);

    MarkdownEditor* m_editor;
    spelling::SpellChecker* m_checker = nullptr;
    bool m_visibleCheckQueued = false;
    qsizetype m_typingAt = -1;
};

} // namespace orvik::ui
