#pragma once

#include <QList>
#include <QString>

#include <compare>

namespace orvik {

// A dotted version number, compared numerically piece by piece: 1.2 equals
// 1.2.0, 1.10 is above 1.9. Letters and signs inside a piece are dropped
// ("1.2.3-beta4" is 1.2.34), a piece without digits counts as 0.
struct AppVersion {
    QList<qint64> parts; // one per dot-separated piece, never negative
    QString raw;         // the text without surrounding spaces and tabs; the display form

    AppVersion() : AppVersion(QString()) {}
    explicit AppVersion(const QString& text);

    QString description() const { return raw; }

    static bool lessThan(const AppVersion& a, const AppVersion& b);
    friend bool operator==(const AppVersion& a, const AppVersion& b) {
        return !lessThan(a, b) && !lessThan(b, a);
    }
    friend std::weak_ordering operator<=>(const AppVersion& a, const AppVersion& b) {
        if (lessThan(a, b))
            return std::weak_ordering::less;
        if (lessThan(b, a))
            return std::weak_ordering::greater;
        return std::weak_ordering::equivalent;
    }
};

} // namespace orvik
