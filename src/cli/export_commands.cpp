#include "command.h"

#include "appearance/editorstyle.h"
#include "appearance/theme.h"
#include "library/library.h"
#include "markdown/exporter.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonObject>

#include <algorithm>

using namespace Qt::StringLiterals;

// Export of a sheet, or of a whole group as one document, as the export menu does it.
namespace orvik::cli {

namespace {

int usage(const Context& c, const QString& message) {
    c.err << "orvik: " << message << "\nHilfe: orvik --help\n";
    return Usage;
}

// The editor's font: the preference, or its default. A family given that
// lacks German letters in one of its faces would set them in another family;
// the export takes the default instead and says so.
QString fontFamily(const Context& c, Exporter::Format format) {
    if (const std::optional<QString> font = c.option(u"--font"_s)) {
        if (format == Exporter::Format::Markdown || Theme::writesGerman(*font))
            return *font;
        c.err << "orvik: Die Schrift " << quoted(*font)
              << " ist nicht installiert oder setzt nicht in allen Schnitten deutsche "
                 "Buchstaben; es gilt die voreingestellte Schrift.\n";
        return AppearancePreferences::defaultFamily();
    }
    const QString stored = AppearancePreferences::current().fontFamily;
    return stored.isEmpty() ? AppearancePreferences::defaultFamily() : stored;
}

// Whether `path` is a sheet of the library, in a group or in the trash, also
// when the path reaches its folder another way.
bool isSheet(const Context& c, const QString& path) {
    const QFileInfo file(path);
    if (!file.exists() || !library::isSheetFileName(file.fileName()))
        return false;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    const QList<Folder> groups = c.groups();
    return std::any_of(groups.begin(), groups.end(), [&](const Folder& group) {
        return QFileInfo(group.path()).canonicalFilePath() == folder;
    });
}

struct Document {
    QString markdown;
    QString title;
};

int cmdExport(const Context& c) {
    const std::optional<QString> groupName = c.option(u"--group"_s);
    if (groupName.has_value() == (c.argumentCount() == 1))
        return usage(c, u"Entweder eine Datei oder --group GRUPPE angeben."_s);
    const std::optional<QString> formatName = c.option(u"--format"_s);
    if (!formatName)
        return usage(c, u"--format fehlt (pdf, docx, html, rtf oder markdown)."_s);
    const std::optional<Exporter::Format> format = Exporter::formatFromRawValue(*formatName);
    if (!format)
        return usage(c,
                     QStringLiteral("Unbekanntes Format %1 (pdf, docx, html, rtf oder markdown).")
                         .arg(quoted(*formatName)));
    const std::optional<QString> target = c.option(u"-o"_s);
    if (!target)
        return usage(c, u"-o ZIEL fehlt."_s);

    Document document;
    if (groupName) {
        const std::optional<Folder> group = c.group(*groupName);
        if (!group)
            return c.fail(QStringLiteral("Die Gruppe %1 gibt es nicht.").arg(quoted(*groupName)));
        if (group->kind == Folder::Kind::Trash)
            return c.fail(u"Der Papierkorb lässt sich nicht als Gruppe exportieren."_s);
        QList<Sheet> sheets = library::readSheets(group->path());
        if (sheets.isEmpty())
            return c.fail(QStringLiteral("In %1 liegen keine Blätter.").arg(quoted(group->name)));
        // Oldest first, so that the combined document reads chronologically.
        std::stable_sort(sheets.begin(), sheets.end(),
                         [](const Sheet& a, const Sheet& b) { return a.modified < b.modified; });
        document = {Exporter::combine(sheets), group->name};
    } else {
        const QString file = c.argument(0);
        if (!files::isRegularFile(file))
            return c.fail(QStringLiteral("Die Datei %1 gibt es nicht.").arg(quoted(file)));
        const std::optional<QString> text = files::readText(file);
        if (!text)
            return c.fail(
                QStringLiteral("%1 ist keine lesbare UTF-8-Textdatei.").arg(quoted(file)));
        document = {*text, Sheet::fromText(file, *text, modificationDate(file)).title};
    }

    // A folder as the target gets the name the save panel would propose, or
    // the next free one: nothing in the folder is replaced.
    QString path = *target;
    const bool intoFolder = QFileInfo(path).isDir();
    if (intoFolder)
        path = QDir(path).filePath(files::firstFreeCopyName(
            path, Exporter::safeFileName(document.title), Exporter::fileExtension(*format)));
    path = QFileInfo(path).absoluteFilePath();
    if (!intoFolder && isSheet(c, path))
        return c.fail(
            QStringLiteral("%1 ist ein Blatt der Bibliothek und wird nicht überschrieben.")
                .arg(quoted(path)));

    try {
        Exporter::write(document.markdown, document.title, *format, fontFamily(c, *format), path,
                        !intoFolder);
    } catch (const Exporter::ExportError& error) {
        return c.fail(error.description());
    }
    if (c.json())
        c.print(QJsonDocument(QJsonObject{{u"path"_s, path}}));
    else
        c.out << path << '\n';
    return Success;
}

} // namespace

QList<Command> exportCommands() {
    return {
        {u"export"_s,
         u"export (DATEI | --group GRUPPE) --format FORMAT -o ZIEL [--font SCHRIFT]"_s,
         u"Blatt oder Gruppe exportieren (pdf, docx, html, rtf, markdown); "
         u"ZIEL: Datei oder Ordner"_s,
         0,
         1,
         {u"--group"_s, u"--format"_s, u"-o"_s, u"--font"_s},
         true,
         cmdExport},
    };
}

} // namespace orvik::cli
