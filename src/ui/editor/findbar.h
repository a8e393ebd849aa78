#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QToolButton;

namespace orvik::ui {

class MarkdownEditor;

// Finding in the shown sheet: incremental and case-insensitive, with the
// number of hits and wrapping next and previous.
class FindBar : public QWidget {
    Q_OBJECT
public:
    explicit FindBar(MarkdownEditor* editor, QWidget* parent = nullptr);

    // Shows the bar with the field focused and its text selected; a
    // selection within one line becomes the query.
    void open();
    // Hides the bar and hands the keyboard back to the text.
    void close();

    void findNext();
    void findPrevious();

    QLineEdit* field() const { return m_field; }
    QLabel* countLabel() const { return m_count; }
    QToolButton* nextButton() const { return m_next; }
    QToolButton* previousButton() const { return m_previous; }
    QToolButton* closeButton() const { return m_close; }
    // The positions of all hits in the sheet's text.
    const QList<qsizetype>& hits() const { return m_hits; }
    // The index of the selected hit, or -1.
    qsizetype currentHit() const;
    // The hits in view and just around it, marked in the text while the bar
    // is open; never the whole sheet's, which may be thousands.
    QList<qsizetype> markedHits() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void queryChanged();
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
    QList<qsizetype> m_hits;
    QList<qsizetype> m_marked;
    bool m_stale = true;
    bool m_refreshQueued = false;
};

} // namespace orvik::ui
