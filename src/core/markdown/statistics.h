#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace orvik::statistics {

// Counts of a sheet's prose for the statistics window. Markdown markup (heading
// marks, list and quote markers, emphasis, rules, link targets, code fences)
// is not text here; the status bar's word count, which counts the source,
// stays as it is.
struct TextStatistics {
    int words = 0;
    int charactersWithSpaces = 0; // graphemes, line breaks not counted
    int charactersWithoutSpaces = 0;
    int sentences = 0;
    int paragraphs = 0;
    int syllables = 0;
    int monosyllables = 0; // words of one syllable
    int polysyllables = 0; // words of three syllables or more
    int longWords = 0;     // words of more than six letters

    double averageSentenceLength() const;
    // Minutes at 200 words a minute (as the status bar shows), at least one.
    int readingMinutes() const;
    // Minutes at about 130 words a minute, at least one.
    int speakingMinutes() const;
    // The first Wiener Sachtextformel (school grade, about 4 to 15) and
    // Amstad's German Flesch reading ease (0 hard … 100 easy); none without words.
    std::optional<double> wienerSachtextformel() const;
    std::optional<double> fleschAmstad() const;
};

TextStatistics measure(QStringView markdown);

// The prose of a Markdown text: markup removed, one paragraph per line.
QString prose(QStringView markdown);

// Syllables of one German word by the vowel-group rule (diphthongs and long
// vowels written double count once; "qu" is a consonant); at least one.
int germanSyllables(QStringView word);

} // namespace orvik::statistics
