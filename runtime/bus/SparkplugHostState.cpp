#include "SparkplugHostState.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

QByteArray SparkplugHostState::toJson() const
{
    return QJsonDocument(QJsonObject{{QStringLiteral("online"), online}, {QStringLiteral("timestamp"), timestampMs}})
        .toJson(QJsonDocument::Compact);
}

BusResult<SparkplugHostState> SparkplugHostState::parse(const QByteArray& json)
{
    using Result = BusResult<SparkplugHostState>;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        return Result::failure(QStringLiteral("STATE is not JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        return Result::failure(QStringLiteral("STATE is not a JSON object"));
    const QJsonObject object = document.object();
    const QJsonValue online = object.value(QStringLiteral("online"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    if (!online.isBool())
        return Result::failure(QStringLiteral("STATE has no boolean \"online\""));
    // JSON numbers are doubles: whole milliseconds up to 2^53 are exact.
    const double ms = timestamp.toDouble(-1.0);
    if (!timestamp.isDouble() || ms < 0 || ms != std::trunc(ms) || ms > 9007199254740992.0)
        return Result::failure(QStringLiteral("STATE has no \"timestamp\" in whole milliseconds"));
    return Result::success(SparkplugHostState{online.toBool(), static_cast<qint64>(ms)});
}
