#include "theme.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QHash>
#include <QHashFunctions>
#include <QMutex>
#include <QRawFont>

namespace orvik {

namespace {

struct ModeInfo {
    AppearanceMode mode;
    const char16_t* raw;
    const char16_t* title;
};
constexpr ModeInfo modeInfo[] = {
    {AppearanceMode::System, u"system", u"Wie das System"},
    {AppearanceMode::Hell, u"hell", u"Hell"},
    {AppearanceMode::Dunkel, u"dunkel", u"Dunkel"},
    {AppearanceMode::SepiaHell, u"sepiaHell", u"Sepia hell"},
    {AppearanceMode::SepiaDunkel, u"sepiaDunkel", u"Sepia dunkel"},
};

const ModeInfo& info(AppearanceMode mode) {
    for (const ModeInfo& entry : modeInfo)
        if (entry.mode == mode)
            return entry;
    return modeInfo[0];
}

const QString& iowanOldStyle() {
    static const QString family = QStringLiteral("Iowan Old Style");
    return family;
}

// Families that exist twice in fontconfig are listed as "Family [Foundry]".
QStringView withoutFoundry(QStringView family) {
    if (family.endsWith(u']')) {
        const qsizetype open = family.lastIndexOf(QStringView(u" ["));
        if (open > 0)
            return family.first(open);
    }
    return family;
}

bool slanted(const QString& family, const QString& style) {
    // QFontDatabase::italic() is false for faces named "Oblique".
    return QFontDatabase::italic(family, style) ||
           QFontDatabase::font(family, style, 12).style() != QFont::StyleNormal;
}

// The face Qt draws the style with. The caller has made sure the family has
// such a face of its own; QRawFont cannot tell a real bold from a made-up one.
bool faceWritesGerman(const QString& family, bool bold, bool italic) {
    QFont font(family);
    font.setBold(bold);
    font.setItalic(italic);
    const QRawFont face = QRawFont::fromFont(font);
    if (!face.isValid() ||
        withoutFoundry(face.familyName()).compare(family, Qt::CaseInsensitive) != 0)
        return false;
    for (const char16_t c : u"ÄÖÜäöüß„“‚‘–…")
        if (c != 0 && !face.supportsCharacter(QChar(c)))
            return false;
    return true;
}

QFont sized(QFont font, qreal size) {
    font.setPointSizeF(size);
    return font;
}

} // namespace

QString rawValue(AppearanceMode mode) {
    return QString::fromUtf16(info(mode).raw);
}

std::optional<AppearanceMode> appearanceModeFromRawValue(const QString& raw) {
    for (const ModeInfo& entry : modeInfo)
        if (raw == QStringView(entry.raw))
            return entry.mode;
    return std::nullopt;
}

QString title(AppearanceMode mode) {
    return QString::fromUtf16(info(mode).title);
}

const Palette& paletteFor(AppearanceMode mode) {
    switch (mode) {
    case AppearanceMode::SepiaHell:
        return Palette::sepiaLight();
    case AppearanceMode::SepiaDunkel:
        return Palette::sepiaDark();
    case AppearanceMode::System:
    case AppearanceMode::Hell:
    case AppearanceMode::Dunkel:
        break;
    }
    return Palette::system();
}

std::optional<ColorScheme> forcedColorScheme(AppearanceMode mode) {
    switch (mode) {
    case AppearanceMode::Hell:
    case AppearanceMode::SepiaHell:
        return ColorScheme::Light;
    case AppearanceMode::Dunkel:
    case AppearanceMode::SepiaDunkel:
        return ColorScheme::Dark;
    case AppearanceMode::System:
        break;
    }
    return std::nullopt;
}

const QList<EditorFont>& EditorFont::all() {
    // The first six are the faces the app is designed around; none of them
    // ships with Debian, so free book faces that do follow.
    static const QList<EditorFont> fonts = [] {
        QList<EditorFont> list;
        const auto add = [&list](const char16_t* family, double factor) {
            const QString name = QString::fromUtf16(family);
            list.append({name, name, factor});
        };
        add(u"Iowan Old Style", 1.0);
        add(u"Charter", 1.0);
        add(u"Cochin", 1.06);
        add(u"American Typewriter", 1.0);
        add(u"Courier New", 1.02);
        add(u"Apple Chancery", 1.12);
        add(u"Charis SIL", 1.0);
        add(u"Linux Libertine O", 1.06);
        add(u"EB Garamond", 1.1);
        add(u"TeX Gyre Pagella", 1.0);
        add(u"Liberation Mono", 1.0);
        return list;
    }();
    return fonts;
}

QList<EditorFont> EditorFont::available() {
    QList<EditorFont> result;
    for (const EditorFont& font : all())
        if (Theme::writesGerman(font.family))
            result.append(font);
    return result;
}

size_t qHash(const EditorFont& font, size_t seed) noexcept {
    return qHashMulti(seed, font.family, font.title, font.sizeFactor);
}

namespace Theme {

bool isInstalled(const QString& family) {
    if (family.isEmpty())
        return false;
    const QStringList families = QFontDatabase::families();
    for (const QString& listed : families)
        if (withoutFoundry(listed).compare(family, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString resolvedFamily(const QString& family) {
    if (isInstalled(family))
        return family;
    if (isInstalled(iowanOldStyle()))
        return iowanOldStyle();
    // The system font is often a fontconfig alias ("Sans Serif"); the face
    // checks need the family it stands for.
    return QFontInfo(QFontDatabase::systemFont(QFontDatabase::GeneralFont)).family();
}

FaceSet faces(const QString& family) {
    FaceSet set;
    for (const QString& style : QFontDatabase::styles(family)) {
        const bool bold = QFontDatabase::weight(family, style) >= QFont::DemiBold;
        const bool italic = slanted(family, style);
        set.bold |= bold && !italic;
        set.italic |= italic && !bold;
        set.boldItalic |= bold && italic;
    }
    return set;
}

bool writesGerman(const QString& family) {
    if (!isInstalled(family))
        return false; // not remembered: it may be installed later
    static QMutex mutex;
    static QHash<QString, bool> known;
    const QMutexLocker lock(&mutex);
    const QString key = family.toCaseFolded();
    if (const auto it = known.constFind(key); it != known.constEnd())
        return *it;
    bool result = faces(family) == FaceSet{true, true, true};
    for (const auto& [bold, italic] :
         {std::pair{false, false}, {true, false}, {false, true}, {true, true}})
        result = result && faceWritesGerman(family, bold, italic);
    known.insert(key, result);
    return result;
}

QFont editorBody(qreal size, const QString& family) {
    if (isInstalled(family))
        return sized(QFont(family), size);
    if (isInstalled(iowanOldStyle()))
        return sized(QFont(iowanOldStyle()), size);
    return sized(QFontDatabase::systemFont(QFontDatabase::GeneralFont), size);
}

qreal headingSizeFactor(int level) {
    switch (level) {
    case 1:
        return 1.72;
    case 2:
        return 1.42;
    case 3:
        return 1.22;
    default:
        return 1.08;
    }
}

ResolvedFont editorHeading(qreal size, int level, const QString& family) {
    QFont font = editorBody(size * headingSizeFactor(level), family);
    if (!faces(resolvedFamily(family)).bold)
        return {font, true};
    font.setWeight(QFont::Bold);
    return {font, false};
}

QFont monospaced(qreal size) {
    QFont font = sized(QFontDatabase::systemFont(QFontDatabase::FixedFont), size);
    font.setWeight(QFont::Normal);
    font.setStyle(QFont::StyleNormal);
    return font;
}

QString monospacedFamily() {
    return QFontInfo(QFontDatabase::systemFont(QFontDatabase::FixedFont)).family();
}

} // namespace Theme

} // namespace orvik
