#include "DateBuild.h"

#include <QTest>

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

    void aDateOutsideTheCalendarIsInvalid()
    {
        QVERIFY(!DateBuild::date(9999, 13, 1).isValid());
        QVERIFY(!DateBuild::dateTime(QDate(), 0).isValid());
    }
};

QTEST_MAIN(TestDateBuild)
#include "tst_DateBuild.moc"
