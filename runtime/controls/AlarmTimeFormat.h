#pragma once

#include <QDateTime>
#include <QString>
#include <QStringView>

/// \brief The date and time formats of the alarm line and the alarm list ("%02D.%02O.%02Y",
/// "%02T:%02I:%02S").
///
/// A directive is "%", an optional "0", an optional width of one or two digits and a letter:
/// D day, O month, Y year in two digits, C year in four digits, T hour (0 to 23), I minute, S second.
/// With "0" the number is padded with zeros to the width, without it with spaces; a number wider than
/// the width is never cut. "%%" is a percent sign. Everything else is copied, and so is a directive
/// that is malformed or names an unknown letter (letters are upper case only), so a faulty stored format
/// shows itself on screen instead of hiding a field. An invalid time shows dashes in each field.
namespace AlarmTimeFormat {

QString format(QStringView pattern, const QDateTime& time);

} // namespace AlarmTimeFormat
