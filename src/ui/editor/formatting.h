#pragma once

class QTextCursor;

namespace orvik::ui::formatting {

// The Markdown formatting commands on a cursor, each one undo step. A
// selection is wrapped, or unwrapped when it already carries the markup
// (inside it or just around it); without a selection the pair is inserted
// with the caret inside. The cursor is left on the text it formatted.
enum class Emphasis { Bold, Italic };
void toggleEmphasis(QTextCursor& cursor, Emphasis emphasis);

// "[text](target)": a selected text becomes the link's text with the caret
// in the parentheses; a selected address its target with the caret in the
// brackets; a selected link goes back to its text.
void toggleLink(QTextCursor& cursor);

} // namespace orvik::ui::formatting
