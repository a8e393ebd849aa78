#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <memory>

class Hunspell;

namespace orvik::spelling {

// A word of a line of prose, in UTF-16 offsets of that line.
struct Word {
    qsizetype start = 0;
    qsizetype length = 0;
    qsizetype end() const { return start + length; }
    friend bool operator==(const Word&, const Word&) = default;
};

// The words worth checking: runs of letters. A run that touches a digit
// ("3D", "B12") or belongs to an address (URL, e-mail) is left alone, and so
// are single letters, since neither can be judged by a dictionary.
QList<Word> words(QStringView line);

// The personal word list beside the preferences ("woerterbuch.txt", one word
// a line, UTF-8).
QString personalWordListPath();

// German spelling through hunspell and the de_DE dictionary, plus the
// personal word list. One instance serves all editors of the process, so
// that a word added in one is accepted in all.
class SpellChecker : public QObject {
    Q_OBJECT
public:
    // Loads the dictionary from `dictionaryBase` (.aff/.dic appended) and the
    // word list from `wordListPath`.
    SpellChecker(const QString& dictionaryBase, const QString& wordListPath,
                 QObject* parent = nullptr);
    ~SpellChecker() override;

    // The process's checker with the system's de_DE dictionary; nullptr when
    // that is not installed.
    static SpellChecker* shared();

    bool isValid() const { return m_hunspell != nullptr; }
    // Remembered per word: hunspell's lookup is far too slow to repeat for
    // every word of every restyled line.
    bool isCorrect(QStringView word);
    // Slow (tens of milliseconds): only on request, never per keystroke.
    QStringList suggestions(QStringView word);
    // Accepts the word from now on and keeps it in the word list. Returns
    // false when the list could not be written (the word is accepted anyway
    // for this session).
    bool addWord(const QString& word);
    QStringList personalWords() const;

Q_SIGNALS:
    void wordAdded(const QString& word);

private:
    void loadWordList();

    std::unique_ptr<Hunspell> m_hunspell;
    QString m_wordListPath;
    QStringList m_personal;
    QHash<QString, bool> m_known;
};

} // namespace orvik::spelling
