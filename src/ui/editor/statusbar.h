#pragma once

#include "appearance/palette.h"

#include <QDateTime>
#include <QWidget>

class QLabel;

namespace orvik::ui {

// The slim row under the text: words, reading time, time of the last save.
class StatusBar : public QWidget {
    Q_OBJECT
public:
    explicit StatusBar(QWidget* parent = nullptr);

    void setWordCount(int words);
    // An invalid time shows no save time.
    void setModified(const QDateTime& modified);
    // The last write failed: says so instead of the save time.
    void setSaveFailed(bool failed);
    // The text view shows the sheet plain and read-only: says so.
    void setShownPlain(bool plain);
    void setEditorPalette(const Palette& palette);

    static QString wordsText(int words);
    static int readingMinutes(int words);
    static QString readingTimeText(int words);
    // The time of day; the date too when it was not `today`.
    static QString savedText(const QDateTime& modified, bool failed,
                             const QDate& today = QDate::currentDate());

    QString wordsShown() const;
    QString readingTimeShown() const;
    QString savedShown() const;
    // The note beside the counts, empty when there is none.
    QString noteShown() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    int m_words = 0;
    QDateTime m_modified;
    bool m_failed = false;
    bool m_plain = false;
    Palette m_palette = Palette::system();
    QLabel* m_wordsLabel;
    QLabel* m_dotLabel;
    QLabel* m_timeLabel;
    QLabel* m_savedLabel;
    QLabel* m_noteLabel;
};

} // namespace orvik::ui
