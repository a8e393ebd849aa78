#include "platform/files.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

// A library as real disks hold them: invalid UTF-8, NUL bytes, empty and huge
// sheets, names in decomposed Unicode, with emoji or a leading dash, symbolic
// links to files and folders, dangling and in loops. Listing, search, backup
// and export must neither crash nor hang on it, and must still serve the
// ordinary sheets around the odd ones.
class TestCliOddFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib() const { return m_home.path() + u"/Texte"_s; }
    QString ideas() const { return lib() + u"/Ideen"_s; }

    // "Über.md" with the umlaut as U + combining diaeresis, as macOS writes it.
    static QString nfdName() { return u"U\u0308ber.md"_s; }
    static QString emojiName() { return u"📝 Notiz 👩‍👩‍👧.md"_s; }
    static QByteArray invalidUtf8() { return "# Kaputt \xff\xfe\xc3\x28\n\nZwiebel\n"; }
    // A Latin-1 name from an old archive, as shown.
    static QString latin1Name() { return u"Br\uFFFDtchen.md"_s; }
    static QString shown(const QString& path) {
        return orvik::files::displayName(QFileInfo(path).fileName());
    }

    struct Result {
        int code = -1;
        QByteArray out;
        QString err;
        QJsonValue json() const {
            const QJsonDocument doc = QJsonDocument::fromJson(out);
            return doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        }
    };

    // A crash or a hang fails the test here, whatever the command.
    Result orvik(const QStringList& args, int timeoutMs = 120000) {
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVIK_BINARY), QStringList{u"--library"_s, lib()} + args);
        if (!p.waitForFinished(timeoutMs)) {
            p.kill();
            p.waitForFinished();
            qWarning("orvik %s did not finish", qPrintable(args.join(u' ')));
            return {};
        }
        Result r{p.exitCode(), p.readAllStandardOutput(),
                 QString::fromUtf8(p.readAllStandardError())};
        if (p.exitStatus() != QProcess::NormalExit) {
            qWarning("orvik %s crashed: %s", qPrintable(args.join(u' ')), qPrintable(r.err));
            r.code = -1;
        }
        return r;
    }

    static QStringList field(const QJsonValue& array, const QString& key) {
        QStringList list;
        for (const QJsonValue& v : array.toArray())
            list.append(v.toObject().value(key).toString());
        return list;
    }

    static bool link(const QString& target, const QString& at) { return QFile::link(target, at); }

private Q_SLOTS:
    // Qt's removal cannot name a file whose name is no UTF-8.
    void cleanupTestCase() { QProcess::execute(u"rm"_s, {u"-rf"_s, m_home.path()}); }

    void initTestCase() {
        QVERIFY(m_home.isValid());
        QCOMPARE(orvik({u"groups"_s}).code, 0);
        using orvik::test::writeBytes;
        QVERIFY(writeBytes(ideas() + u"/leer.md"_s, QByteArray()));
        QVERIFY(writeBytes(ideas() + u"/kaputt.md"_s, invalidUtf8()));
        QVERIFY(writeBytes(ideas() + u"/nul.md"_s,
                           QByteArray("# Mit NUL\0drin\n\nZwiebel\0Ende\n", 28)));
        QVERIFY(writeBytes(ideas() + u"/-Strich.md"_s, "# Strich\n\nZwiebel\n"));
        // Decomposed in the name and in the text: "übermut" must still find it.
        QVERIFY(writeBytes(ideas() + u'/' + nfdName(), "# Umlaut\n\nZwiebel U\xcc\x88"
                                                       "bermut\n"));
        QVERIFY(writeBytes(ideas() + u'/' + emojiName(), "# Emoji 🎉\n\nZwiebel\n"));

        QVERIFY(link(u"-Strich.md"_s, ideas() + u"/verweis.md"_s));
        QVERIFY(link(u"schleife2.md"_s, ideas() + u"/schleife1.md"_s));
        QVERIFY(link(u"schleife1.md"_s, ideas() + u"/schleife2.md"_s));
        QVERIFY(link(u"nirgends.md"_s, ideas() + u"/weg.md"_s));
        QVERIFY(QDir().mkpath(lib() + u"/Schleife"_s));
        QVERIFY(link(u".."_s, lib() + u"/Schleife/hinauf"_s));
        QVERIFY(link(u"."_s, lib() + u"/Schleife/selbst"_s));
        QVERIFY(link(u"Kreis"_s, lib() + u"/Kreis"_s));
        QVERIFY(link(u"Ideen"_s, lib() + u"/Verweis"_s));
        // Named like sheets, but one would block its reader, the other never ends.
        QCOMPARE(::mkfifo(QFile::encodeName(ideas() + u"/rohr.md"_s).constData(), 0600), 0);
        QVERIFY(link(u"/dev/zero"_s, ideas() + u"/null.md"_s));
        const QByteArray raw = QFile::encodeName(ideas()) + "/Br\xF6tchen.md";
        const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "# Br\xC3\xB6tchen\n\nZwiebel\n", 20), 20);
        ::close(fd);

        // 100 MB, sparse but for its ends: the needle sits behind 100 MB of NULs.
        QVERIFY(QDir().mkpath(lib() + u"/Gross"_s));
        QFile big(lib() + u"/Gross/riesig.md"_s);
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.write("# Riesig\n\nAnfang\n") > 0);
        QVERIFY(big.resize(100 * 1024 * 1024));
        QVERIFY(big.seek(big.size()));
        QVERIFY(big.write("\nHeuhaufen Nadel\n") > 0);
        big.close();
    }

    void listing() {
        const Result groups = orvik({u"groups"_s, u"--json"_s});
        QCOMPARE(groups.code, 0);
        const QStringList names = field(groups.json(), u"name"_s);
        // The looping link is no folder; the linked folder is a group like any.
        for (const QString& group : {u"Gross"_s, u"Schleife"_s, u"Verweis"_s})
            QVERIFY2(names.contains(group), qPrintable(names.join(u", ")));
        QVERIFY(!names.contains(u"Kreis"_s));
        QCOMPARE(names.last(), u"Papierkorb"_s);

        const Result sheets = orvik({u"sheets"_s, u"Ideen"_s, u"--json"_s});
        QCOMPARE(sheets.code, 0);
        const QStringList paths = field(sheets.json(), u"path"_s);
        QStringList files;
        for (const QString& p : paths) {
            // Each listed path names the file as it is on disk, NFD and all,
            // and a name that is no UTF-8 by its own bytes.
            QVERIFY2(orvik::files::stamp(p).exists, qPrintable(p));
            files.append(shown(p));
        }
        files.sort();
        QStringList expected{u"-Strich.md"_s, nfdName(),   u"leer.md"_s,       u"nul.md"_s,
                             u"verweis.md"_s, emojiName(), u"willkommen.md"_s, latin1Name()};
        expected.sort();
        // Not UTF-8: not listed. Dangling and looping links: nothing to read.
        // A FIFO or a device: no sheet.
        QCOMPARE(files, expected);

        const QJsonArray list = sheets.json().toArray();
        const auto entry = [&](const QString& name) {
            return list.at(paths.indexOf(ideas() + u'/' + name)).toObject();
        };
        QCOMPARE(entry(u"leer.md"_s)[u"title"_s].toString(), u"leer"_s);
        QCOMPARE(entry(u"leer.md"_s)[u"wordCount"_s].toInt(), 0);
        QCOMPARE(entry(u"nul.md"_s)[u"title"_s].toString(), u"Mit NUL\0drin"_s);

        // The plain listing takes the dash name as a name, not an option.
        const Result plain = orvik({u"sheets"_s, u"Ideen"_s});
        QCOMPARE(plain.code, 0);
        QVERIFY(plain.out.contains("/Ideen/-Strich.md\n"));
        QCOMPARE(orvik({u"sheets"_s, u"Schleife"_s}).code, 0);
        QCOMPARE(orvik({u"sheets"_s, u"Papierkorb"_s}).code, 0);
    }

    void hugeSheet() {
        const Result sheets = orvik({u"sheets"_s, u"Gross"_s, u"--json"_s}, 240000);
        QCOMPARE(sheets.code, 0);
        const QJsonArray list = sheets.json().toArray();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list[0][u"title"_s].toString(), u"Riesig"_s);
        // "#", "Riesig", "Anfang", the NUL run, "Heuhaufen", "Nadel".
        QCOMPARE(list[0][u"wordCount"_s].toInt(), 6);

        // Too large to hold: searched in pieces, with the same count and snippet.
        const Result found = orvik({u"search"_s, u"Nadel"_s, u"--json"_s}, 240000);
        QCOMPARE(found.code, 0);
        QCOMPARE(field(found.json(), u"path"_s), QStringList{lib() + u"/Gross/riesig.md"_s});
        const QJsonObject hit = found.json().toArray().first().toObject();
        QCOMPARE(hit[u"count"_s].toInt(), 1);
        QVERIFY(hit[u"snippet"_s].toString().endsWith(u" Heuhaufen Nadel"_s));
        QCOMPARE(hit[u"title"_s].toString(), u"Riesig"_s);
    }

    void search() {
        const Result r = orvik({u"search"_s, u"Zwiebel"_s, u"--group"_s, u"Ideen"_s, u"--json"_s});
        QCOMPARE(r.code, 0);
        QStringList files;
        for (const QString& p : field(r.json(), u"path"_s)) {
            // A hit leads to its file, whatever bytes its name has.
            QVERIFY2(orvik::files::stamp(p).exists, qPrintable(p));
            files.append(shown(p));
        }
        files.sort();
        QStringList expected{u"-Strich.md"_s, nfdName(),   u"nul.md"_s,
                             u"verweis.md"_s, emojiName(), latin1Name()};
        expected.sort();
        QCOMPARE(files, expected);

        // Composed query, decomposed text.
        const Result umlaut = orvik({u"search"_s, u"übermut"_s, u"--json"_s});
        QCOMPARE(umlaut.code, 0);
        QCOMPARE(field(umlaut.json(), u"path"_s).size(), 2); // Ideen and the linked Verweis
        QVERIFY(field(umlaut.json(), u"path"_s).contains(ideas() + u'/' + nfdName()));

        // After "--" a query that looks like an option is a query.
        const Result dash = orvik({u"search"_s, u"--"_s, u"-Strich"_s});
        QCOMPARE(dash.code, 0);
        const Result nul = orvik({u"search"_s, u"Ende"_s, u"--json"_s});
        QCOMPARE(nul.code, 0);
        QVERIFY(field(nul.json(), u"path"_s).contains(ideas() + u"/nul.md"_s));
    }

    void backup() {
        const Result r = orvik({u"backup"_s, u"--json"_s}, 240000);
        QCOMPARE(r.code, 0);
        const QString snapshot = r.json()[u"snapshot"_s].toString();
        QVERIFY(!snapshot.isEmpty());
        // Every sheet file is kept as it is, the ones the list cannot show included.
        using orvik::test::readBytes;
        QCOMPARE(readBytes(snapshot + u"/Ideen/kaputt.md"_s), invalidUtf8());
        QCOMPARE(readBytes(snapshot + u"/Ideen/nul.md"_s), readBytes(ideas() + u"/nul.md"_s));
        for (const QString& name : {nfdName(), emojiName(), u"-Strich.md"_s, u"leer.md"_s})
            QVERIFY2(QFileInfo::exists(snapshot + u"/Ideen/"_s + name), qPrintable(name));
        QCOMPARE(QFileInfo(snapshot + u"/Gross/riesig.md"_s).size(),
                 QFileInfo(lib() + u"/Gross/riesig.md"_s).size());
        // Linked folders are not walked again: no copy of the library inside itself.
        QVERIFY(!QFileInfo::exists(snapshot + u"/Schleife/hinauf"_s));
        QVERIFY(!QFileInfo::exists(snapshot + u"/Verweis"_s));

        const Result list = orvik({u"backups"_s, u"--json"_s});
        QCOMPARE(list.code, 0);
        QCOMPARE(field(list.json(), u"path"_s), QStringList{snapshot});
    }

    void exportOddSheets() {
        const QString out = m_home.path() + u"/Export"_s;
        QVERIFY(QDir().mkpath(out));
        const QList<std::pair<QString, QString>> sheets = {{u"leer.md"_s, u"leer"_s},
                                                           {u"nul.md"_s, u"Mit NUL-drin"_s},
                                                           {u"-Strich.md"_s, u"Strich"_s},
                                                           {nfdName(), u"Umlaut"_s},
                                                           {emojiName(), u"Emoji 🎉"_s}};
        for (const auto& [file, name] : sheets) {
            const Result r = orvik({u"export"_s, u"--format"_s, u"html"_s, u"-o"_s, out,
                                    u"--json"_s, u"--"_s, ideas() + u'/' + file});
            QVERIFY2(r.code == 0, qPrintable(file + u": "_s + r.err));
            const QString written = r.json()[u"path"_s].toString();
            QCOMPARE(written, out + u'/' + name + u".html"_s);
            QVERIFY(orvik::test::readBytes(written).startsWith("<!DOCTYPE html>"));
        }

        // What cannot be read is refused with a message, not exported empty.
        for (const QString& file : {u"kaputt.md"_s, u"schleife1.md"_s, u"weg.md"_s}) {
            const Result r = orvik({u"export"_s, u"--format"_s, u"pdf"_s, u"-o"_s, out, u"--"_s,
                                    ideas() + u'/' + file});
            QCOMPARE(r.code, 1);
            QVERIFY(r.out.isEmpty());
            QVERIFY(!r.err.isEmpty());
        }

        // The whole group in every format, the odd sheets among the others.
        for (const QString& format : {u"pdf"_s, u"docx"_s, u"html"_s, u"rtf"_s, u"markdown"_s}) {
            const Result r = orvik({u"export"_s, u"--group"_s, u"Ideen"_s, u"--format"_s, format,
                                    u"-o"_s, out, u"--json"_s});
            QVERIFY2(r.code == 0, qPrintable(format + u": "_s + r.err));
            const QString written = r.json()[u"path"_s].toString();
            QVERIFY2(QFileInfo(written).size() > 0, qPrintable(written));
        }
        const QByteArray joined = orvik::test::readBytes(out + u"/Ideen.md"_s);
        for (const char* title : {"# Umlaut", "# Emoji", "# Br\xC3\xB6tchen"})
            QVERIFY2(joined.contains(title), title);
        QVERIFY(!joined.contains("Kaputt"));

        // Named on the command line by its bytes, which QProcess cannot pass.
        QProcess shell;
        shell.setProcessEnvironment(orvik::test::environmentWithHome(m_home.path()));
        shell.start(u"/bin/sh"_s,
                    {u"-c"_s,
                     u"exec \"$0\" --library \"$1\" export --format html -o \"$2\" --json -- "
                     "\"$(printf '%s/Br\\366tchen.md' \"$3\")\""_s,
                     QStringLiteral(ORVIK_BINARY), lib(), out, ideas()});
        QVERIFY(shell.waitForFinished(120000));
        QCOMPARE(shell.exitCode(), 0);
        const QString written =
            QJsonDocument::fromJson(shell.readAllStandardOutput())[u"path"_s].toString();
        QCOMPARE(written, out + u"/Brötchen.html"_s);
    }
};

ORVIK_TEST_MAIN(TestCliOddFiles)
#include "tst_cli_oddfiles.moc"
