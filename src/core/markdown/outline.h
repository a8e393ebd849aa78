#pragma once

#include <QList>
#include <QString>

// The headings of a sheet, for a table of contents beside the text. Pure
// functions, no failures.
namespace orvik::outline {

struct Heading {
    qsizetype position = 0; // of the line's first "#"
    int level = 1;          // 1 to 6
    QString text;           // without the "#" marks and blanks around it

    friend bool operator==(const Heading&, const Heading&) = default;
};

// The "#" headings of `text` outside fenced code, exactly the lines the editor
// styles as headings; those without any text are left out, as a row naming
// nothing would help no one.
QList<Heading> headings(QStringView text);

// The index of the heading whose section holds `position`, -1 before the first.
qsizetype sectionAt(const QList<Heading>& headings, qsizetype position);

} // namespace orvik::outline
