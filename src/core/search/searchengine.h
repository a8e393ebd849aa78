#pragma once

#include "library/sheet.h"

#include <QFuture>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QUrl>

#include <memory>
#include <optional>

namespace orvik {

enum class SearchScope { Group, Library };
QString rawValue(SearchScope scope);
std::optional<SearchScope> searchScopeFromRawValue(const QString& raw);

struct SearchHit {
    Sheet sheet; // matched == true
    QString snippet;
    int count = 0; // 1 to 100
    friend bool operator==(const SearchHit&, const SearchHit&) = default;
};

// Full-text search over the sheets of a list of group folders: case- and
// diacritic-insensitive phrase match, counts, snippets, relevance order.
// Calls run one at a time, off the caller's thread unless it waits for the
// result; file texts are cached by path and modification date. A first search
// answers before its texts are ready for matching again: that work follows
// right after, in the background.
class SearchEngine : public QObject {
    Q_OBJECT
public:
    // A file larger than `holdBytes` is searched in pieces of `pieceBytes`
    // and never cached: nothing holds a sheet of gigabytes in memory.
    struct Limits {
        qint64 holdBytes = qint64(64) << 20;
        qsizetype pieceBytes = qsizetype(4) << 20;
    };

    explicit SearchEngine(QObject* parent = nullptr);
    explicit SearchEngine(Limits limits, QObject* parent = nullptr);
    ~SearchEngine() override;

    QFuture<QList<SearchHit>> search(const QString& query, const QList<QUrl>& folders);

private:
    struct Cache;
    std::unique_ptr<Cache> m_cache; // touched only on m_executor
    QThreadPool m_executor;
};

} // namespace orvik
