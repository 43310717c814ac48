#include "DateBuild.h"

#include <algorithm>

namespace DateBuild {

namespace {

constexpr qint64 DayMs = 86400LL * 1000;

/// The local clock's offset from UTC, in milliseconds, at the instant `utcMs`.
qint64 offsetMsAt(qint64 utcMs)
{
    return static_cast<qint64>(QDateTime::fromMSecsSinceEpoch(utcMs).offsetFromUtc()) * 1000;
}

} // namespace

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

QDateTime localDateTime(const QDate& date, const QTime& time)
{
    if (!date.isValid() || !time.isValid())
        return {};
    // The wall clock read as if it were UTC; the local instant lies one offset away from it. The
    // offsets a day before and a day after are the only two that can apply (no zone changes its
    // clock twice in two days), so each is tried and kept if the clock really shows it there.
    const qint64 wallMs = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    const qint64 before = offsetMsAt(wallMs - DayMs);
    const qint64 after = offsetMsAt(wallMs + DayMs);
    const bool underBefore = offsetMsAt(wallMs - before) == before;
    const bool underAfter = offsetMsAt(wallMs - after) == after;
    qint64 utcMs = 0;
    if (underBefore && underAfter)
        utcMs = std::min(wallMs - before, wallMs - after); // the clock went back: its first passage
    else if (underBefore || underAfter)
        utcMs = wallMs - (underBefore ? before : after);
    else
        utcMs = wallMs - before; // the clock skipped this time: as it reads after the change
    return QDateTime::fromMSecsSinceEpoch(utcMs);
}

QDateTime dateTime(const QDate& date, qint64 seconds)
{
    if (!date.isValid())
        return {};
    // Through the calendar first, then the clock: whole days carried keep the local time of day even
    // across a change of daylight saving time.
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 rest = seconds - days * 86400;
    return localDateTime(date.addDays(days), QTime(0, 0).addSecs(static_cast<int>(rest)));
}

} // namespace DateBuild
