#include "DateBuild.h"

#include <QTest>
#include <QTimeZone>

class TestDateBuild final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void carries_data()
    {
        QTest::addColumn<int>("year");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<QDateTime>("expected");
        const auto at = [](int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi)); };
        QTest::newRow("load values") << 2002 << 6 << 1 << 9 << 0 << at(2002, 6, 1, 9, 0);
        QTest::newRow("31 June is 1 July") << 2002 << 6 << 31 << 9 << 0 << at(2002, 7, 1, 9, 0);
        QTest::newRow("29 Feb common year is 1 March") << 2003 << 2 << 29 << 0 << 0 << at(2003, 3, 1, 0, 0);
        QTest::newRow("29 Feb leap year") << 2004 << 2 << 29 << 0 << 0 << at(2004, 2, 29, 0, 0);
        QTest::newRow("29 Feb 1900 is no leap day") << 1900 << 2 << 29 << 12 << 0 << at(1900, 3, 1, 12, 0);
        QTest::newRow("29 Feb 2000 is a leap day") << 2000 << 2 << 29 << 12 << 0 << at(2000, 2, 29, 12, 0);
        QTest::newRow("month 13 is January next year") << 2002 << 13 << 5 << 8 << 0 << at(2003, 1, 5, 8, 0);
        QTest::newRow("month 0 is December before") << 2002 << 0 << 5 << 8 << 0 << at(2001, 12, 5, 8, 0);
        QTest::newRow("day 0 is the last of the month before") << 2002 << 3 << 0 << 8 << 0 << at(2002, 2, 28, 8, 0);
        QTest::newRow("day 0 of January") << 2002 << 1 << 0 << 8 << 0 << at(2001, 12, 31, 8, 0);
        QTest::newRow("day 31 of month 12") << 2002 << 12 << 32 << 8 << 0 << at(2003, 1, 1, 8, 0);
        QTest::newRow("23:59 keeps the day") << 2002 << 6 << 1 << 23 << 59 << at(2002, 6, 1, 23, 59);
        QTest::newRow("hour 24 is the next midnight") << 2002 << 6 << 30 << 24 << 0 << at(2002, 7, 1, 0, 0);
        QTest::newRow("minute 60 is the next hour") << 2002 << 12 << 31 << 23 << 60 << at(2003, 1, 1, 0, 0);
        QTest::newRow("largest inputs") << 2100 << 255 << 255 << 255 << 255 << at(2121, 11, 20, 19, 15);
        if (QTimeZone::systemTimeZoneId() != "Europe/Berlin")
            return;
        // The clock jumps from 02:00 to 03:00 on 31 March 2002 and back from 03:00 to 02:00 on 27 October.
        const auto utc = [](int y, int mo, int d, int h, int mi) { return QDateTime(QDate(y, mo, d), QTime(h, mi), Qt::UTC); };
        QTest::newRow("skipped 02:30 reads 03:30") << 2002 << 3 << 31 << 2 << 30 << utc(2002, 3, 31, 1, 30);
        QTest::newRow("skipped 02:00 reads 03:00") << 2002 << 3 << 31 << 2 << 0 << utc(2002, 3, 31, 1, 0);
        QTest::newRow("01:59 before the jump") << 2002 << 3 << 31 << 1 << 59 << utc(2002, 3, 31, 0, 59);
        QTest::newRow("carried into the skipped hour") << 2002 << 3 << 30 << 26 << 30 << utc(2002, 3, 31, 1, 30);
        QTest::newRow("summer time after the jump") << 2002 << 3 << 31 << 3 << 30 << utc(2002, 3, 31, 1, 30);
        QTest::newRow("doubled 02:30 is the first") << 2002 << 10 << 27 << 2 << 30 << utc(2002, 10, 27, 0, 30);
        QTest::newRow("doubled 02:00 is the first") << 2002 << 10 << 27 << 2 << 0 << utc(2002, 10, 27, 0, 0);
        QTest::newRow("03:00 after the doubled hour") << 2002 << 10 << 27 << 3 << 0 << utc(2002, 10, 27, 2, 0);
        QTest::newRow("doubled hour carried from day 26") << 2002 << 10 << 26 << 26 << 30 << utc(2002, 10, 27, 0, 30);
    }

    void carries()
    {
        QFETCH(int, year);
        QFETCH(int, month);
        QFETCH(int, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        const QDateTime built = DateBuild::dateTime(DateBuild::date(year, month, day), DateBuild::timeOfDaySeconds(hour, minute, 0));
        QTEST(built, "expected");
        QCOMPARE(built.time().second(), 0);
    }

    void everyHalfHourOfAYearIsAValidTime()
    {
        // Whatever the zone: every entry gives a time, on the clock as entered or, when the clock
        // skipped it, as the clock reads after the jump.
        for (int day = 1; day <= 365; ++day)
            for (int minutes = 0; minutes < 24 * 60; minutes += 30) {
                const QDateTime built = DateBuild::dateTime(DateBuild::date(2002, 1, day), DateBuild::timeOfDaySeconds(0, minutes, 0));
                const QDateTime entered(QDate(2002, 1, 1).addDays(day - 1), QTime(0, 0).addSecs(minutes * 60), Qt::UTC);
                const QDateTime shown = built.toOffsetFromUtc(built.offsetFromUtc());
                const qint64 ahead = entered.secsTo(QDateTime(shown.date(), shown.time(), Qt::UTC));
                QVERIFY2(built.isValid() && ahead >= 0 && ahead < 2 * 3600, qPrintable(entered.toString(Qt::ISODate)));
            }
    }

    void aDateOutsideTheCalendarIsInvalid()
    {
        QVERIFY(!DateBuild::date(9999, 13, 1).isValid());
        QVERIFY(!DateBuild::dateTime(QDate(), 0).isValid());
    }
};

QTEST_MAIN(TestDateBuild)
#include "tst_DateBuild.moc"
