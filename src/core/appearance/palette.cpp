#include "palette.h"

namespace orvik {

PaletteColor PaletteColor::fixed(QRgb rgb) {
    PaletteColor c;
    c.m_kind = Kind::Fixed;
    c.m_light = c.m_dark = qRgb(qRed(rgb), qGreen(rgb), qBlue(rgb));
    return c;
}

PaletteColor PaletteColor::fromRole(QPalette::ColorRole role, qreal alpha) {
    PaletteColor c;
    c.m_kind = Kind::Role;
    c.m_role = role;
    c.m_alpha = alpha;
    return c;
}

PaletteColor PaletteColor::forScheme(QRgb light, QRgb dark) {
    PaletteColor c;
    c.m_kind = Kind::Scheme;
    c.m_light = light;
    c.m_dark = dark;
    return c;
}

QColor PaletteColor::resolve(const QPalette& qt) const {
    switch (m_kind) {
    case Kind::Fixed:
        return QColor::fromRgb(m_light);
    case Kind::Role: {
        QColor c = qt.color(m_role);
        c.setAlphaF(float(c.alphaF() * m_alpha));
        return c;
    }
    case Kind::Scheme:
        return QColor::fromRgb(isDark(qt) ? m_dark : m_light);
    }
    return {};
}

const PaletteColor& Palette::operator[](Role role) const {
    switch (role) {
    case Role::Paper:
        return paper;
    case Role::Text:
        return text;
    case Role::Heading:
        return heading;
    case Role::Syntax:
        return syntax;
    case Role::Quote:
        return quote;
    case Role::Code:
        return code;
    case Role::Link:
        return link;
    case Role::Caret:
        return caret;
    case Role::Toolbar:
        return toolbar;
    case Role::Sidebar:
        return sidebar;
    case Role::List:
        return list;
    case Role::Selection:
        return selection;
    }
    return text;
}

const Palette& Palette::system() {
    // Qt has no label hierarchy: the secondary and tertiary label colours are
    // the text colour at the opacities the desktop conventions use for them.
    // There is no accent role before Qt 6.6; the selection colour is the
    // accent on every desktop style we ship with.
    static const Palette palette = [] {
        const auto role = PaletteColor::fromRole;
        Palette p;
        p.paper = role(QPalette::Base, 1.0);
        p.text = role(QPalette::Text, 1.0);
        p.heading = role(QPalette::Text, 1.0);
        p.syntax = role(QPalette::Text, 0.26);
        p.quote = role(QPalette::Text, 0.5);
        p.code = PaletteColor::forScheme(qRgb(48, 176, 199), qRgb(64, 200, 224));
        p.link = role(QPalette::Highlight, 1.0);
        p.caret = role(QPalette::Highlight, 1.0);
        p.toolbar = role(QPalette::Window, 1.0);
        p.sidebar = role(QPalette::Window, 1.0);
        p.list = role(QPalette::Base, 1.0);
        p.selection = role(QPalette::Highlight, 1.0);
        p.overridesChrome = false;
        return p;
    }();
    return palette;
}

const Palette& Palette::sepiaLight() {
    static const Palette palette = [] {
        const auto rgb = PaletteColor::fixed;
        Palette p;
        p.paper = rgb(0xF7EFDD);
        p.text = rgb(0x4A3B2A);
        p.heading = rgb(0x33281B);
        p.syntax = rgb(0xC0AE8E);
        p.quote = rgb(0x7C6B54);
        p.code = rgb(0x9A5B27);
        p.link = rgb(0x8A5A2B);
        p.caret = rgb(0x9A5B27);
        p.toolbar = rgb(0xDED0B0);
        p.sidebar = rgb(0xE9DDC3);
        p.list = rgb(0xF1E7D1);
        p.selection = rgb(0xD9C7A2);
        p.overridesChrome = true;
        return p;
    }();
    return palette;
}

const Palette& Palette::sepiaDark() {
    static const Palette palette = [] {
        const auto rgb = PaletteColor::fixed;
        Palette p;
        p.paper = rgb(0x23201B);
        p.text = rgb(0xD9CBB1);
        p.heading = rgb(0xEFE3C8);
        p.syntax = rgb(0x6E6555);
        p.quote = rgb(0xA5977E);
        p.code = rgb(0xD4A76A);
        p.link = rgb(0xD4A76A);
        p.caret = rgb(0xD4A76A);
        p.toolbar = rgb(0x131110);
        p.sidebar = rgb(0x191713);
        p.list = rgb(0x1E1B17);
        p.selection = rgb(0x3D3529);
        p.overridesChrome = true;
        return p;
    }();
    return palette;
}

bool isDark(const QPalette& qt) {
    return qt.color(QPalette::Base).lightnessF() < qt.color(QPalette::Text).lightnessF();
}

QPalette colorSchemePalette(ColorScheme scheme) {
    struct Colors {
        QRgb window, windowText, base, alternateBase, text, button, light, midlight, mid, dark,
            shadow, highlight, highlightedText, link, linkVisited, toolTipBase, toolTipText;
    };
    static constexpr Colors light = {0xEFEFEF, 0x1D1D1F, 0xFFFFFF, 0xF5F5F5, 0x1D1D1F, 0xF6F6F6,
                                     0xFFFFFF, 0xF0F0F0, 0xB8B8B8, 0x9F9F9F, 0x767676, 0x2F6FDB,
                                     0xFFFFFF, 0x2F6FDB, 0x7A4FC4, 0xFFFFE6, 0x1D1D1F};
    static constexpr Colors dark = {0x2A2A2C, 0xE8E8E8, 0x1E1E1E, 0x262628, 0xE8E8E8, 0x3A3A3C,
                                    0x4A4A4C, 0x424244, 0x2E2E30, 0x1A1A1A, 0x0A0A0A, 0x3B7BE8,
                                    0xFFFFFF, 0x5A9CF5, 0xB090F0, 0x3A3A3C, 0xE8E8E8};
    const Colors& c = scheme == ColorScheme::Dark ? dark : light;

    QPalette p;
    const auto set = [&p](QPalette::ColorRole role, QRgb rgb) {
        p.setColor(QPalette::All, role, QColor::fromRgb(rgb));
    };
    set(QPalette::Window, c.window);
    set(QPalette::WindowText, c.windowText);
    set(QPalette::Base, c.base);
    set(QPalette::AlternateBase, c.alternateBase);
    set(QPalette::Text, c.text);
    set(QPalette::Button, c.button);
    set(QPalette::ButtonText, c.text);
    set(QPalette::BrightText, 0xFF3B30);
    set(QPalette::Light, c.light);
    set(QPalette::Midlight, c.midlight);
    set(QPalette::Mid, c.mid);
    set(QPalette::Dark, c.dark);
    set(QPalette::Shadow, c.shadow);
    set(QPalette::Highlight, c.highlight);
    set(QPalette::HighlightedText, c.highlightedText);
    set(QPalette::Link, c.link);
    set(QPalette::LinkVisited, c.linkVisited);
    set(QPalette::ToolTipBase, c.toolTipBase);
    set(QPalette::ToolTipText, c.toolTipText);
    QColor placeholder = QColor::fromRgb(c.text);
    placeholder.setAlphaF(0.5f);
    p.setColor(QPalette::All, QPalette::PlaceholderText, placeholder);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        QColor disabled = QColor::fromRgb(c.text);
        disabled.setAlphaF(0.4f);
        p.setColor(QPalette::Disabled, role, disabled);
    }
    return p;
}

} // namespace orvik
