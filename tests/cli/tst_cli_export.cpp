#include "testenv.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/stat.h>

// `orvik export` as scripts and users run it, in a home of its own.
class TestCliExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib() const { return m_home.path() + u"/Texte"_qs; }
    QString out() const { return m_home.path() + u"/Ausgabe"_qs; }

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
        p.start(QStringLiteral(ORVIK_BINARY), QStringList{u"--library"_qs, lib()} + args);
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
        QDir(m_home.path() + u"/.config"_qs).removeRecursively();
        QVERIFY(QDir().mkpath(out()));
        QCOMPARE(orvik({u"groups"_qs}).code, 0); // the library with its standard groups
    }

    void usageErrors() {
        const QString file = sheet(u"Ideen"_qs, u"a.md"_qs, "# A");
        const QStringList fmt = {u"--format"_qs, u"html"_qs, u"-o"_qs, out()};
        for (const QStringList& args :
             {QStringList{u"export"_qs} + fmt,
              QStringList{u"export"_qs, file, u"--group"_qs, u"Ideen"_qs} + fmt,
              QStringList{u"export"_qs, file, u"-o"_qs, out()},
              QStringList{u"export"_qs, file, u"--format"_qs, u"odt"_qs, u"-o"_qs, out()},
              QStringList{u"export"_qs, file, u"--format"_qs, u"pdf"_qs},
              QStringList{u"export"_qs, file, u"zwei"_qs} + fmt}) {
            const Result r = orvik(args);
            QVERIFY2(r.code == 2, qPrintable(args.join(u' ')));
            QVERIFY2(r.err.contains(u"orvik --help"_qs), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
    }

    void sheetInEveryFormat() {
        const QString file = sheet(u"Projekte"_qs, u"reise.md"_qs,
                                   "# Reise: Tag 1\n\nÜber **Pässe** und *Täler*.\n");
        const QList<std::pair<QString, QByteArray>> formats = {{u"pdf"_qs, "%PDF-"},
                                                               {u"docx"_qs, "PK"},
                                                               {u"html"_qs, "<!DOCTYPE html>"},
                                                               {u"rtf"_qs, "{\\rtf1"},
                                                               {u"markdown"_qs, "# Reise"}};
        for (const auto& [format, magic] : formats) {
            const Result r = orvik({u"export"_qs, file, u"--format"_qs, format, u"-o"_qs, out()});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            const QString ext = format == u"markdown" ? u"md"_qs : format;
            // A folder gets the name the save panel proposes for the title.
            const QString expected = out() + u"/Reise- Tag 1."_qs + ext;
            QCOMPARE(r.out, expected + u'\n');
            QVERIFY2(orvik::test::readBytes(expected).startsWith(magic), qPrintable(format));
        }
        QCOMPARE(orvik::test::readBytes(out() + u"/Reise- Tag 1.md"_qs),
                 orvik::test::readBytes(file));

        // A file name is taken as it is; a relative one is reported absolute.
        const Result json = orvik({u"export"_qs, file, u"--format"_qs, u"html"_qs, u"-o"_qs,
                                   u"seite.htm"_qs, u"--json"_qs});
        QCOMPARE(json.code, 0);
        const QString written = QJsonDocument::fromJson(json.out.toUtf8())[u"path"_qs].toString();
        QCOMPARE(written, m_home.path() + u"/seite.htm"_qs);
        QVERIFY(orvik::test::readBytes(written).contains("<title>Reise: Tag 1</title>"));
    }

    void groupOldestFirst() {
        const QDateTime monday(QDate(2026, 3, 2), QTime(9, 0));
        const QString mon = sheet(u"Projekte"_qs, u"a.md"_qs, "Montag\n");
        const QString wed = sheet(u"Projekte"_qs, u"b.md"_qs, "\n\nMittwoch");
        const QString tue = sheet(u"Projekte"_qs, u"c.md"_qs, "Dienstag  ");
        QVERIFY(orvik::test::setModified(mon, monday));
        QVERIFY(orvik::test::setModified(wed, monday.addDays(2)));
        QVERIFY(orvik::test::setModified(tue, monday.addDays(1)));
        const Result r = orvik({u"export"_qs, u"--group"_qs, u"Projekte"_qs, u"--format"_qs,
                                u"markdown"_qs, u"-o"_qs, out()});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QCOMPARE(r.out, out() + u"/Projekte.md\n"_qs);
        QCOMPARE(orvik::test::readBytes(out() + u"/Projekte.md"_qs),
                 QByteArray("Montag\n\n---\n\nDienstag\n\n---\n\nMittwoch"));

        const Result pdf = orvik({u"export"_qs, u"--group"_qs, u"Projekte"_qs, u"--format"_qs,
                                  u"pdf"_qs, u"-o"_qs, out()});
        QVERIFY2(pdf.code == 0, qPrintable(pdf.err));
        QVERIFY(orvik::test::readBytes(out() + u"/Projekte.pdf"_qs).startsWith("%PDF-"));
    }

    void failures_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        const QString html = u"html"_qs;
        QTest::newRow("trash")
            << QStringList{u"--group"_qs, u"Papierkorb"_qs, u"--format"_qs, html}
            << u"orvik: Der Papierkorb lässt sich nicht als Gruppe exportieren.\n"_qs;
        QTest::newRow("empty group")
            << QStringList{u"--group"_qs, u"Tagebuch"_qs, u"--format"_qs, html}
            << u"orvik: In \u201ETagebuch\u201C liegen keine Blätter.\n"_qs;
        QTest::newRow("unknown group")
            << QStringList{u"--group"_qs, u"Weg"_qs, u"--format"_qs, html}
            << u"orvik: Die Gruppe \u201EWeg\u201C gibt es nicht.\n"_qs;
        QTest::newRow("missing file")
            << QStringList{u"/nirgends.md"_qs, u"--format"_qs, html}
            << u"orvik: Die Datei \u201E/nirgends.md\u201C gibt es nicht.\n"_qs;
    }

    void failures() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Result r = orvik(QStringList{u"export"_qs} + args + QStringList{u"-o"_qs, out()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.endsWith(message), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QVERIFY(QDir(out()).isEmpty());
    }

    void unreadableAndUnwritable() {
        const QString latin1 = sheet(u"Ideen"_qs, u"alt.md"_qs,
                                     "Gr\xfc\xdf"
                                     "e");
        Result r = orvik({u"export"_qs, latin1, u"--format"_qs, u"pdf"_qs, u"-o"_qs, out()});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains(u"keine lesbare UTF-8-Textdatei"_qs), qPrintable(r.err));

        // Every format names the path it could not write.
        const QString file = sheet(u"Ideen"_qs, u"gut.md"_qs, "# Gut");
        for (const QString& format : {u"pdf"_qs, u"rtf"_qs}) {
            const QString missing = out() + u"/fehlt/x."_qs + format;
            r = orvik({u"export"_qs, file, u"--format"_qs, format, u"-o"_qs, missing});
            QCOMPARE(r.code, 1);
            QCOMPARE(r.err, u"orvik: Die Datei ließ sich nicht sichern: \u201E"_qs + missing +
                                u"\u201C\n"_qs);
            QVERIFY(r.out.isEmpty());
        }
    }

    // A folder as the target takes the next free name; a file named is
    // replaced only when it is a regular file and no sheet; nothing is ever
    // written through a link or into a FIFO's place.
    void nothingIsReplacedUnasked() {
        const QByteArray text = "# Einkauf\n\nMein Roman, Kapitel 1";
        const QString einkauf = sheet(u"Ideen"_qs, u"Einkauf.md"_qs, text);
        const QString ideen = lib() + u"/Ideen"_qs;
        const QStringList md = {u"export"_qs, einkauf, u"--format"_qs, u"markdown"_qs, u"-o"_qs};
        for (const QString& copy : {u"/Einkauf 2.md"_qs, u"/Einkauf 3.md"_qs}) {
            const Result r = orvik(md + QStringList{ideen});
            QVERIFY2(r.code == 0, qPrintable(r.err));
            QCOMPARE(r.out, ideen + copy + u'\n');
        }
        const QString named = sheet(u"Ideen"_qs, u"Ideen.md"_qs, "# Ideen");
        const Result group = orvik({u"export"_qs, u"--group"_qs, u"Ideen"_qs, u"--format"_qs,
                                    u"markdown"_qs, u"-o"_qs, ideen});
        QCOMPARE(group.out, ideen + u"/Ideen 2.md\n"_qs);
        QCOMPARE(orvik::test::readBytes(named), QByteArray("# Ideen"));
        QCOMPARE(orvik::test::readBytes(einkauf), text);

        QVERIFY(QFile::link(einkauf, out() + u"/link.html"_qs));
        QCOMPARE(::mkfifo(QFile::encodeName(out() + u"/pipe"_qs).constData(), 0600), 0);
        const QList<std::pair<QString, QString>> refused = {
            {einkauf, u" ist ein Blatt der Bibliothek und wird nicht überschrieben.\n"_qs},
            {lib() + u"/Ideen/../Ideen/Einkauf 2.md"_qs,
             u" ist ein Blatt der Bibliothek und wird nicht überschrieben.\n"_qs},
            {out() + u"/link.html"_qs, u" ist keine gewöhnliche Datei\n"_qs},
            {out() + u"/pipe"_qs, u" ist keine gewöhnliche Datei\n"_qs}};
        for (const auto& [target, why] : refused) {
            const Result r =
                orvik({u"export"_qs, einkauf, u"--format"_qs, u"html"_qs, u"-o"_qs, target});
            QCOMPARE(r.code, 1);
            QVERIFY2(r.err.endsWith(why), qPrintable(r.err));
            QVERIFY(r.out.isEmpty());
        }
        QCOMPARE(orvik::test::readBytes(einkauf), text);
        QVERIFY(QFileInfo(out() + u"/link.html"_qs).isSymLink());
        struct stat st {};
        QCOMPARE(::lstat(QFile::encodeName(out() + u"/pipe"_qs).constData(), &st), 0);
        QVERIFY(S_ISFIFO(st.st_mode));
    }

    void fontFamily() {
        const QString file = sheet(u"Ideen"_qs, u"f.md"_qs, "Text");
        QString err;
        const auto familyLine = [&](const QStringList& extra) {
            const Result r = orvik(QStringList{u"export"_qs, file, u"--format"_qs, u"html"_qs,
                                               u"-o"_qs, out() + u"/f.html"_qs} +
                                   extra);
            err = r.err;
            const QString html = QString::fromUtf8(orvik::test::readBytes(out() + u"/f.html"_qs));
            return html.split(u'\n').value(7);
        };
        QCOMPARE(familyLine({}), u"  font-family: \"Iowan Old Style\", Georgia, serif;"_qs);
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/.config/Orvik/Orvik.conf"_qs,
                                        "[General]\nOrvikFontFamily=Charis SIL\n"));
        QCOMPARE(familyLine({}), u"  font-family: \"Charis SIL\", Georgia, serif;"_qs);
        QCOMPARE(familyLine({u"--font"_qs, u"DejaVu Serif"_qs}),
                 u"  font-family: \"DejaVu Serif\", Georgia, serif;"_qs);
        QVERIFY2(err.isEmpty(), qPrintable(err));
        // EB Garamond's bold face lacks umlauts and German quotes: the default
        // book face instead, and a warning.
        QCOMPARE(familyLine({u"--font"_qs, u"EB Garamond"_qs}),
                 u"  font-family: \"Iowan Old Style\", Georgia, serif;"_qs);
        QVERIFY2(err.startsWith(u"orvik: Die Schrift \u201EEB Garamond\u201C "_qs),
                 qPrintable(err));
    }

    // The command line lays out PDFs without any display, and is not thrown
    // off by a display that cannot be reached.
    void pdfWithoutDisplay() {
        const QString file = sheet(u"Ideen"_qs, u"d.md"_qs, "# Ohne Bildschirm");
        const QStringList args = {u"export"_qs, file, u"--format"_qs, u"pdf"_qs, u"-o"_qs, out()};
        Result r = orvik(args, {}, {u"DISPLAY"_qs, u"WAYLAND_DISPLAY"_qs, u"QT_QPA_PLATFORM"_qs});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        r = orvik(args, {{u"DISPLAY"_qs, u":4711"_qs}, {u"QT_QPA_PLATFORM"_qs, u"xcb"_qs}});
        QVERIFY2(r.code == 0, qPrintable(r.err));
        QVERIFY(orvik::test::readBytes(out() + u"/Ohne Bildschirm.pdf"_qs).startsWith("%PDF-"));
    }
};

ORVIK_TEST_MAIN(TestCliExport)
#include "tst_cli_export.moc"
