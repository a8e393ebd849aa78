#include "rescue.h"

#include "platform/files.h"

#include <QDir>
#include <QStandardPaths>

namespace orvik::rescue {

namespace {

// A title is free text; as a file name it must stay one harmless component
// and leave room for the time and a counter within the usual 255 bytes.
QString fileStem(const QString& name) {
    QString stem;
    for (const QChar c : name.simplified())
        stem.append(c == u'/' || c == QChar(0) ? u'-' : c);
    while (stem.startsWith(u'.'))
        stem.remove(0, 1);
    while (stem.toUtf8().size() > 120) {
        stem.chop(1);
        if (!stem.isEmpty() && stem.back().isHighSurrogate())
            stem.chop(1);
    }
    return stem.trimmed().isEmpty() ? QStringLiteral("Text") : stem.trimmed();
}

} // namespace

QString defaultFolder() {
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath();
    return base + QStringLiteral("/Orvik/Gerettet");
}

std::optional<QString> keep(const QString& folder, const QString& name, const QString& text,
                            const QDateTime& when) {
    if (!QDir().mkpath(folder))
        return std::nullopt;
    const QString stem =
        fileStem(name) + u' ' + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmmss"));
    const QByteArray bytes = text.toUtf8();
    // Another process may take the free name between the look and the write.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString path =
            QDir(folder).filePath(files::firstFreeName(folder, stem, QStringLiteral("md")));
        if (files::writeNewAtomically(path, bytes))
            return path;
    }
    return std::nullopt;
}

} // namespace orvik::rescue
