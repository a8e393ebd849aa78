#pragma once

#include "palette.h"

#include <QFont>
#include <QList>
#include <QString>

#include <optional>

// Font lookups need a QGuiApplication: QFontDatabase is empty without one.
namespace orvik {

// The looks the user can choose; listed in this order.
enum class AppearanceMode { System, Hell, Dunkel, SepiaHell, SepiaDunkel };
inline constexpr AppearanceMode allAppearanceModes[] = {
    AppearanceMode::System, AppearanceMode::Hell, AppearanceMode::Dunkel, AppearanceMode::SepiaHell,
    AppearanceMode::SepiaDunkel};

// "system", "hell", "dunkel", "sepiaHell", "sepiaDunkel": what the preference stores.
QString rawValue(AppearanceMode mode);
std::optional<AppearanceMode> appearanceModeFromRawValue(const QString& raw);
// What menus and the settings window show.
QString title(AppearanceMode mode);
const Palette& paletteFor(AppearanceMode mode);
// The scheme the window is held to; nothing when it follows the desktop.
std::optional<ColorScheme> forcedColorScheme(AppearanceMode mode);

// One of the book faces the editor offers.
struct EditorFont {
    QString family; // as Qt's font database names it
    QString title;
    double sizeFactor = 1.0; // scales the chosen text size

    QString id() const { return family; }

    // The fixed list, in menu order.
    static const QList<EditorFont>& all();
    // Those of all() that are installed and write German in all four faces
    // (Theme::writesGerman), in the same order; asked afresh on every call, so
    // that fonts installed while running appear.
    static QList<EditorFont> available();

    friend bool operator==(const EditorFont&, const EditorFont&) = default;
};

size_t qHash(const EditorFont& font, size_t seed = 0) noexcept;

// Which faces a family has besides its regular one. A face counts as bold from
// semibold weight on, and slanted faces count as italic whether the font calls
// them italic or oblique.
struct FaceSet {
    bool bold = false;
    bool italic = false;
    bool boldItalic = false;

    bool has(bool isBold, bool isItalic) const {
        return isBold ? (isItalic ? boldItalic : bold) : (isItalic ? italic : true);
    }
    friend bool operator==(const FaceSet&, const FaceSet&) = default;
};

// A heading font, and whether the family lacks a bold face so that the bold
// must be imitated.
struct ResolvedFont {
    QFont font;
    bool syntheticBold = false;
};

namespace Theme {

// The family the editor fonts use for `family`: itself when installed, else
// "Iowan Old Style" when installed, else the family of the system font.
QString resolvedFamily(const QString& family);
// Whether Qt's font database lists the family. QFont cannot tell: a missing
// family silently resolves to a substitute.
bool isInstalled(const QString& family);
FaceSet faces(const QString& family);
// Whether the family is installed with a regular, a bold, an italic and a bold
// italic face of its own that each have every German letter and mark: Ä Ö Ü ä
// ö ü ß „ “ ‚ ‘ – …. Otherwise headings, bold or quotes would fall back to
// another family letter by letter. Known results are kept.
bool writesGerman(const QString& family);

// The body font of the editor, at `size` points.
QFont editorBody(qreal size, const QString& family);
// The heading font of level 1 to 6: larger by level, bold where the family
// has a bold face.
ResolvedFont editorHeading(qreal size, int level, const QString& family);
qreal headingSizeFactor(int level);
// The system's monospaced font, regular weight; used for code.
QFont monospaced(qreal size);
QString monospacedFamily();

} // namespace Theme

} // namespace orvik
