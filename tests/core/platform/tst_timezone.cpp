#include "platform/timezone.h"
#include "testenv.h"

#include <QTimeZone>

#include <ctime>

// Every date the app shows depends on the local zone: pinning must not change it.
class TestTimeZone : public QObject {
    Q_OBJECT
    static QList<int> localOffsets() { // winter and summer of several years
        QList<int> offsets;
        for (int year : {1999, 2016, 2026, 2031})
            for (int month : {1, 4, 7, 10})
                offsets.append(QDate(year, month, 15).startOfDay().offsetFromUtc());
        return offsets;
    }

private Q_SLOTS:
    void pinningKeepsTheZone_data() {
        QTest::addColumn<QByteArray>("zone"); // null: TZ unset
        QTest::addColumn<QByteArray>("pinned");
        QTest::newRow("unset") << QByteArray() << QByteArray(":/etc/localtime");
        QTest::newRow("chosen") << QByteArray("America/New_York") << QByteArray("America/New_York");
    }
    void pinningKeepsTheZone() {
        QFETCH(QByteArray, zone);
        zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
        ::tzset();
        const QList<int> before = localOffsets();
        const QByteArray id = QTimeZone::systemTimeZoneId();
        orvik::platform::pinSystemTimeZone();
        QTEST(qgetenv("TZ"), "pinned");
        QCOMPARE(localOffsets(), before);
        QCOMPARE(QTimeZone::systemTimeZoneId(), id);
        if (!zone.isNull()) // the chosen zone really is in use
            QCOMPARE(before.first(), -5 * 3600);
    }
};

ORVIK_TEST_MAIN(TestTimeZone)
#include "tst_timezone.moc"
