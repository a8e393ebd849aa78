#include "spellchecker.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <hunspell.hxx>

namespace orvik::spelling {

namespace {

bool isWordChar(QChar c) {
    return c.isLetter() || c.isMark();
}

bool isAddress(QStringView token) {
    return token.contains(u"://") || token.startsWith(u"www.", Qt::CaseInsensitive) ||
           token.contains(u'@');
}

} // namespace

QList<Word> words(QStringView line) {
    QList<Word> found;
    const qsizetype n = line.size();
    qsizetype i = 0;
    while (i < n) {
        while (i < n && line[i].isSpace())
            ++i;
        qsizetype tokenEnd = i;
        while (tokenEnd < n && !line[tokenEnd].isSpace())
            ++tokenEnd;
        if (isAddress(line.mid(i, tokenEnd - i))) {
            i = tokenEnd;
            continue;
        }
        while (i < tokenEnd) {
            if (!isWordChar(line[i])) {
                ++i;
                continue;
            }
            const qsizetype start = i;
            while (i < tokenEnd && isWordChar(line[i]))
                ++i;
            const bool digitBefore = start > 0 && line[start - 1].isDigit();
            const bool digitAfter = i < n && line[i].isDigit();
            if (i - start > 1 && !digitBefore && !digitAfter)
                found.append({start, i - start});
        }
    }
    return found;
}

QString personalWordListPath() {
    // The folder QSettings("Orvik", "Orvik") writes its file to.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Orvik/woerterbuch.txt");
}

SpellChecker::SpellChecker(const QString& dictionaryBase, const QString& wordListPath,
                           QObject* parent)
    : QObject(parent), m_wordListPath(wordListPath) {
    const QString aff = dictionaryBase + QStringLiteral(".aff");
    const QString dic = dictionaryBase + QStringLiteral(".dic");
    if (QFileInfo::exists(aff) && QFileInfo::exists(dic))
        m_hunspell = std::make_unique<Hunspell>(QFile::encodeName(aff).constData(),
                                                QFile::encodeName(dic).constData());
    // The app's own texts (the welcome sheet, templates) should not greet the
    // writer with red waves.
    if (m_hunspell) {
        for (const char* word : {"Orvik", "Markdown"})
            m_hunspell->add(word);
    }
    loadWordList();
}

SpellChecker::~SpellChecker() = default;

SpellChecker* SpellChecker::shared() {
    static SpellChecker* checker = [] {
        auto* c =
            new SpellChecker(QStringLiteral("/usr/share/hunspell/de_DE"), personalWordListPath());
        if (c->isValid())
            return c;
        delete c;
        return static_cast<SpellChecker*>(nullptr);
    }();
    return checker;
}

void SpellChecker::loadWordList() {
    QFile file(m_wordListPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n');
    for (const QString& line : lines) {
        const QString word = line.trimmed();
        if (word.isEmpty() || m_personal.contains(word))
            continue;
        m_personal.append(word);
        if (m_hunspell)
            m_hunspell->add(word.toStdString());
    }
}

bool SpellChecker::isCorrect(QStringView word) {
    if (!m_hunspell)
        return true;
    const QString key = word.toString();
    const auto known = m_known.constFind(key);
    if (known != m_known.cend())
        return *known;
    const bool correct = m_hunspell->spell(key.toStdString());
    m_known.insert(key, correct);
    return correct;
}

QStringList SpellChecker::suggestions(QStringView word) {
    QStringList list;
    if (!m_hunspell)
        return list;
    for (const std::string& s : m_hunspell->suggest(word.toString().toStdString()))
        list.append(QString::fromStdString(s));
    return list;
}

QStringList SpellChecker::personalWords() const {
    return m_personal;
}

bool SpellChecker::addWord(const QString& word) {
    const QString w = word.trimmed();
    if (w.isEmpty() || w.contains(u'\n'))
        return false;
    if (!m_personal.contains(w)) {
        m_personal.append(w);
        if (m_hunspell)
            m_hunspell->add(w.toStdString());
    }
    // Capitalised forms were cached as wrong too.
    m_known.clear();
    QDir().mkpath(QFileInfo(m_wordListPath).absolutePath());
    QSaveFile file(m_wordListPath);
    bool written = file.open(QIODevice::WriteOnly);
    if (written) {
        file.write(m_personal.join(u'\n').toUtf8() + '\n');
        written = file.commit();
    }
    Q_EMIT wordAdded(w);
    return written;
}

} // namespace orvik::spelling
