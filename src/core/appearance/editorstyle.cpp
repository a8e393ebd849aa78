#include "editorstyle.h"

#include "platform/preferences.h"

#include <algorithm>
#include <cmath>

namespace orvik {

QString MarkdownHighlighter::Style::key() const {
    // Adding zero turns the -0 of sizes in (-1, 0) into 0.
    const QString size = QString::number(std::trunc(baseSize) + 0.0, 'f', 0);
    return rawValue(mode) + u'|' + family + u'|' + size;
}

AppearancePreferences AppearancePreferences::current() {
    AppearancePreferences p;
    if (const auto v = prefs::value(appearanceKey()))
        p.appearance = prefs::toText(*v).value_or(p.appearance);
    if (const auto v = prefs::value(fontFamilyKey()))
        p.fontFamily = prefs::toText(*v).value_or(p.fontFamily);
    if (const auto v = prefs::value(fontSizeKey())) {
        // An edited settings file could hold a size that overflows the
        // style's key or makes the text unusable.
        const auto size = prefs::toDouble(*v);
        if (size && std::isfinite(*size))
            p.fontSize = std::clamp(*size, minFontSize, maxFontSize);
    }
    return p;
}

double AppearancePreferences::enlargedFontSize() {
    return std::min(storedFontSize() + 1, maxFontSize);
}

double AppearancePreferences::reducedFontSize() {
    return std::max(storedFontSize() - 1, minFontSize);
}

double AppearancePreferences::storedFontSize() {
    const auto value = prefs::value(fontSizeKey());
    const auto size = value ? prefs::toDouble(*value) : std::nullopt;
    return size && std::isfinite(*size) ? *size : defaultFontSize;
}

void AppearancePreferences::storeAppearance(const QString& raw) {
    prefs::setValue(appearanceKey(), raw);
}

void AppearancePreferences::storeFontFamily(const QString& family) {
    prefs::setValue(fontFamilyKey(), family);
}

void AppearancePreferences::storeFontSize(double size) {
    prefs::setValue(fontSizeKey(), size);
}

MarkdownHighlighter::Style editorStyle(const AppearancePreferences& preferences,
                                       const QList<EditorFont>& available) {
    EditorFont font{AppearancePreferences::defaultFamily(), AppearancePreferences::defaultFamily(),
                    1.0};
    const auto chosen = std::find_if(available.begin(), available.end(), [&](const EditorFont& f) {
        return f.family == preferences.fontFamily;
    });
    if (chosen != available.end())
        font = *chosen;
    else if (!available.isEmpty())
        font = available.first();

    const AppearanceMode mode =
        appearanceModeFromRawValue(preferences.appearance).value_or(AppearanceMode::System);
    return {font.sizeFactor * preferences.fontSize, font.family, paletteFor(mode), mode};
}

MarkdownHighlighter::Style editorStyle() {
    return editorStyle(AppearancePreferences::current(), EditorFont::available());
}

QString exportFamily(const QString& chosen) {
    if (Theme::writesGerman(chosen))
        return chosen;
    AppearancePreferences preferences;
    preferences.fontFamily = chosen;
    // The editor's fallback ends in a family that may not be installed; the
    // editor then sets text in the system font, and so does the export.
    return Theme::resolvedFamily(editorStyle(preferences, EditorFont::available()).family);
}

} // namespace orvik
