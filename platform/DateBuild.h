#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>

/// Calendar building with carry: parts outside their range run over into the next larger part instead
/// of failing, the way an operator's "month 13" means January of the next year.
namespace DateBuild {

/// The date of `year`, `month`, `day`: month 13 is January of the next year, month 0 December of the
/// previous one, a day beyond its month runs into the following months, day 0 is the last day of the
/// previous month. The year is taken as written (50 is the year 50, never 1950). Invalid when the
/// result lies outside the calendar a date can hold.
QDate date(int year, int month, int day);

/// Seconds from midnight for `hour`, `minute`, `second`; an hour above 23 carries whole days, a minute
/// above 59 whole hours, and so on, so the result may pass 86400 or be negative.
qint64 timeOfDaySeconds(int hour, int minute, int second);

/// The local instant whose wall clock reads `date` and `time`. A time the clock skips when it is put
/// forward is taken as the clock shows it after the change (02:30 on a night that jumps from 02:00 to
/// 03:00 is 03:30); a time it shows twice when it is put back is its first passage. Invalid only for an
/// invalid date or time.
QDateTime localDateTime(const QDate& date, const QTime& time);

/// The local date and time `seconds` after the start of `date` on the calendar, as `localDateTime`
/// reads it; invalid for an invalid date.
QDateTime dateTime(const QDate& date, qint64 seconds);

} // namespace DateBuild
