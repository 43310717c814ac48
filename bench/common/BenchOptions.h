#pragma once

// Command-line options of the benchmarks: "--name value", the value as given or a fallback.
#include <QString>
#include <QStringList>

namespace bench {

inline QString optionText(const QStringList& args, const char* name, const QString& fallback = {})
{
    const qsizetype at = args.indexOf(QString::fromLatin1(name));
    return at > 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

inline qint64 optionNumber(const QStringList& args, const char* name, qint64 fallback)
{
    const QString text = optionText(args, name);
    return text.isNull() ? fallback : text.toLongLong();
}

} // namespace bench
