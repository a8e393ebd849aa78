#pragma once

#include "appearance/editorstyle.h"
#include "markdown/highlighter.h"
#include "sheetloader.h"

#include <QBasicTimer>
#include <QFuture>
#include <QHash>
#include <QPlainTextEdit>
#include <QTextLayout>

#include <optional>

class QMenu;

namespace orvik::spelling {
class SpellChecker;
}

namespace orvik::ui {

class ParagraphLayout;
class SpellCheckDecorator;

// The Markdown source of one sheet, styled as it is typed. Knows nothing of
// the store: the pane feeds it text and listens for the user's edits.
//
// Styling lives in the text layouts of the blocks, never in the document's
// own formats, so it neither enters the undo stack nor counts as an edit. An
// edit restyles the lines it touched plus the lines whose fenced-code
// membership flipped and those an italic span may tie to them, those out of
// view in idle time; once that is done, the result equals styling the whole
// text anew.
class MarkdownEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit MarkdownEditor(QWidget* parent = nullptr);
    ~MarkdownEditor() override;

    // Restyles when the style's key changes; colours follow at once.
    void setEditorStyle(const MarkdownHighlighter::Style& style);
    const MarkdownHighlighter::Style& editorStyle() const { return m_style; }

    // Shows another sheet: its text, the caret at the start, scrolled to the
    // top. Each sheet keeps its own undo history while the editor lives, as
    // long as its text is still what the editor last showed of it; no undo
    // step ever reaches into another sheet's text.
    void openDocument(const QString& documentID, const QString& text);
    QString documentID() const { return m_documentID; }
    // The same document under another name: text, caret and undo stay.
    void renameDocument(const QString& documentID) { m_documentID = documentID; }
    // The shown sheet's text changed elsewhere. The caret stays where it was,
    // or moves to the end when the text got shorter than that; a change too
    // large to take at once loads like a newly opened sheet.
    void replaceText(const QString& text);

    // The whole text, lines joined by "\n", as the user's file holds it.
    // While a large sheet is still loading, the part loaded so far (a sheet
    // shown plain holds all of it at once).
    const QString& text() const { return m_text; }

    // A line too long to lay out while the window stays responsive: the
    // sheet is shown without styling, its long lines cut into rows of the
    // view only (never of the text), and read-only, as no edit could keep
    // that view and the text apart.
    bool showsPlain() const { return m_plain; }
    // Between positions in text() and in the document shown: the same but
    // in a plain view, whose rows add breaks of their own.
    int viewPosition(qsizetype textPosition) const;
    qsizetype textPosition(int viewPosition) const;

    // Lines out of view may wait for idle time to be styled; any line is
    // styled before it is painted.
    bool stylingPending() const { return !m_pending.isEmpty(); }
    // Styles every waiting line now.
    void finishStyling();

    // Sizes in UTF-16 units. Edits larger than `styleAtOnce` style only the
    // lines in view at once; sheets larger than `loadAtOnce` load in pieces of
    // about `loadPiece`, one per turn of the event loop, read-only meanwhile.
    // A sheet with a line longer than `longLine`, or with more than
    // `longRun` units in a row without a blank, is shown plain.
    struct Limits {
        qsizetype styleAtOnce = 1024 * 1024;
        qsizetype loadAtOnce = 4 * 1024 * 1024;
        qsizetype loadPiece = 512 * 1024;
        qsizetype longLine = 16 * 1024;
        qsizetype longRun = 4 * 1024;
    };
    void setLimits(const Limits& limits) { m_limits = limits; }
    // For editors made from now on.
    static void setDefaultLimits(const Limits& limits);
    static Limits defaultLimits();
    bool isLoading() const { return m_loader.isLoading(); }

    // The faces the styling is computed with, for comparing against the
    // whole-text reference.
    const MarkdownHighlighter::Faces& faces() const { return m_faces; }
    // The colours resolved for the current style.
    QColor paperColor() const;
    QColor caretColor() const;
    QColor selectionColor() const;

    // The column centring rule: the horizontal inset for a content width.
    static qreal horizontalInset(qreal contentWidth);

    // Misspelt words of prose get a red wave; nullptr turns checking off.
    // Lines are checked as they are edited or come into view, never the
    // whole sheet at once.
    void setSpellChecker(spelling::SpellChecker* checker);
    spelling::SpellChecker* spellChecker() const;
    // Straight quotes, "--" and " - " typed outside code become German
    // typography.
    void setTypographicSubstitution(bool on) { m_substitute = on; }
    bool typographicSubstitution() const { return m_substitute; }
    // Every paragraph but the caret's is drawn in dimmedColor(), keeping its
    // faces; a paragraph the caret enters gets its colours back.
    void setFocusMode(bool on);
    bool focusMode() const { return m_focusMode; }
    // The secondary text colour: the text's at about 40 % of its contrast
    // to the paper.
    QColor dimmedColor() const { return m_dimmed; }
    // The caret's line is held at the middle of the view while typing, with
    // room below the last line to get there.
    void setTypewriterMode(bool on);
    bool typewriterMode() const { return m_typewriter; }
    // The context menu for a text position: spelling help first when a
    // misspelt word is there, then the standard entries.
    QMenu* createContextMenu(int position);

Q_SIGNALS:
    // The user changed the text (typing, pasting, undo, ...); never sent for
    // text set through openDocument() or replaceText(), nor while a sheet
    // is still loading.
    void textEdited(const QString& text);
    // The text changed in any way: an edit, another sheet, a reload, a
    // loaded piece. Sent while the document is still changing, so a
    // receiver should act on it later, not within.
    void contentChanged();
    // A large sheet is loading: `loaded` of `total` units are in the view.
    // Sent once more with both equal when it is complete.
    void loadingProgress(qsizetype loaded, qsizetype total);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    QMimeData* createMimeDataFromSelection() const override;
    void insertFromMimeData(const QMimeData* source) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class SpellCheckDecorator;
    struct Edit;
    // A sheet not shown, with the document holding its undo history.
    struct Kept {
        QTextDocument* document = nullptr;
        ParagraphLayout* layout = nullptr;
        QString text;
    };

    // The history of the shown sheet is worth keeping when it has one and
    // the text is whole and small enough.
    bool keepsShownHistory() const;
    // Takes the kept document of `documentID` when it holds exactly `text`.
    std::optional<Kept> takeKept(const QString& documentID, const QString& text);
    void keep(const QString& documentID, const Kept& kept);
    void newDocument();
    void attach(QTextDocument* document, ParagraphLayout* layout);

    void onContentsChange(int position, int removed, int added);
    // What changed of the text, or nothing when only formats or the layout did.
    std::optional<Edit> readEdit(int position, int removed, int added) const;
    void updateFences(const Edit& edit, qsizetype lineStart);
    // Styles the edited lines and marks those italics may tie to them;
    // `reachBefore`: the lines they tied to before the edit.
    void restyleEdited(const Edit& edit, qsizetype lineStart,
                       const MarkdownHighlighter::CodeBlock& reachBefore);
    void onContentsChanged();
    QString documentText() const;
    void replaceAll(const QString& text);
    void restyleAll();
    // `spell`: also check the block's words now, else leave that to the
    // pass over the visible lines. False when the line already looked so.
    bool styleBlock(QTextBlock block, bool spell = true);
    void substitute(const QString& typed);
    // Pending lines: text ranges, sorted and apart, whose lines still show
    // older styling. They move with edits like any position.
    void addPending(qsizetype from, qsizetype to);
    void removePending(qsizetype from, qsizetype to);
    void movePending(qsizetype at, qsizetype removed, qsizetype inserted);
    bool isPending(qsizetype position) const;
    // Styles the pending lines among those in view and a margin around
    // them; false when there were none.
    bool styleInView();
    // Styles pending lines for at most `budgetMs` (< 0: all of them).
    void stylePending(qint64 budgetMs);
    void schedulePending();
    void loadNextPiece();
    void stopLoading();
    void setPlain(bool plain);
    QPalette sourcePalette() const;
    void applyAppearance();
    void updateColumn();
    void restartBlink();
    // Focus mode: the caret changed paragraphs, both are styled anew.
    void followCaret();
    void dim(QList<QTextLayout::FormatRange>& formats, int length) const;
    void centreCaret();
    void queueCentring();

    MarkdownHighlighter::Style m_style;
    QString m_styleKey;
    QPalette m_source;
    MarkdownHighlighter::Faces m_faces;
    std::optional<MarkdownHighlighter::Formats> m_formats;
    ParagraphLayout* m_layout = nullptr;

    QString m_documentID;
    QString m_text;
    QHash<QString, Kept> m_kept;
    // Document IDs of m_kept, the least recently shown first.
    QStringList m_keptOrder;
    QList<MarkdownHighlighter::FenceMark> m_marks;
    QList<MarkdownHighlighter::CodeBlock> m_blocks;
    QList<MarkdownHighlighter::CodeBlock> m_pending;
    // The ranges of the stretch of lines styled last (styleStretch()), for
    // its other lines: italics may join the lines of a paragraph, so a line
    // is styled with those around it. Dropped whenever the text, its code
    // blocks or the faces change.
    MarkdownHighlighter::CodeBlock m_stretch{-1, -1};
    QList<MarkdownHighlighter::StyledRange> m_stretchRanges;
    // A large sheet being opened is styled whole on a worker while the
    // document takes its text; the first line styled afterwards takes the
    // result as its stretch, if the text is still the one it was made for.
    struct Opening {
        QString text;
        QFuture<QList<MarkdownHighlighter::StyledRange>> ranges;
    };
    std::optional<Opening> m_opening;
    QBasicTimer m_idle;
    Limits m_limits = defaultLimits();

    SheetLoader m_loader;
    bool m_readOnlyBeforeLoad = false;
    bool m_plain = false;
    bool m_readOnlyBeforePlain = false;
    QBasicTimer m_load;

    bool m_programmatic = false;
    bool m_userEditPending = false;
    bool m_settingPalette = false;
    qreal m_inset = -1;

    SpellCheckDecorator* m_spelling = nullptr;
    bool m_substitute = true;

    QBasicTimer m_blink;
    bool m_caretVisible = true;

    bool m_focusMode = false;
    // In the paragraph shown undimmed; moves with edits like any position.
    QTextCursor m_lit;
    QColor m_dimmed;
    bool m_typewriter = false;
    bool m_centrePending = false;
};

} // namespace orvik::ui
