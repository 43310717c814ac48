#include "DateBuild.h"

namespace DateBuild {

QDate date(int year, int month, int day)
{
    // Carry the month into the year first (floor division, so month 0 is December of the year
    // before), then count the day from the first of that month.
    const qint64 months = static_cast<qint64>(year) * 12 + (month - 1);
    const qint64 y = months >= 0 ? months / 12 : -((-months + 11) / 12);
    const int m = static_cast<int>(months - y * 12) + 1;
    if (y < -9999 || y > 9999 || y == 0)
        return {};
    const QDate first(static_cast<int>(y), m, 1);
    return first.isValid() ? first.addDays(static_cast<qint64>(day) - 1) : QDate();
}

qint64 timeOfDaySeconds(int hour, int minute, int second)
{
    return static_cast<qint64>(hour) * 3600 + static_cast<qint64>(minute) * 60 + second;
}

QDateTime dateTime(const QDate& date, qint64 seconds)
{
    if (!date.isValid())
        return {};
    // Through the calendar first, then the clock: whole days carried keep the local time of day even
    // across a change of daylight saving time.
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 rest = seconds - days * 86400;
    return QDateTime(date.addDays(days), QTime(0, 0).addSecs(static_cast<int>(rest)));
}

} // namespace DateBuild
