#include "formatting.h"

#include <QRegularExpression>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;

namespace orvik::ui::formatting {

namespace {

QChar at(const QTextDocument* document, int position) {
    return position >= 0 && position < document->characterCount() - 1
               ? document->characterAt(position)
               : QChar();
}

// Length of the run of `marker` characters that ends at `end` (going back)
// or starts at `start` (going forward), at most three.
int runBefore(const QTextDocument* document, int end, QChar marker) {
    int n = 0;
    while (n < 3 && at(document, end - 1 - n) == marker)
        ++n;
    return n;
}

int runAfter(const QTextDocument* document, int start, QChar marker) {
    int n = 0;
    while (n < 3 && at(document, start + n) == marker)
        ++n;
    return n;
}

int leadingRun(const QString& s, QChar marker) {
    int n = 0;
    while (n < 3 && n < s.size() && s[n] == marker)
        ++n;
    return n;
}

int trailingRun(const QString& s, QChar marker) {
    int n = 0;
    while (n < 3 && n < s.size() && s[s.size() - 1 - n] == marker)
        ++n;
    return n;
}

// Whether a run of `run` markers holds this emphasis: one for italic, two for
// bold, three for both.
bool holds(int run, Emphasis emphasis) {
    return emphasis == Emphasis::Bold ? run >= 2 : run == 1 || run == 3;
}

void selectRange(QTextCursor& cursor, int start, int end) {
    cursor.setPosition(start);
    cursor.setPosition(end, QTextCursor::KeepAnchor);
}

} // namespace

void toggleEmphasis(QTextCursor& cursor, Emphasis emphasis) {
    const int width = emphasis == Emphasis::Bold ? 2 : 1;
    const QTextDocument* document = cursor.document();
    int start = cursor.selectionStart();
    int end = cursor.selectionEnd();
    const QString selected = cursor.selectedText();
    cursor.beginEditBlock();
    for (const QChar marker : {u'*', u'_'}) {
        // The markup inside the selection: "**word**" selected whole.
        const int inner = std::min(leadingRun(selected, marker), trailingRun(selected, marker));
        if (selected.size() > 2 * inner && holds(inner, emphasis)) {
            QTextCursor edit(cursor);
            selectRange(edit, end - width, end);
            edit.removeSelectedText();
            selectRange(edit, start, start + width);
            edit.removeSelectedText();
            selectRange(cursor, start, end - 2 * width);
            cursor.endEditBlock();
            return;
        }
        // The markup just around it: "word" selected in "**word**".
        const int outer =
            std::min(runBefore(document, start, marker), runAfter(document, end, marker));
        if (start != end && holds(outer, emphasis)) {
            QTextCursor edit(cursor);
            selectRange(edit, end, end + width);
            edit.removeSelectedText();
            selectRange(edit, start - width, start);
            edit.removeSelectedText();
            selectRange(cursor, start - width, end - width);
            cursor.endEditBlock();
            return;
        }
    }
    const QString marks(width, u'*');
    QTextCursor edit(cursor);
    edit.setPosition(end);
    edit.insertText(marks);
    edit.setPosition(start);
    edit.insertText(marks);
    start += width;
    end += width;
    selectRange(cursor, start, end);
    cursor.endEditBlock();
}

void toggleLink(QTextCursor& cursor) {
    static const QRegularExpression link(uR"(^\[([^\]]*)\]\(([^)]*)\)$)"_s);
    static const QRegularExpression address(uR"(^(?:https?://|mailto:|www\.)\S+$)"_s);
    const int start = cursor.selectionStart();
    const QString selected = cursor.selectedText();
    cursor.beginEditBlock();
    if (const auto m = link.match(selected); m.hasMatch()) {
        const QString text = m.captured(1);
        cursor.insertText(text);
        selectRange(cursor, start, start + int(text.size()));
    } else if (address.match(selected).hasMatch()) {
        cursor.insertText(u"[]("_s + selected + u')');
        cursor.setPosition(start + 1);
    } else {
        cursor.insertText(u'[' + selected + u"]()"_s);
        cursor.setPosition(start + int(selected.size()) + (selected.isEmpty() ? 1 : 3));
    }
    cursor.endEditBlock();
}

} // namespace orvik::ui::formatting
