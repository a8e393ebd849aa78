#include "library.h"

#include "platform/files.h"
#include "platform/preferences.h"
#include "platform/text.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::library {

QStringList standardGroupNames() {
    return {QStringLiteral("Schnelle Notiz"), QStringLiteral("Ideen"), QStringLiteral("Projekte"),
            QStringLiteral("Tagebuch")};
}

QString welcomeText() {
    return QStringLiteral(
        "# Willkommen bei Orvik\n"
        "\n"
        "Schön, dass du da bist. Orvik ist dein ruhiger Ort zum Schreiben.\n"
        "\n"
        "## So funktioniert es\n"
        "\n"
        "- Links wählst du eine **Gruppe** \u2013 *Ideen*, *Projekte* oder *Tagebuch*.\n"
        "- In der Mitte siehst du deine **Blätter**.\n"
        "- Hier rechts schreibst du. Markdown wird direkt schön dargestellt.\n"
        "\n"
        "## Ein paar Kniffe\n"
        "\n"
        "Schreibe `# ` für eine Überschrift, `**fett**` für **fett** und `*kursiv*` für "
        "*kursiv*.\n"
        "\n"
        "> Alles wird als schlichte Markdown-Datei in deinem Ordner \u201EOrvik\" gespeichert.\n"
        "\n"
        "Viel Freude beim Schreiben.");
}

QString chooseRoot() {
    const std::optional<QString> configured =
        prefs::textAsWritten(QStringLiteral("OrvikLibraryPath"));
    // An empty path would make the working folder the library: treat it as unset.
    if (configured && !configured->isEmpty())
        return QDir::cleanPath(QDir(*configured).absolutePath());
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString base = documents.isEmpty() ? QDir::homePath() : documents;
    return QDir::cleanPath(base + QStringLiteral("/Orvik"));
}

void bootstrapIfNeeded(const QString& root) {
    const QFileInfo rootInfo(root);
    const bool existed = rootInfo.exists() || rootInfo.isSymLink();
    QDir().mkpath(root);
    const QDir dir(root);
    for (const QString& name : standardGroupNames()) {
        const QFileInfo group(dir.filePath(name));
        if (!group.exists() && !group.isSymLink())
            dir.mkpath(name);
    }
    if (!existed) {
        files::writeTextAtomically(
            dir.filePath(QStringLiteral("Ideen/")) + QLatin1String(welcomeFileName), welcomeText());
    }
}

bool isReservedGroupName(const QString& name) {
    return text::trimmedHorizontal(name).toCaseFolded() ==
           QString::fromLatin1(trashDisplayName).toCaseFolded();
}

QList<Folder> readGroups(const QString& root) {
    QList<Folder> groups;
    const QFileInfoList entries =
        QDir(root).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        if (!entry.isDir() || entry.isHidden())
            continue;
        const QString name = entry.fileName();
        groups.append(Folder{QUrl::fromLocalFile(entry.absoluteFilePath()), name,
                             Folder::kindForFolderNamed(name)});
    }
    sortGroups(groups);
    return groups;
}

bool isSheetFileName(const QString& name) {
    return !name.startsWith(u'.') && name.size() > 3 &&
           name.endsWith(QLatin1String(".md"), Qt::CaseInsensitive);
}

QStringList sheetFiles(const QString& folderPath) {
    // Read as bytes: Qt's listing replaces what is no UTF-8 and then names a
    // file that does not exist.
    const QString folder = QDir::cleanPath(QDir(folderPath).absolutePath());
    const int fd = ::open(files::encodeName(folder).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return {};
    }
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        const QString name = files::decodeName(entry->d_name);
        if (!isSheetFileName(name))
            continue;
        struct stat st;
        if (entry->d_type == DT_REG ||
            ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
             ::fstatat(fd, entry->d_name, &st, 0) == 0 && S_ISREG(st.st_mode)))
            names.append(name);
    }
    ::closedir(dir);
    names.sort();
    QStringList paths;
    paths.reserve(names.size());
    for (const QString& name : std::as_const(names))
        paths.append(folder + u'/' + name);
    return paths;
}

QList<Sheet> readSheets(const QString& folderPath) {
    QList<Sheet> sheets;
    for (const QString& path : sheetFiles(folderPath)) {
        if (auto sheet = Sheet::load(path))
            sheets.append(std::move(*sheet));
    }
    std::stable_sort(sheets.begin(), sheets.end(),
                     [](const Sheet& a, const Sheet& b) { return a.modified > b.modified; });
    return sheets;
}

QString stamp(const QDateTime& moment) {
    return moment.toLocalTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss"));
}

QDateTime parseStamp(const QString& text) {
    static const QString pattern = QStringLiteral("yyyy-MM-dd-HHmmss");
    if (text.size() != 17)
        return {};
    QDateTime parsed = QDateTime::fromString(text, pattern);
    return parsed.isValid() ? parsed : QDateTime();
}

QString newSheetFileName(const QString& folderPath, const QDateTime& moment) {
    return files::firstFreeName(folderPath, stamp(moment), QStringLiteral("md"));
}

std::optional<QString> createSheetFile(const QString& folderPath, const QDateTime& moment,
                                       const QByteArray& bytes) {
    if (!QFileInfo(folderPath).isDir())
        return std::nullopt;
    // Bounded: a folder that refuses every name must not hold us forever.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = QDir(folderPath).filePath(newSheetFileName(folderPath, moment));
        if (files::writeNewAtomically(path, bytes))
            return path;
        const QFileInfo taken(path);
        if (!taken.exists() && !taken.isSymLink())
            return std::nullopt; // a failed write, not a taken name
    }
    return std::nullopt;
}

} // namespace orvik::library
