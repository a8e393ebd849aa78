#include "library/library.h"
#include "probetext.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using namespace Qt::StringLiterals;

using namespace orvik;

// The store's writes against SIGKILL: a probe process rewrites three sheets
// without pause and is killed at a random moment, a thousand times over.
class TestSaveKill : public QObject {
    Q_OBJECT

    // One library with its probe; two run side by side to use both cores.
    struct Lane {
        QString ideas;
        QList<int> last;
        std::unique_ptr<QProcess> probe;
        int delayUs = 0;
    };

    static inline const QStringList sheets{u"blatt-0.md"_s, u"blatt-1.md"_s, u"blatt-2.md"_s};

    static void checkSheets(Lane& lane, int round) {
        for (qsizetype i = 0; i < sheets.size(); ++i) {
            const QByteArray bytes = test::readBytes(lane.ideas + u'/' + sheets[i]);
            const auto version = probe::wholeVersion(bytes);
            QVERIFY2(version,
                     qPrintable(u"round "_s + QString::number(round) + u", "_s + sheets[i] +
                                u": "_s + QString::number(bytes.size()) + u" bytes"_s));
            // An older version would mean a finished write was lost.
            QVERIFY(*version >= lane.last[i]);
            lane.last[i] = *version;
        }
        // Whatever an interrupted write left behind is no sheet.
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
        QVERIFY(dir.isValid());
        std::vector<Lane> lanes(2);
        for (size_t i = 0; i < lanes.size(); ++i) {
            lanes[i].ideas = dir.path() + u"/Orvik"_s + QString::number(i) + u"/Ideen"_s;
            lanes[i].last = QList<int>(sheets.size(), 0);
        }

        std::mt19937 random(20261206);
        std::uniform_int_distribution<int> delayUs(0, 30000);
        QElapsedTimer clock;
        clock.start();
        int done = 0;
        for (int round = 0; done < kills; ++round) {
            for (Lane& lane : lanes) {
                lane.probe = std::make_unique<QProcess>();
                lane.probe->start(QStringLiteral(ORVIK_STORE_PROBE),
                                  {u"stress"_s, QFileInfo(lane.ideas).path()});
                lane.delayUs = delayUs(random);
            }
            for (Lane& lane : lanes) {
                QVERIFY2(lane.probe->waitForStarted(10000), qPrintable(lane.probe->errorString()));
                // Killed only once it writes, so that every kill lands among the writes.
                while (!lane.probe->canReadLine())
                    QVERIFY2(lane.probe->waitForReadyRead(10000), "the probe never wrote");
                QCOMPARE(lane.probe->readLine(), QByteArray("bereit\n"));
            }
            std::sort(lanes.begin(), lanes.end(),
                      [](const Lane& a, const Lane& b) { return a.delayUs < b.delayUs; });
            int slept = 0;
            for (Lane& lane : lanes) {
                QThread::usleep(lane.delayUs - slept);
                slept = lane.delayUs;
                lane.probe->kill();
            }
            for (Lane& lane : lanes) {
                QVERIFY(lane.probe->waitForFinished(10000));
                // Exited on its own: it found a sheet that was not one whole version.
                QVERIFY2(lane.probe->exitStatus() == QProcess::CrashExit,
                         qPrintable(QString::fromUtf8(lane.probe->readAll())));
                checkSheets(lane, round);
                if (QTest::currentTestFailed())
                    return;
                ++done;
            }
        }
        int versions = 0;
        qsizetype leftovers = 0;
        for (const Lane& lane : lanes) {
            versions += lane.last[0] + lane.last[1] + lane.last[2];
            leftovers += QDir(lane.ideas).entryList(QDir::Files | QDir::Hidden).size() - 4;
        }
        // Each run wrote at least once before it was killed.
        QVERIFY(versions >= done);
        qInfo("%d kills in %lld ms; %d versions written; %lld files besides the sheets", done,
              clock.elapsed(), versions, leftovers);
    }
};

ORVIK_TEST_MAIN(TestSaveKill)
#include "tst_savekill.moc"
