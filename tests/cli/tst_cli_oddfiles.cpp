#include "orvikrun.h"
#include "platform/files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using orvik::test::readBytes;
using orvik::test::Run;

// Guards against crashes, hangs and lost sheets on a library as real disks hold
// them: invalid UTF-8, NUL bytes, empty and huge sheets, decomposed or emoji or
// non-UTF-8 names, a leading dash, links dangling, looping or to devices, a FIFO.
class TestCliOddFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib(const QString& sub = {}) const { return m_home.path() + u"/Texte"_s + sub; }
    QString ideas(const QString& name = {}) const { return lib(u"/Ideen/"_s + name); }

    // "Über.md" with the umlaut as U + combining diaeresis, as macOS writes it.
    const QString nfd = u"U\u0308ber.md"_s;
    const QString emoji = u"📝 Notiz 👩‍👩‍👧.md"_s;
    const QString latin1 = u"Br\uFFFDtchen.md"_s; // a Latin-1 name from an old archive, as shown
    const QByteArray invalidUtf8 = "# Kaputt \xff\xfe\xc3\x28\n\nZwiebel\n";

    Run orvik(const QString& line, const QStringList& more = {}) {
        const QStringList command{QStringLiteral(ORVIK_BINARY), u"--library"_s, lib()};
        return orvik::test::run(command + line.split(u' ', Qt::SkipEmptyParts) + more,
                                m_home.path());
    }
    // The shown file names of `paths`, sorted, each checked to lead to its file.
    static QStringList shown(const QStringList& paths) {
        QStringList names;
        for (const QString& p : paths)
            names.append(orvik::files::stamp(p).exists
                             ? orvik::files::displayName(QFileInfo(p).fileName())
                             : u"missing: "_s + p);
        names.sort();
        return names;
    }
    QStringList sorted(QStringList names) const {
        names.sort();
        return names;
    }

private Q_SLOTS:
    // Qt's removal cannot name a file whose name is no UTF-8.
    void cleanupTestCase() { orvik::test::removeTree(m_home.path()); }

    void initTestCase() {
        QCOMPARE(orvik(u"groups"_s).code, 0);
        using orvik::test::writeBytes;
        QVERIFY(writeBytes(ideas(u"leer.md"_s), QByteArray()));
        QVERIFY(writeBytes(ideas(u"kaputt.md"_s), invalidUtf8));
        QVERIFY(
            writeBytes(ideas(u"nul.md"_s), QByteArray("# Mit NUL\0drin\n\nZwiebel\0Ende\n", 28)));
        QVERIFY(writeBytes(ideas(u"-Strich.md"_s), "# Strich\n\nZwiebel\n"));
        // Decomposed in the name and in the text: "übermut" must still find it.
        QVERIFY(writeBytes(ideas(nfd), "# Umlaut\n\nZwiebel U\314\210bermut\n"));
        QVERIFY(writeBytes(ideas(emoji), "# Emoji 🎉\n\nZwiebel\n"));
        QVERIFY(QDir().mkpath(lib(u"/Schleife"_s)));
        // Named like sheets, a FIFO would block its reader and /dev/zero never ends.
        for (const QString& link :
             {u"-Strich.md Ideen/verweis.md"_s, u"schleife2.md Ideen/schleife1.md"_s,
              u"schleife1.md Ideen/schleife2.md"_s, u"nirgends.md Ideen/weg.md"_s,
              u".. Schleife/hinauf"_s, u". Schleife/selbst"_s, u"Kreis Kreis"_s, u"Ideen Verweis"_s,
              u"/dev/zero Ideen/null.md"_s})
            QVERIFY2(QFile::link(link.section(u' ', 0, 0), lib(u'/' + link.section(u' ', 1))),
                     qPrintable(link));
        QCOMPARE(::mkfifo(QFile::encodeName(ideas(u"rohr.md"_s)).constData(), 0600), 0);
        const QByteArray raw = QFile::encodeName(ideas()) + "Br\xF6tchen.md";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0 && ::write(fd, "# Br\xC3\xB6tchen\n\nZwiebel\n", 20) == 20);
        ::close(fd);

        // 100 MB, sparse but for its ends: the needle sits behind 100 MB of NULs.
        QVERIFY(writeBytes(lib(u"/Gross/riesig.md"_s), "# Riesig\n\nAnfang\n"));
        QFile big(lib(u"/Gross/riesig.md"_s));
        QVERIFY(big.open(QIODevice::ReadWrite) && big.resize(100 * 1024 * 1024) &&
                big.seek(big.size()));
        QVERIFY(big.write("\nHeuhaufen Nadel\n") > 0);
    }

    void listing() {
        const QStringList groups = orvik(u"groups --json"_s).field(u"name"_s);
        // The looping link is no folder; the linked folder is a group like any.
        for (const QString& group : {u"Gross"_s, u"Schleife"_s, u"Verweis"_s})
            QVERIFY2(groups.contains(group), qPrintable(groups.join(u", ")));
        QVERIFY(!groups.contains(u"Kreis"_s) && groups.last() == u"Papierkorb");

        // Listed by the bytes of their names on disk, NFD and non-UTF-8 alike. Not
        // listed: no UTF-8 inside, links dangling or looping, a FIFO, a device.
        const Run sheets = orvik(u"sheets Ideen --json"_s);
        QCOMPARE(shown(sheets.field(u"path"_s)),
                 sorted({u"-Strich.md"_s, nfd, u"leer.md"_s, u"nul.md"_s, u"verweis.md"_s, emoji,
                         u"willkommen.md"_s, latin1}));
        const auto entry = [&](const QString& name) {
            return sheets.json()[sheets.field(u"path"_s).indexOf(ideas(name))];
        };
        QCOMPARE(entry(u"leer.md"_s)[u"title"_s].toString(), u"leer"_s);
        QCOMPARE(entry(u"leer.md"_s)[u"wordCount"_s].toInt(), 0);
        QCOMPARE(entry(u"nul.md"_s)[u"title"_s].toString(), u"Mit NUL\0drin"_s);
        // The plain listing takes the dash name as a name, not an option.
        QVERIFY(orvik(u"sheets Ideen"_s).out.contains("/Ideen/-Strich.md\n"));
        QCOMPARE(orvik(u"sheets Schleife"_s).code, 0);
        QCOMPARE(orvik(u"sheets Papierkorb"_s).code, 0);
    }

    // Too large to hold: read and searched in pieces, with the same count and snippet.
    void hugeSheet() {
        const QJsonArray sheets = orvik(u"sheets Gross --json"_s).json().toArray();
        QCOMPARE(sheets.size(), 1);
        QCOMPARE(sheets[0][u"title"_s].toString(), u"Riesig"_s);
        // "#", "Riesig", "Anfang", the NUL run, "Heuhaufen", "Nadel".
        QCOMPARE(sheets[0][u"wordCount"_s].toInt(), 6);
        const Run found = orvik(u"search Nadel --json"_s);
        QCOMPARE(found.field(u"path"_s), QStringList{lib(u"/Gross/riesig.md"_s)});
        QCOMPARE(found.json()[0][u"count"_s].toInt(), 1);
        QVERIFY(found.json()[0][u"snippet"_s].toString().endsWith(u" Heuhaufen Nadel"_s));
        QCOMPARE(found.json()[0][u"title"_s].toString(), u"Riesig"_s);
    }

    void search() {
        // A hit leads to its file, whatever bytes its name has.
        QCOMPARE(shown(orvik(u"search Zwiebel --group Ideen --json"_s).field(u"path"_s)),
                 sorted({u"-Strich.md"_s, nfd, u"nul.md"_s, u"verweis.md"_s, emoji, latin1}));
        // Composed query, decomposed text: in Ideen and the linked Verweis.
        const QStringList umlaut = orvik(u"search übermut --json"_s).field(u"path"_s);
        QVERIFY2(umlaut.size() == 2 && umlaut.contains(ideas(nfd)), qPrintable(umlaut.join(u' ')));
        // After "--" a query that looks like an option is a query.
        QCOMPARE(orvik(u"search -- -Strich"_s).code, 0);
        QVERIFY(orvik(u"search Ende --json"_s).field(u"path"_s).contains(ideas(u"nul.md"_s)));
    }

    void backup() {
        const QString snapshot = orvik(u"backup --json"_s)[u"snapshot"_s].toString();
        QVERIFY(!snapshot.isEmpty());
        // Every sheet file is kept as it is, the ones the list cannot show included.
        QCOMPARE(readBytes(snapshot + u"/Ideen/kaputt.md"_s), invalidUtf8);
        QCOMPARE(readBytes(snapshot + u"/Ideen/nul.md"_s), readBytes(ideas(u"nul.md"_s)));
        for (const QString& name : {nfd, emoji, u"-Strich.md"_s, u"leer.md"_s})
            QVERIFY2(QFileInfo::exists(snapshot + u"/Ideen/"_s + name), qPrintable(name));
        QCOMPARE(QFileInfo(snapshot + u"/Gross/riesig.md"_s).size(), 100 * 1024 * 1024 + 17);
        // Linked folders are not walked again: no copy of the library inside itself.
        QVERIFY(!QFileInfo::exists(snapshot + u"/Schleife/hinauf"_s));
        QVERIFY(!QFileInfo::exists(snapshot + u"/Verweis"_s));
        QCOMPARE(orvik(u"backups --json"_s).field(u"path"_s), QStringList{snapshot});
    }

    void exportOddSheets() {
        const QString out = m_home.path() + u"/Export"_s;
        QVERIFY(QDir().mkpath(out));
        const QStringList files = {u"leer.md"_s, u"nul.md"_s, u"-Strich.md"_s, nfd, emoji};
        const QStringList titles = {u"leer"_s, u"Mit NUL-drin"_s, u"Strich"_s, u"Umlaut"_s,
                                    u"Emoji 🎉"_s};
        for (qsizetype i = 0; i < files.size(); ++i) {
            const Run r =
                orvik(u"export --format html --json -o"_s, {out, u"--"_s, ideas(files[i])});
            QCOMPARE(r[u"path"_s].toString(), out + u'/' + titles[i] + u".html"_s);
            QVERIFY(readBytes(out + u'/' + titles[i] + u".html"_s).startsWith("<!DOCTYPE html>"));
        }
        // What cannot be read is refused with a message, not exported empty.
        for (const QString& file : {u"kaputt.md"_s, u"schleife1.md"_s, u"weg.md"_s}) {
            const Run r = orvik(u"export --format pdf -o"_s, {out, u"--"_s, ideas(file)});
            QVERIFY2(r.code == 1 && r.out.isEmpty() && !r.err.isEmpty(), qPrintable(file));
        }
        // The whole group in every format, the odd sheets among the others.
        for (const QString& format : {u"pdf"_s, u"docx"_s, u"html"_s, u"rtf"_s, u"markdown"_s}) {
            const Run r =
                orvik(u"export --group Ideen --json --format "_s + format + u" -o"_s, {out});
            QVERIFY2(QFileInfo(r[u"path"_s].toString()).size() > 0, qPrintable(format + r.err));
        }
        const QByteArray joined = readBytes(out + u"/Ideen.md"_s);
        for (const char* title : {"# Umlaut", "# Emoji", "# Br\xC3\xB6tchen"})
            QVERIFY2(joined.contains(title), title);
        QVERIFY(!joined.contains("Kaputt"));

        // Named on the command line by its bytes, which QProcess cannot pass.
        const Run bytes = orvik::test::run(
            {u"sh"_s, u"-c"_s,
             u"exec \"$0\" --library \"$1\" export --format html -o \"$2\" --json -- "
             u"\"$(printf '%s/Br\\366tchen.md' \"$3\")\""_s,
             QStringLiteral(ORVIK_BINARY), lib(), out, lib(u"/Ideen"_s)},
            m_home.path());
        QCOMPARE(bytes[u"path"_s].toString(), out + u"/Brötchen.html"_s);
    }

    // Outside files come in as new sheets, never in place of one; what is no
    // text, too large or endless is refused by name, and the rest still comes in.
    void importing() {
        const QString txt = m_home.path() + u"/Notiz.txt"_s;
        const QDateTime written(QDate(2020, 1, 2), QTime(3, 4, 5));
        QFile file(txt);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("# Notiz\r\n") == 9 && file.flush());
        QVERIFY(file.setFileTime(written, QFileDevice::FileModificationTime));
        file.close();
        const Run r = orvik(u"import --group Projekte --json"_s,
                            {txt, txt, ideas(nfd), ideas(u"kaputt.md"_s), ideas(u"rohr.md"_s),
                             ideas(u"null.md"_s), lib(u"/Gross/riesig.md"_s)});
        QCOMPARE(r.code, 1);
        QCOMPARE(shown(r.field(u"path"_s)), sorted({u"Notiz.md"_s, u"Notiz 2.md"_s, nfd}));
        QCOMPARE(r.field(u"from"_s).first(), txt);
        const QString copy = lib(u"/Projekte/Notiz 2.md"_s);
        QCOMPARE(readBytes(copy), QByteArray("# Notiz\r\n"));
        QCOMPARE(QFileInfo(copy).lastModified(), written);
        for (const QString& refused : {u"kaputt.md"_s, u"rohr.md"_s, u"null.md"_s, u"riesig.md"_s})
            QVERIFY2(r.err.contains(u"„"_s + refused + u"“"_s), qPrintable(r.err));
        QCOMPARE(orvik(u"import"_s, {txt}).text(),
                 u"Übernommen: "_s + lib(u"/Schnelle Notiz/Notiz.md\n"_s));
        QCOMPARE(orvik(u"import --group Papierkorb"_s, {txt}).code, 1);
    }
};

ORVIK_TEST_MAIN(TestCliOddFiles)
#include "tst_cli_oddfiles.moc"
