#include "testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

// `orvik export` as scripts and users run it, in a home of its own.
class TestCliExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib() const { return m_home.path() + u"/Texte"_s; }
    QString out() const { return m_home.path() + u"/Ausgabe"_s; }

    struct Result {
        int code = -1;
        QString out;
        QString err;
    };

    Result orvik(const QStringList& args, const QHash<QString, QString>& extraEnv = {},
                 const QStringList& removeEnv = {}) {
        QProcess p;
        QProcessEnvironment env = orvik::test::environmentWithHome(m_home.path());
        for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
            env.insert(it.key(), it.value());
        for (const QString& name : removeEnv)
            env.remove(name);
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_home.path());
        p.start(QStringLiteral(ORVIK_BINARY), QStringList{u"--library"_s, lib()} + args);
        if (!p.waitForFinished(60000))
            qFatal("orvik did not finish");
        return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }

    QString sheet(const QString& group, const QString& name, const QByteArray& text) {
        const QString path = lib() + u'/' + group + u'/' + name;
        if (!orvik::test::writeBytes(path, text))
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void init() {
        QDir(lib()).removeRecursively();
        QDir(out()).removeRecursively();
        QDir(m_home.path() + u"/.config"_s).removeRecursively();
        QVERIFY(QDir().mkpath(out()));
        QCOMPARE(orvik({u"groups"_s}).code, 0); // the library with its standard groups
    }

    void usageErrors() {
        const QString file = sheet(u"Ideen"_s, u"a.md"_s, "# A");
        const QStringList fmt = {u"--format"_s, u"html"_s, u"-o"_s, out()};
        for (const QStringList& args :
             {QStringList{u"export"_s} + fmt,
              QStringList{u"export"_s, file, u"--group"_s, u"Ideen"_s} + fmt,
              QStringList{u"export"_s, file, u"-o"_s, out()},
              QStringList{u"export"_s, file, u"--format"_s, u"odt"_s, u"-o"_s, out()},
              QStringList{u"export"_s, file, u"--format"_s, u"pdf"_s},
              QStringList{u"export"_s, file, u"zwei"_s} + fmt}) {
            const Result r = orvik(args);
            QVERIFY2(r.code == 2, qPrintable(args.join(u' ')));
            QVERIFY2(r.err.contains(u"orvik --help"_s), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
    }

    void sheetInEveryFormat() {
        const QString file =
            sheet(u"Projekte"_s, u"reise.md"_s, "# Reise: Tag 1\n\nÜber **Pässe** und *Täler*.\n");
        const QList<std::pair<QString, QByteArray>> formats = {{u"pdf"_s, "%PDF-"},
                                                               {u"docx"_s, "PK"},
                                                               {u"html"_s, "<!DOCTYPE html>"},
                                                               {u"rtf"_s, "{\\rtf1"},
                                                               {u"markdown"_s, "# Reise"}};
        for (const auto& [format, magic] : formats) {
            const Result r = orvik({u"export"_s, file, u"--format"_s, format, u"-o"_s, out()});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            const QString ext = format == u"markdown" ? u"md"_s : format;
            // A folder gets the name the save panel proposes for the title.
            const QString expected = out() + u"/Reise- Tag 1."_s + ext;
            QCOMPARE(r.out, expected + u'\n');
            QVERIFY2(orvik::test::readBytes(expected).startsWith(magic), qPrintable(format));
        }
        QCOMPARE(orvik::test::readBytes(out() + u"/Reise- Tag 1.md"_s),
                 orvik::test::readBytes(file));

        // A file name is taken as it is; a relative one is reported absolute.
        const Result json = orvik(
            {u"export"_s, file, u"--format"_s, u"html"_s, u"-o"_s, u"seite.htm"_s, u"--json"_s});
        QCOMPARE(json.code, 0);
        const QString written = QJsonDocument::fromJson(json.out.toUtf8())[u"path"_s].toString();
        QCOMPARE(written, m_home.path() + u"/seite.htm"_s);
        QVERIFY(orvik::test::readBytes(written).contains("<title>Reise: Tag 1</title>"));
    }

    void groupOldestFirst() {
        const QDateTime monday(QDate(2026, 3, 2), QTime(9, 0));
        const QString mon = sheet(u"Projekte"_s, u"a.md"_s, "Montag\n");
        const QString wed = sheet(u"Projekte"_s, u"b.md"_s, "\n\nMittwoch");
        const QString tue = sheet(u"Projekte"_s, u"c.md"_s, "Dienstag  ");
        QVERIFY(orvik::test::setModified(mon, monday));
        QVERIFY(orvik::test::setModified(wed, monday.addDays(2)));
        QVERIFY(orvik::test::setModified(tue, monday.addDays(1)));
        const Result r = orvik({u"export"_s, u"--group"_s, u"Projekte"_s, u"--format"_s,
                                u"markdown"_s, u"-o"_s, out()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out, out() + u"/Projekte.md\n"_s);
        QCOMPARE(orvik::test::readBytes(out() + u"/Projekte.md"_s),
                 QByteArray("Montag\n\n---\n\nDienstag\n\n---\n\nMittwoch"));

        const Result pdf = orvik(
            {u"export"_s, u"--group"_s, u"Projekte"_s, u"--format"_s, u"pdf"_s, u"-o"_s, out()});
        QVERIFY2(pdf.code == 0, qPrintable(pdf.err));
        QVERIFY(orvik::test::readBytes(out() + u"/Projekte.pdf"_s).startsWith("%PDF-"));
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString html = u"html"_s;
        QTest::newRow("trash")
            << QStringList{u"--group"_s, u"Papierkorb"_s, u"--format"_s, html}
            << u"orvik: Der Papierkorb lässt sich nicht als Gruppe exportieren.\n"_s;
        QTest::newRow("empty group")
            << QStringList{u"--group"_s, u"Tagebuch"_s, u"--format"_s, html}
            << u"orvik: In \u201ETagebuch\u201C liegen keine Blätter.\n"_s;
        QTest::newRow("unknown group") << QStringList{u"--group"_s, u"Weg"_s, u"--format"_s, html}
                                       << u"orvik: Die Gruppe \u201EWeg\u201C gibt es nicht.\n"_s;
        QTest::newRow("missing file")
            << QStringList{u"/nirgends.md"_s, u"--format"_s, html}
            << u"orvik: Die Datei \u201E/nirgends.md\u201C gibt es nicht.\n"_s;
    }

    void failures() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = orvik(QStringList{u"export"_s} + args + QStringList{u"-o"_s, out()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.endsWith(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(QDir(out()).isEmpty());
    }

    void unreadableAndUnwritable() {
        const QString latin1 = sheet(u"Ideen"_s, u"alt.md"_s,
                                     "Gr\xfc\xdf"
                                     "e");
        Result r = orvik({u"export"_s, latin1, u"--format"_s, u"pdf"_s, u"-o"_s, out()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(u"keine lesbare UTF-8-Textdatei"_s), qPrintable(r.err));

        // Every format names the path it could not write.
        const QString file = sheet(u"Ideen"_s, u"gut.md"_s, "# Gut");
        for (const QString& format : {u"pdf"_s, u"rtf"_s}) {
            const QString missing = out() + u"/fehlt/x."_s + format;
            r = orvik({u"export"_s, file, u"--format"_s, format, u"-o"_s, missing});
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, u"orvik: Die Datei ließ sich nicht sichern: \u201E"_s + missing +
                                u"\u201C\n"_s);
            QVERIFY(r.out.isEmpty());
        }
    }

    // A folder as the target takes the next free name; a file named is
    // replaced only when it is a regular file and no sheet; nothing is ever
    // written through a link or into a FIFO's place.
    void nothingIsReplacedUnasked() {
        const QByteArray text = "# Einkauf\n\nMein Roman, Kapitel 1";
        const QString einkauf = sheet(u"Ideen"_s, u"Einkauf.md"_s, text);
        const QString ideen = lib() + u"/Ideen"_s;
        const QStringList md = {u"export"_s, einkauf, u"--format"_s, u"markdown"_s, u"-o"_s};
        for (const QString& copy : {u"/Einkauf 2.md"_s, u"/Einkauf 3.md"_s}) {
            const Result r = orvik(md + QStringList{ideen});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QCOMPARE(r.out, ideen + copy + u'\n');
        }
        const QString named = sheet(u"Ideen"_s, u"Ideen.md"_s, "# Ideen");
        const Result group = orvik(
            {u"export"_s, u"--group"_s, u"Ideen"_s, u"--format"_s, u"markdown"_s, u"-o"_s, ideen});
        QCOMPARE(group.out, ideen + u"/Ideen 2.md\n"_s);
        QCOMPARE(orvik::test::readBytes(named), QByteArray("# Ideen"));
        QCOMPARE(orvik::test::readBytes(einkauf), text);

        QVERIFY(QFile::link(einkauf, out() + u"/link.html"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(out() + u"/pipe"_s).constData(), 0600), 0);
        const QList<std::pair<QString, QString>> refused = {
            {einkauf, u" ist ein Blatt der Bibliothek und wird nicht überschrieben.\n"_s},
            {lib() + u"/Ideen/../Ideen/Einkauf 2.md"_s,
             u" ist ein Blatt der Bibliothek und wird nicht überschrieben.\n"_s},
            {out() + u"/link.html"_s, u" ist keine gewöhnliche Datei\n"_s},
            {out() + u"/pipe"_s, u" ist keine gewöhnliche Datei\n"_s}};
        for (const auto& [target, why] : refused) {
            const Result r =
                orvik({u"export"_s, einkauf, u"--format"_s, u"html"_s, u"-o"_s, target});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.endsWith(why), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
        QCOMPARE(orvik::test::readBytes(einkauf), text);
        QVERIFY(QFileInfo(out() + u"/link.html"_s).isSymLink());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(out() + u"/pipe"_s).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void fontFamily() {
        const QString file = sheet(u"Ideen"_s, u"f.md"_s, "Text");
        QString err;
        const auto familyLine = [&](const QStringList& extra) {
            const Result r = orvik(QStringList{u"export"_s, file, u"--format"_s, u"html"_s, u"-o"_s,
                                               out() + u"/f.html"_s} +
                                   extra);
            err = r.err;
            const QString html = QString::fromUtf8(orvik::test::readBytes(out() + u"/f.html"_s));
            return html.split(u'\n').value(7);
        };
        QCOMPARE(familyLine({}), u"  font-family: \"Iowan Old Style\", Georgia, serif;"_s);
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/.config/Orvik/Orvik.conf"_s,
                                        "[General]\nOrvikFontFamily=Charis SIL\n"));
        QCOMPARE(familyLine({}), u"  font-family: \"Charis SIL\", Georgia, serif;"_s);
        QCOMPARE(familyLine({u"--font"_s, u"DejaVu Serif"_s}),
                 u"  font-family: \"DejaVu Serif\", Georgia, serif;"_s);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        // EB Garamond's bold face lacks umlauts and German quotes: the default
        // book face instead, and a warning.
        QCOMPARE(familyLine({u"--font"_s, u"EB Garamond"_s}),
                 u"  font-family: \"Iowan Old Style\", Georgia, serif;"_s);
        QVERIFY2(err.startsWith(u"orvik: Die Schrift \u201EEB Garamond\u201C "_s), qPrintable(err));
    }

    // The command line lays out PDFs without any display, and is not thrown
    // off by a display that cannot be reached.
    void pdfWithoutDisplay() {
        const QString file = sheet(u"Ideen"_s, u"d.md"_s, "# Ohne Bildschirm");
        const QStringList args = {u"export"_s, file, u"--format"_s, u"pdf"_s, u"-o"_s, out()};
        Result r = orvik(args, {}, {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        r = orvik(args, {{u"DISPLAY"_s, u":4711"_s}, {u"QT_QPA_PLATFORM"_s, u"xcb"_s}});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(orvik::test::readBytes(out() + u"/Ohne Bildschirm.pdf"_s).startsWith("%PDF-"));
    }
};

ORVIK_TEST_MAIN(TestCliExport)
#include "tst_cli_export.moc"
