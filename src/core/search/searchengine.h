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

    // Keeps what the searches derive from the sheets in the index file at
    // `path` (SearchIndex::pathFor the library) and searches from there, so
    // that a new process starts warm. Call before the first search. With
    // `Background`, a search that found the index out of date has it
    // written on a thread of its own afterwards; with `ByCaller`, the caller
    // asks for that with writeIndexDetached().
    enum class IndexWrites { Background, ByCaller };
    void useIndex(const QString& path, IndexWrites writes);
    // Maps the index and reads what it lacks of `folders`, at idle priority:
    // the first search then is as fast as a later one.
    void warmIndex(const QList<QUrl>& folders);
    // Writes the index, if the searches found it out of date, in a child
    // process of its own, so that the caller can end at once. Waits for the
    // running search; no further searches after it.
    void writeIndexDetached();

private:
    struct Cache;
    std::unique_ptr<Cache> m_cache; // touched only on m_executor
    QThreadPool m_executor;
};

} // namespace orvik
