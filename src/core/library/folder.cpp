#include "folder.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

namespace orvik {

namespace {
struct KindName {
    Folder::Kind kind;
    const char16_t* raw;
};
constexpr KindName kindNames[] = {
    {Folder::Kind::Diary, u"diary"},       {Folder::Kind::Ideas, u"ideas"},
    {Folder::Kind::Projects, u"projects"}, {Folder::Kind::Quick, u"quick"},
    {Folder::Kind::Custom, u"custom"},     {Folder::Kind::Trash, u"trash"},
};

int rank(Folder::Kind kind) {
    switch (kind) {
    case Folder::Kind::Quick:
        return 0;
    case Folder::Kind::Ideas:
        return 1;
    case Folder::Kind::Projects:
        return 2;
    case Folder::Kind::Diary:
        return 3;
    case Folder::Kind::Custom:
        return 4;
    case Folder::Kind::Trash:
        return 5;
    }
    return 4;
}
} // namespace

Folder::Kind Folder::kindForFolderNamed(const QString& name) {
    const QString lower = name.toLower();
    if (lower == u"schnelle notiz")
        return Kind::Quick;
    if (lower == u"tagebuch" || lower == u"diary")
        return Kind::Diary;
    if (lower == u"ideen" || lower == u"ideas")
        return Kind::Ideas;
    if (lower == u"projekte" || lower == u"projects")
        return Kind::Projects;
    return Kind::Custom;
}

QString rawValue(Folder::Kind kind) {
    for (const auto& entry : kindNames)
        if (entry.kind == kind)
            return QString::fromUtf16(entry.raw);
    return {};
}

std::optional<Folder::Kind> kindFromRawValue(const QString& raw) {
    for (const auto& entry : kindNames)
        if (raw == QStringView(entry.raw))
            return entry.kind;
    return std::nullopt;
}

size_t qHash(const Folder& folder, size_t seed) noexcept {
    return qHashMulti(seed, folder.url, folder.name, rawValue(folder.kind));
}

void sortGroups(QList<Folder>& groups) {
    QCollator collator{QLocale(QLocale::German, QLocale::Germany)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(groups.begin(), groups.end(), [&](const Folder& a, const Folder& b) {
        const int ra = rank(a.kind);
        const int rb = rank(b.kind);
        if (ra != rb)
            return ra < rb;
        return collator.compare(a.name, b.name) < 0;
    });
}

} // namespace orvik
