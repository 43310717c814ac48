#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>

/// \brief A strict reader of one JSON object from the wire (server status, alarm states, requests):
/// refused above a size, when not an object, for a field it does not know, a field of the wrong type or
/// out of range; the reason names the field. A broker delivers whatever any client sent, so nothing here
/// trusts the bytes.
class BusJson final {
public:
    struct Fault {
        QString reason;
    };
    /// JSON whole numbers travel as doubles: beyond 2^53 they are no longer exact.
    static constexpr qint64 maxWhole = 9007199254740992LL;

    /// Throws Fault. Without `knownFields`, call only() once the kind of object is known.
    BusJson(const QByteArray& json, qsizetype maxBytes);
    BusJson(const QByteArray& json, qsizetype maxBytes, const QStringList& knownFields);
    /// A nested object, named `path` in reasons.
    BusJson(const QJsonObject& object, QString path, const QStringList& knownFields);

    const QJsonObject& object() const { return m_object; }
    bool has(const char* key) const { return m_object.contains(QLatin1String(key)); }
    QJsonValue value(const char* key) const;
    bool boolean(const char* key, std::optional<bool> fallback = std::nullopt) const;
    QString string(const char* key, std::optional<QString> fallback = std::nullopt, qsizetype maxLength = 4096) const;
    qint64 whole(const char* key, qint64 minimum = 0, qint64 maximum = maxWhole, std::optional<qint64> fallback = std::nullopt) const;
    double number(const char* key, std::optional<double> fallback = std::nullopt) const;
    QJsonObject nested(const char* key) const;

    /// Refuses any field not in `knownFields`.
    void only(const QStringList& knownFields) const;
    [[noreturn]] void fail(const char* key, const QString& reason) const;

    static QByteArray compact(const QJsonObject& object);

private:
    QJsonValue required(const char* key) const;

    QJsonObject m_object;
    QString m_path;
};
