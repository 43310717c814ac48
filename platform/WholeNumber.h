#pragma once

#include "KalvoraError.h"

#include <QVariant>

#include <cmath>
#include <limits>

/// Conversion of a control's value to a whole number the way the screens' handlers convert: a number
/// (or a text that reads as one), rounded to the nearest whole number with halves to even.
namespace WholeNumber {

/// The value as a number; throws KalvoraError naming `what` for a value that is no number (a text
/// included: comparing a text with a number is a type mismatch) or NaN.
double number(const QVariant& value, const QString& what);

/// The value as a number, rounded, halves to even; an empty value is 0. Throws KalvoraError naming
/// `what` for a value that is no number.
double rounded(const QVariant& value, const QString& what);

/// rounded(), checked against the range of T; throws KalvoraError naming `what` when it does not fit.
template <class T>
T to(const QVariant& value, const QString& what)
{
    const double r = rounded(value, what);
    if (r < static_cast<double>(std::numeric_limits<T>::min()) || r > static_cast<double>(std::numeric_limits<T>::max()))
        throw KalvoraError(QStringLiteral("%1: %2 is out of range").arg(what, value.toString()));
    return static_cast<T>(r);
}

} // namespace WholeNumber
