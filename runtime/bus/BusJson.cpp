#include "BusJson.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>

BusJson::BusJson(const QByteArray& json, qsizetype maxBytes, const QStringList& knownFields)
    : BusJson(json, maxBytes)
{
    only(knownFields);
}

BusJson::BusJson(const QByteArray& json, qsizetype maxBytes)
{
    if (json.size() > maxBytes)
        throw Fault{QStringLiteral("%1 bytes are above the limit of %2").arg(json.size()).arg(maxBytes)};
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw Fault{QStringLiteral("not JSON: %1 at byte %2").arg(error.errorString()).arg(error.offset)};
    if (!document.isObject())
        throw Fault{QStringLiteral("not a JSON object")};
    m_object = document.object();
}

BusJson::BusJson(const QJsonObject& object, QString path, const QStringList& knownFields)
    : m_object(object)
    , m_path(std::move(path))
{
    only(knownFields);
}

void BusJson::only(const QStringList& knownFields) const
{
    for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it)
        if (!knownFields.contains(it.key()))
            throw Fault{QStringLiteral("unknown field \"%1%2\"").arg(m_path.isEmpty() ? QString() : m_path + u'.', it.key())};
}

void BusJson::fail(const char* key, const QString& reason) const
{
    throw Fault{QStringLiteral("field \"%1%2\": %3").arg(m_path.isEmpty() ? QString() : m_path + u'.', QLatin1String(key), reason)};
}

QJsonValue BusJson::required(const char* key) const
{
    const QJsonValue v = m_object.value(QLatin1String(key));
    if (v.isUndefined())
        fail(key, QStringLiteral("missing"));
    return v;
}

QJsonValue BusJson::value(const char* key) const
{
    return required(key);
}

bool BusJson::boolean(const char* key, std::optional<bool> fallback) const
{
    if (fallback && !has(key))
        return *fallback;
    const QJsonValue v = required(key);
    if (!v.isBool())
        fail(key, QStringLiteral("expected true or false"));
    return v.toBool();
}

QString BusJson::string(const char* key, std::optional<QString> fallback, qsizetype maxLength) const
{
    if (fallback && !has(key))
        return *fallback;
    const QJsonValue v = required(key);
    if (!v.isString())
        fail(key, QStringLiteral("expected a text"));
    const QString text = v.toString();
    if (text.size() > maxLength)
        fail(key, QStringLiteral("longer than %1 characters").arg(maxLength));
    return text;
}

qint64 BusJson::whole(const char* key, qint64 minimum, qint64 maximum, std::optional<qint64> fallback) const
{
    if (fallback && !has(key))
        return *fallback;
    const QJsonValue v = required(key);
    const double d = v.toDouble();
    if (!v.isDouble() || !std::isfinite(d) || d != std::trunc(d))
        fail(key, QStringLiteral("expected a whole number"));
    if (d < static_cast<double>(minimum) || d > static_cast<double>(maximum))
        fail(key, QStringLiteral("%1 is outside %2 to %3").arg(QString::number(d, 'g', 17)).arg(minimum).arg(maximum));
    return static_cast<qint64>(d);
}

double BusJson::number(const char* key, std::optional<double> fallback) const
{
    if (fallback && !has(key))
        return *fallback;
    const QJsonValue v = required(key);
    if (!v.isDouble())
        fail(key, QStringLiteral("expected a number"));
    return v.toDouble();
}

QJsonObject BusJson::nested(const char* key) const
{
    if (!has(key))
        return {};
    const QJsonValue v = required(key);
    if (!v.isObject())
        fail(key, QStringLiteral("expected an object"));
    return v.toObject();
}

QByteArray BusJson::compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
