#pragma once

#include <QColor>
#include <QPalette>

namespace orvik {

enum class ColorScheme { Light, Dark };

// One colour of a palette. The sepia colours are fixed; the system palette's
// colours are taken from the Qt palette in effect when they are drawn, so that
// they follow the desktop's light or dark look.
class PaletteColor {
public:
    // A fixed, opaque sRGB colour.
    static PaletteColor fixed(QRgb rgb);
    // A role of the Qt palette, optionally made translucent.
    static PaletteColor fromRole(QPalette::ColorRole role, qreal alpha = 1.0);
    // One of two colours, by whether the Qt palette is dark; for colours that
    // have no Qt role.
    static PaletteColor forScheme(QRgb light, QRgb dark);

    QColor resolve(const QPalette& qt) const;
    bool isFixed() const { return m_kind == Kind::Fixed; }

    friend bool operator==(const PaletteColor&, const PaletteColor&) = default;

private:
    enum class Kind : quint8 { Fixed, Role, Scheme };
    Kind m_kind = Kind::Fixed;
    QPalette::ColorRole m_role = QPalette::NoRole;
    qreal m_alpha = 1.0;
    QRgb m_light = 0;
    QRgb m_dark = 0;
};

// The colours of one appearance: twelve colours and whether the palette
// replaces the window's own chrome colours.
struct Palette {
    enum class Role : quint8 {
        Paper,
        Text,
        Heading,
        Syntax,
        Quote,
        Code,
        Link,
        Caret,
        Toolbar,
        Sidebar,
        List,
        Selection
    };

    PaletteColor paper;
    PaletteColor text;
    PaletteColor heading;
    PaletteColor syntax;
    PaletteColor quote;
    PaletteColor code;
    PaletteColor link;
    PaletteColor caret;
    PaletteColor toolbar;
    PaletteColor sidebar;
    PaletteColor list;
    PaletteColor selection;
    bool overridesChrome = false;

    const PaletteColor& operator[](Role role) const;
    QColor color(Role role, const QPalette& qt) const { return (*this)[role].resolve(qt); }

    // The desktop's colours, by the roles of the Qt palette.
    static const Palette& system();
    static const Palette& sepiaLight();
    static const Palette& sepiaDark();

    friend bool operator==(const Palette&, const Palette&) = default;
};

// Whether a Qt palette draws light text on a dark ground.
bool isDark(const QPalette& qt);

// A complete Qt palette of the given scheme, for windows whose appearance mode
// forces light or dark regardless of the desktop.
QPalette colorSchemePalette(ColorScheme scheme);

} // namespace orvik
