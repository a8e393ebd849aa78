#pragma once

#include <QHashFunctions>
#include <QString>
#include <QUrl>

#include <optional>

namespace orvik {

// One group of the library: a visible folder directly inside the root, or the trash.
struct Folder {
    enum class Kind { Diary, Ideas, Projects, Quick, Custom, Trash };

    QUrl url; // the group folder; also its identity
    QString name;
    Kind kind = Kind::Custom;

    QUrl id() const { return url; }
    QString path() const { return url.toLocalFile(); }

    // A folder name's kind, by its full lower-cased name; never Trash.
    static Kind kindForFolderNamed(const QString& name);

    friend bool operator==(const Folder&, const Folder&) = default;
};

QString rawValue(Folder::Kind kind);
std::optional<Folder::Kind> kindFromRawValue(const QString& raw);

size_t qHash(const Folder& folder, size_t seed = 0) noexcept;

// Display order of groups: by kind rank (quick, ideas, projects, diary, custom),
// then by name under German, case-insensitive collation; stable for equal names.
void sortGroups(QList<Folder>& groups);

} // namespace orvik
