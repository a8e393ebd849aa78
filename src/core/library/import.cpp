#include "import.h"

#include "platform/files.h"
#include "platform/text.h"

#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace orvik::library {

namespace {

QString quotedName(const QString& path) {
    return u"„"_s + files::displayName(QFileInfo(path).fileName()) + u"“"_s;
}

} // namespace

bool isImportableName(const QString& name) {
    const QString suffix = QFileInfo(name).suffix().toLower();
    return !QFileInfo(name).completeBaseName().isEmpty() &&
           (suffix == u"md"_s || suffix == u"markdown"_s || suffix == u"txt"_s);
}

Imported importFile(const QString& source, const QString& folderPath) {
    Imported result{source, {}, {}};
    const auto refuse = [&](const QString& why) {
        result.refusal = quotedName(source) + u' ' + why;
        return result;
    };
    if (!isImportableName(QFileInfo(source).fileName()))
        return refuse(u"ist keine Markdown- oder Textdatei."_s);
    struct stat st;
    if (::stat(files::encodeName(source).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return refuse(u"ist keine lesbare Datei."_s);
    if (st.st_size > importLimitBytes)
        return refuse(u"ist größer als 50 MB."_s);
    const auto bytes = files::readBytes(source);
    if (!bytes)
        return refuse(u"ließ sich nicht lesen."_s);
    if (bytes->size() > importLimitBytes)
        return refuse(u"ist größer als 50 MB."_s);
    if (!text::decodeUtf8(*bytes))
        return refuse(u"ist kein UTF-8-Text."_s);

    const QString stem = QFileInfo(source).completeBaseName();
    // Another program may take the free name first; the next one is used then.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path =
            folderPath + u'/' + files::firstFreeCopyName(folderPath, stem, u"md"_s);
        if (files::writeNewAtomically(path, *bytes)) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            ::utimensat(AT_FDCWD, files::encodeName(path).constData(), times, 0);
            result.path = path;
            return result;
        }
        struct stat taken;
        if (::lstat(files::encodeName(path).constData(), &taken) != 0)
            break;
    }
    return refuse(u"ließ sich nicht in die Gruppe schreiben."_s);
}

} // namespace orvik::library
