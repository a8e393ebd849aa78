#include "library/library.h"
#include "probetext.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <random>

using namespace Qt::StringLiterals;

using namespace orvik;

// The store's writes against SIGKILL: a probe process rewrites three sheets
// without pause and is killed at a random moment, a thousand times over.
class TestSaveKill : public QObject {
    Q_OBJECT

    // One library with its probe; two run side by side to use both cores.
    struct Lane {
        QString ideas;
        QList<int> last{0, 0, 0};
        QProcess probe;
    };

    static inline const QStringList sheets{u"blatt-0.md"_s, u"blatt-1.md"_s, u"blatt-2.md"_s};

    // Each sheet one whole version, never older than the last one seen (a
    // finished write lost), and nothing an interrupted write left is listed.
    static void checkSheets(Lane& lane, int round) {
        for (qsizetype i = 0; i < sheets.size(); ++i) {
            const QByteArray bytes = test::readBytes(lane.ideas + u'/' + sheets[i]);
            const auto version = probe::wholeVersion(bytes);
            QVERIFY2(version, qPrintable(u"round %1, %2: %3 bytes"_s.arg(round).arg(sheets[i]).arg(
                                  bytes.size())));
            QVERIFY(*version >= lane.last[i]);
            lane.last[i] = *version;
        }
        QStringList listed;
        for (const Sheet& s : library::readSheets(lane.ideas))
            listed.append(QFileInfo(s.path()).fileName());
        listed.sort();
        QCOMPARE(listed, sheets + QStringList{QString::fromLatin1(library::welcomeFileName)});
    }

private Q_SLOTS:
    void everySheetIsOneWholeVersionAfterEveryKill() {
        const int kills = qEnvironmentVariableIsSet("ORVIK_KILLS")
                              ? qEnvironmentVariableIntValue("ORVIK_KILLS")
                              : 1000;
        QTemporaryDir dir;
        std::array<Lane, 2> lanes;
        for (size_t i = 0; i < lanes.size(); ++i)
            lanes[i].ideas = dir.path() + u"/Orvik%1/Ideen"_s.arg(i);
        std::mt19937 random(20261206);
        std::uniform_int_distribution<int> delayUs(0, 30000);
        QElapsedTimer clock;
        clock.start();
        int done = 0;
        for (int round = 0; done < kills; ++round) {
            for (Lane& lane : lanes)
                lane.probe.start(QStringLiteral(ORVIK_STORE_PROBE),
                                 {u"stress"_s, QFileInfo(lane.ideas).path()});
            // Killed only once it writes, so that every kill lands among the writes.
            for (Lane& lane : lanes) {
                QVERIFY2(lane.probe.waitForStarted(10000), qPrintable(lane.probe.errorString()));
                while (!lane.probe.canReadLine())
                    QVERIFY2(lane.probe.waitForReadyRead(10000), "the probe never wrote");
                QCOMPARE(lane.probe.readLine(), QByteArray("bereit\n"));
            }
            for (Lane& lane : lanes) {
                QThread::usleep(delayUs(random));
                lane.probe.kill();
            }
            for (Lane& lane : lanes) {
                QVERIFY(lane.probe.waitForFinished(10000));
                // Exited on its own: it found a sheet that was not one whole version.
                QVERIFY2(lane.probe.exitStatus() == QProcess::CrashExit,
                         lane.probe.readAll().constData());
                checkSheets(lane, round);
                if (QTest::currentTestFailed())
                    return;
                ++done;
            }
        }
        int versions = 0;
        for (const Lane& lane : lanes)
            versions += lane.last[0] + lane.last[1] + lane.last[2];
        QVERIFY(versions >= done); // each run wrote at least once before it was killed
        qInfo("%d kills in %lld ms, %d versions written", done, clock.elapsed(), versions);
    }
};

ORVIK_TEST_MAIN(TestSaveKill)
#include "tst_savekill.moc"
