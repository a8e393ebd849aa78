#pragma once

#include "markdown/statistics.h"

#include <QDialog>
#include <QPointer>
#include <QTimer>

class QFormLayout;
class QLabel;

namespace orvik::ui {

class MarkdownEditor;

// "Statistik": counts and readability of the shown sheet, or of the selection
// when there is one; follows the editor's text and selection while it is open.
class StatisticsView : public QDialog {
    Q_OBJECT
public:
    explicit StatisticsView(QWidget* parent = nullptr);

    // The editor of the sheet now shown, or nullptr when there is none.
    void setEditor(MarkdownEditor* editor);

    // The value shown in the row of this label ("Wörter", "Sätze", …).
    QString value(const QString& label) const;
    // "Ganzes Blatt" or "Auswahl".
    QString scope() const;

    static QString formatted(double value, int decimals);

private:
    void refresh();
    void addRow(const QString& label);

    QPointer<MarkdownEditor> m_editor;
    QLabel* m_scope = nullptr;
    QFormLayout* m_form = nullptr;
    QHash<QString, QLabel*> m_values;
    QTimer m_refresh;
};

} // namespace orvik::ui
