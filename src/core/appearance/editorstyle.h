#pragma once

#include "palette.h"
#include "platform/preferences.h"
#include "theme.h"

#include <QList>
#include <QString>

namespace orvik {

namespace MarkdownHighlighter {

// The editor style every view draws with; a plain value derived from the
// appearance preferences. Shown outside the main window, a view uses the
// default value.
struct Style {
    double baseSize = 17.0; // points, after the font's size factor
    QString family = QStringLiteral("Iowan Old Style");
    Palette palette = Palette::system();
    AppearanceMode mode = AppearanceMode::System;

    // Tells styles apart for restyling: "mode|family|whole points", e.g.
    // "sepiaHell|Charter|17". Fractions of a point and the palette (which
    // follows from the mode) are left out on purpose.
    QString key() const;

    friend bool operator==(const Style&, const Style&) = default;
};

} // namespace MarkdownHighlighter

// The three stored choices of the look, QSettings("Orvik", "Orvik").
struct AppearancePreferences {
    static QString appearanceKey() { return QStringLiteral("OrvikAppearance"); }
    static QString fontFamilyKey() { return QStringLiteral("OrvikFontFamily"); }
    static QString fontSizeKey() { return QStringLiteral("OrvikFontSize"); }

    static QString defaultFamily() { return QStringLiteral("Iowan Old Style"); }
    // The size commands step by one point within these bounds.
    static constexpr double defaultFontSize = 17;
    static constexpr double minFontSize = 12;
    static constexpr double maxFontSize = 32;

    QString appearance = QStringLiteral("system"); // raw value, maybe of no mode
    QString fontFamily = defaultFamily();
    double fontSize = defaultFontSize; // points, before the font's size factor

    // Reads the three preferences anew. Absent values and values of the wrong
    // kind give the defaults; a size that is no finite number gives the
    // default, one outside the bounds is brought within them.
    static AppearancePreferences current();
    // The size as stored, finite but not brought within the bounds: the slider
    // and the size commands start from what the user last chose.
    static double storedFontSize();
    // One step of the size commands from the stored size, never past a bound.
    static double enlargedFontSize();
    static double reducedFontSize();

    static void storeAppearance(const QString& raw);
    static void storeFontFamily(const QString& family);
    static void storeFontSize(double size);

    friend bool operator==(const AppearancePreferences&, const AppearancePreferences&) = default;
};

// The writing aids of the Bearbeiten menu, each remembered for the next start.
struct WritingAidPreferences {
    static constexpr prefs::Flag spellChecking{u"OrvikCheckSpelling", true};
    static constexpr prefs::Flag typography{u"OrvikSmartTypography", true};
};

// The writing modes of the Darstellung menu that outlast a start; full screen
// does not.
struct WritingModePreferences {
    static constexpr prefs::Flag focusMode{u"OrvikFocusMode", false};
    static constexpr prefs::Flag typewriterMode{u"OrvikTypewriterMode", false};
    static constexpr prefs::Flag editorOnly{u"OrvikEditorOnly", false};
};

// The style for the given choices: the stored family if it is among `available`,
// else the first available font, else "Iowan Old Style" at factor 1; an
// appearance that names no mode means the system's.
MarkdownHighlighter::Style editorStyle(const AppearancePreferences& preferences,
                                       const QList<EditorFont>& available);
// From the current preferences and the installed fonts.
MarkdownHighlighter::Style editorStyle();

// The family PDF, DOCX and RTF exports print in for the chosen one: the chosen
// family when it writes German in all four faces (Theme::writesGerman), else
// the one the editor shows for it, so that an export looks like the editor.
QString exportFamily(const QString& chosen);

} // namespace orvik
