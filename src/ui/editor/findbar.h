#pragma once

#include "search/textfinder.h"

#include <QTimer>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace orvik::ui {

class MarkdownEditor;

// Finding in the shown sheet: incremental and case-insensitive, with the
// number of hits and wrapping next and previous. Opened for replacing, a
// second row offers the replacement, whether case matters and whole words.
class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(MarkdownEditor* editor, QWidget* parent = nullptr);

    // Shows the bar with the field focused and its text selected; a
    // selection within one line becomes the query.
    void open();
    // The same with the replace row; the switches count only while it shows.
    void openForReplacing();
    // Hides the bar and hands the keyboard back to the text.
    void close();

    void findNext();
    void findPrevious();
    // Replaces the selected hit and selects the next one; without a selected
    // hit, selects the next one first.
    void replaceCurrent();
    // Replaces every hit in one undo step and says how many.
    void replaceAll();

    QLineEdit* field() const { return m_field; }
    QLabel* countLabel() const { return m_count; }
    QToolButton* nextButton() const { return m_next; }
    QToolButton* previousButton() const { return m_previous; }
    QToolButton* closeButton() const { return m_close; }
    QLineEdit* replacementField() const { return m_replacement; }
    QPushButton* replaceButton() const { return m_replace; }
    QPushButton* replaceAllButton() const { return m_replaceAll; }
    QCheckBox* matchCaseBox() const { return m_matchCase; }
    QCheckBox* wholeWordsBox() const { return m_wholeWords; }
    bool replacing() const;
    // Where each hit starts in the sheet's text.
    QList<qsizetype> hits() const;
    // The index of the selected hit, or -1.
    qsizetype currentHit() const;
    // The hits in view and just around it, marked in the text while the bar
    // is open; never the whole sheet's, which may be thousands.
    QList<qsizetype> markedHits() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void reveal();
    void showRow(bool replacing);
    void queryChanged();
    bool isWholeWord(const QString& text, const search::TextRange& hit) const;
    // The first hit starting at or after `position`.
    qsizetype firstHitFrom(qsizetype position) const;
    void recount();
    void select(qsizetype hit);
    void showCount();
    void markHits();

    MarkdownEditor* m_editor;
    QLineEdit* m_field;
    QLabel* m_count;
    QToolButton* m_previous;
    QToolButton* m_next;
    QToolButton* m_close;
    QWidget* m_replaceRow;
    QLineEdit* m_replacement;
    QPushButton* m_replace;
    QPushButton* m_replaceAll;
    QCheckBox* m_matchCase;
    QCheckBox* m_wholeWords;
    QString m_replacedNote;
    // Ascending; a hit's length may differ from the query's ("ss" finds "ß").
    QList<search::TextRange> m_hits;
    QList<qsizetype> m_marked;
    bool m_stale = true;
    QTimer m_recount; // after a pause in typing
    bool m_refreshQueued = false;
};

} // namespace orvik::ui
