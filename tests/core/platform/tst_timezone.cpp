#include "platform/timezone.h"
#include "testenv.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

#include <ctime>

using namespace orvik;

namespace {

// Local offsets over winter and summer of several years, and the zone's name:
// what every date the app shows depends on.
QList<int> localOffsets() {
    QList<int> offsets;
    for (int year : {1999, 2016, 2026, 2031})
        for (int month : {1, 4, 7, 10})
            offsets.append(QDateTime(QDate(year, month, 15), QTime(12, 0), Qt::UTC)
                               .toLocalTime()
                               .offsetFromUtc());
    return offsets;
}

void setZone(const char* value) {
    if (value)
        qputenv("TZ", QByteArray(value));
    else
        qunsetenv("TZ");
    ::tzset();
}

} // namespace

class TestTimeZone : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { setZone("Europe/Berlin"); }

    void unsetZoneIsPinnedToTheSameSystemZone() {
        setZone(nullptr);
        const QList<int> before = localOffsets();
        const QByteArray idBefore = QTimeZone::systemTimeZoneId();
        platform::pinSystemTimeZone();
        QCOMPARE(qgetenv("TZ"), QByteArray(":/etc/localtime"));
        QCOMPARE(localOffsets(), before);
        QCOMPARE(QTimeZone::systemTimeZoneId(), idBefore);
    }

    void chosenZoneIsLeftAlone() {
        setZone("America/New_York");
        const QList<int> before = localOffsets();
        platform::pinSystemTimeZone();
        QCOMPARE(qgetenv("TZ"), QByteArray("America/New_York"));
        QCOMPARE(localOffsets(), before);
        // Summer and winter differ there: the zone really is in use.
        QCOMPARE(before.at(0), -5 * 3600);
        QCOMPARE(before.at(2), -4 * 3600);
    }
};

ORVIK_TEST_MAIN(TestTimeZone)
#include "tst_timezone.moc"
