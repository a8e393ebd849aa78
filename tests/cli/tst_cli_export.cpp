#include "orvikrun.h"

#include <QDir>
#include <QTemporaryDir>

#include <sys/stat.h>

using namespace Qt::StringLiterals;
using orvik::test::readBytes;
using orvik::test::Run;

// `orvik export` as scripts and users run it, in a home of its own.
class TestCliExport : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString lib(const QString& sub = {}) const { return m_home.path() + u"/Texte"_s + sub; }
    QString out(const QString& sub = {}) const { return m_home.path() + u"/Ausgabe"_s + sub; }

    // `args` split at spaces, with "{out}" for the output folder, then `more`; by
    // default with no display at all, which the command line must not need.
    Run orvik(const QString& args, const QStringList& more = {}, QProcessEnvironment env = {}) {
        if (env.isEmpty()) {
            env = orvik::test::environmentWithHome(m_home.path());
            for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
                env.remove(name);
        }
        QStringList command{QStringLiteral(ORVIK_BINARY), u"--library"_s, lib()};
        command += args.split(u' ').replaceInStrings(u"{out}"_s, out());
        return orvik::test::run(command + more, m_home.path(), env);
    }
    // `name` with its group, as in "Ideen/a.md".
    QString sheet(const QString& name, const QByteArray& text) {
        return orvik::test::writeBytes(lib(u'/' + name), text) ? lib(u'/' + name) : QString();
    }

private Q_SLOTS:
    void init() {
        QVERIFY(QDir(lib()).removeRecursively() && QDir(out()).removeRecursively());
        QVERIFY(QDir().mkpath(out()));
        QCOMPARE(orvik(u"groups"_s).code, 0);
    }

    void refused_data() {
        // Arguments, then "|" and what stderr says; none for a usage error (code 2). {a} is a
        // sheet, {alt} one in Latin-1; without --format and -o the sheet goes to html in {out}.
        QTest::addColumn<QString>("row");
        QTest::newRow("no sheet") << QString();
        QTest::newRow("sheet and group") << u"{a} --group Ideen"_s;
        QTest::newRow("no format") << u"{a} -o {out}"_s;
        QTest::newRow("unknown format") << u"{a} --format odt -o {out}"_s;
        QTest::newRow("no target") << u"{a} --format pdf"_s;
        QTest::newRow("two sheets") << u"{a} zwei"_s;
        QTest::newRow("trash")
            << u"--group Papierkorb|Der Papierkorb lässt sich nicht als Gruppe exportieren.\n"_s;
        QTest::newRow("empty group") << u"--group Tagebuch|In „Tagebuch“ liegen keine Blätter.\n"_s;
        QTest::newRow("unknown group") << u"--group Weg|Die Gruppe „Weg“ gibt es nicht.\n"_s;
        QTest::newRow("missing file")
            << u"/nirgends.md|Die Datei „/nirgends.md“ gibt es nicht.\n"_s;
        QTest::newRow("no UTF-8") << u"{alt} --format pdf -o {out}|keine lesbare UTF-8-Textdatei"_s;
        // Every format names the path it could not write.
        for (const QString& format : {u"pdf"_s, u"rtf"_s})
            QTest::addRow("unwritable %s", qPrintable(format))
                << u"{a} --format %1 -o {out}/x/y.%1|Die Datei ließ sich nicht sichern: „{out}/x/y.%1“\n"_s
                       .arg(format);
    }
    void refused() {
        QFETCH(QString, row);
        QString args = row.section(u'|', 0, 0), message = row.section(u'|', 1);
        if (!args.contains(u"-o") && !args.contains(u"--format"))
            args += u" --format html -o {out}"_s;
        args.replace(u"{a}"_s, sheet(u"Ideen/a.md"_s, "# A"))
            .replace(u"{alt}"_s, sheet(u"Ideen/alt.md"_s, "Gr\xfc\xdf"));
        const Run r = orvik(u"export "_s + args.trimmed());
        QCOMPARE(r.code, message.isEmpty() ? 2 : 1);
        QVERIFY2(r.err.startsWith(u"orvik: "_s) &&
                     r.err.contains(message.isEmpty() ? u"orvik --help"_s
                                                      : message.replace(u"{out}"_s, out())),
                 qPrintable(r.err));
        QVERIFY(r.out.isEmpty() && QDir(out()).isEmpty());
    }

    void sheetInEveryFormat() {
        const QString file =
            sheet(u"Projekte/reise.md"_s, "# Reise: Tag 1\n\nÜber **Pässe** und *Täler*.\n");
        for (const QString& row : {u"pdf %PDF-"_s, u"docx PK"_s, u"html <!DOCTYPE html>"_s,
                                   u"rtf {\\rtf1"_s, u"md # Reise"_s}) {
            const QString ext = row.section(u' ', 0, 0), magic = row.section(u' ', 1);
            const QString format = ext == u"md" ? u"markdown"_s : ext;
            const Run r = orvik(u"export "_s + file + u" --format "_s + format + u" -o {out}"_s);
            // A folder gets the name the save panel proposes for the title.
            QCOMPARE(r.text(), out(u"/Reise- Tag 1."_s + ext + u'\n'));
            QVERIFY2(readBytes(out(u"/Reise- Tag 1."_s + ext)).startsWith(magic.toUtf8()),
                     qPrintable(ext));
        }
        QCOMPARE(readBytes(out(u"/Reise- Tag 1.md"_s)), readBytes(file));
        // A file name is taken as it is; a relative one is reported absolute. A
        // display out of reach does not throw the layout off.
        QProcessEnvironment unreachable = orvik::test::environmentWithHome(m_home.path());
        unreachable.insert(u"DISPLAY"_s, u":4711"_s);
        unreachable.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        for (const QString& row : {u"html -o seite.htm"_s, u"pdf -o druck.pdf"_s}) {
            const Run r =
                orvik(u"export --json "_s + file + u" --format "_s + row, {}, unreachable);
            QCOMPARE(r[u"path"_s].toString(), m_home.path() + u'/' + row.section(u' ', -1));
        }
        QVERIFY(readBytes(m_home.path() + u"/seite.htm"_s).contains("<title>Reise: Tag 1</title>"));

        // A group: its sheets joined oldest first.
        const QDateTime monday(QDate(2026, 3, 2), QTime(9, 0));
        QVERIFY(orvik::test::setModified(file, monday.addDays(-1)));
        const QList<QByteArray> days = {"Montag\n", "Dienstag  ", "\n\nMittwoch"};
        for (int day = 0; day < 3; ++day) // named against their order
            QVERIFY(orvik::test::setModified(
                sheet(u"Projekte/%1.md"_s.arg(QChar(u'c' - day)), days[day]), monday.addDays(day)));
        QCOMPARE(orvik(u"export --group Projekte --format markdown -o {out}"_s).text(),
                 out(u"/Projekte.md\n"_s));
        QCOMPARE(
            readBytes(out(u"/Projekte.md"_s)),
            QByteArray("# Reise: Tag 1\n\nÜber **Pässe** und *Täler*.\n\n---\n\nMontag\n\n---\n\n"
                       "Dienstag\n\n---\n\nMittwoch"));
    }

    // Guards the user's files: a folder as the target takes the next free name; a
    // file named is replaced only when it is a regular file and no sheet; nothing
    // is written through a link or into a FIFO's place.
    void nothingIsReplacedUnasked() {
        const QByteArray text = "# Einkauf\n\nMein Roman, Kapitel 1";
        const QString einkauf = sheet(u"Ideen/Einkauf.md"_s, text), ideen = lib(u"/Ideen"_s);
        for (const QString& copy : {u"/Einkauf 2.md"_s, u"/Einkauf 3.md"_s})
            QCOMPARE(orvik(u"export "_s + einkauf + u" --format markdown -o "_s + ideen).text(),
                     ideen + copy + u'\n');
        const QString named = sheet(u"Ideen/Ideen.md"_s, "# Ideen");
        QCOMPARE(orvik(u"export --group Ideen --format markdown -o "_s + ideen).text(),
                 ideen + u"/Ideen 2.md\n"_s);
        QCOMPARE(readBytes(named), QByteArray("# Ideen"));

        QVERIFY(QFile::link(einkauf, out(u"/link.html"_s)));
        QCOMPARE(::mkfifo(QFile::encodeName(out(u"/pipe"_s)).constData(), 0600), 0);
        const QStringList targets = {einkauf, ideen + u"/../Ideen/Einkauf 2.md"_s,
                                     out(u"/link.html"_s), out(u"/pipe"_s)};
        for (qsizetype i = 0; i < targets.size(); ++i) {
            const Run r = orvik(u"export "_s + einkauf + u" --format html -o"_s, {targets[i]});
            const QString why =
                i < 2 ? u" ist ein Blatt der Bibliothek und wird nicht überschrieben.\n"_s
                      : u" ist keine gewöhnliche Datei\n"_s;
            QVERIFY2(r.code == 1 && r.err.endsWith(why) && r.out.isEmpty(), qPrintable(r.err));
        }
        QCOMPARE(readBytes(einkauf), text);
        QVERIFY(QFileInfo(out(u"/link.html"_s)).isSymLink());
        const QFileInfo pipe(out(u"/pipe"_s));
        QVERIFY(pipe.exists() && !pipe.isFile() && !pipe.isDir() && !pipe.isSymLink());
    }

    void fontFamily() {
        const QString args =
            u"export "_s + sheet(u"Ideen/f.md"_s, "Text") + u" --format html -o {out}/f.html"_s;
        Run r;
        const auto family = [&](const QStringList& font) {
            r = orvik(args, font);
            return QString::fromUtf8(readBytes(out(u"/f.html"_s))).split(u'\n').value(7);
        };
        const QString line = u"  font-family: \"%1\", Georgia, serif;"_s;
        QVERIFY(orvik::test::writeBytes(m_home.path() + u"/.config/Orvik/Orvik.conf"_s,
                                        "[General]\nOrvikFontFamily=Charis SIL\n"));
        QCOMPARE(family({}), line.arg(u"Charis SIL"_s));
        QCOMPARE(family({u"--font"_s, u"DejaVu Serif"_s}), line.arg(u"DejaVu Serif"_s));
        QVERIFY2(r.err.isEmpty(), qPrintable(r.err));
        // Guards against a face whose bold lacks umlauts and German quotes: the
        // default book face instead, and a warning.
        QCOMPARE(family({u"--font"_s, u"EB Garamond"_s}), line.arg(u"Iowan Old Style"_s));
        QVERIFY2(r.err.startsWith(u"orvik: Die Schrift „EB Garamond“ "_s), qPrintable(r.err));
    }
};

ORVIK_TEST_MAIN(TestCliExport)
#include "tst_cli_export.moc"
