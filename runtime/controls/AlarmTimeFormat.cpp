#include "AlarmTimeFormat.h"

#include <optional>

namespace AlarmTimeFormat {
namespace {

// Two digits are plenty for any date field and keep a stored "%09999999D" from asking for gigabytes.
constexpr int maxWidthDigits = 2;

std::optional<int> field(QChar letter, const QDateTime& time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    switch (letter.unicode()) {
    case 'D':
        return date.day();
    case 'O':
        return date.month();
    case 'Y':
        return ((date.year() % 100) + 100) % 100;
    case 'C':
        return date.year();
    case 'T':
        return clock.hour();
    case 'I':
        return clock.minute();
    case 'S':
        return clock.second();
    default:
        return std::nullopt;
    }
}

} // namespace

QString format(QStringView pattern, const QDateTime& time)
{
    QString out;
    out.reserve(pattern.size() + 8);
    const qsizetype n = pattern.size();
    qsizetype i = 0;
    while (i < n) {
        const QChar c = pattern[i];
        if (c != QLatin1Char('%')) {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < n && pattern[i + 1] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            i += 2;
            continue;
        }
        qsizetype j = i + 1;
        const bool zeros = j < n && pattern[j] == QLatin1Char('0');
        if (zeros)
            ++j;
        int width = 0;
        int digits = 0;
        while (j < n && pattern[j].isDigit() && pattern[j].unicode() < 128 && digits < maxWidthDigits) {
            width = width * 10 + (pattern[j].unicode() - '0');
            ++j;
            ++digits;
        }
        const std::optional<int> value = j < n ? field(pattern[j], time) : std::nullopt;
        if (!value) {
            // Malformed or unknown: show the directive as written (the "%" alone when nothing follows
            // it), then go on after it.
            out += pattern.mid(i, j - i);
            i = j;
            continue;
        }
        if (time.isValid() && *value < 0 && zeros)
            out += QLatin1Char('-') + QString::number(-qint64(*value)).rightJustified(width - 1, QLatin1Char('0'));
        else if (time.isValid())
            out += QString::number(*value).rightJustified(width, zeros ? QLatin1Char('0') : QLatin1Char(' '));
        else
            out += QString(qMax(width, 1), QLatin1Char('-'));
        i = j + 1;
    }
    return out;
}

} // namespace AlarmTimeFormat
