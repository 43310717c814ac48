#include "BrokerSettings.h"

#include "JsonFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

const QString systemCertificates = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");

} // namespace

QString BrokerSettings::applyUrl(const QString& url, MqttSettings& settings)
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString scheme = parsed.scheme();
    if (!parsed.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) || parsed.host().isEmpty()
        || !parsed.path().isEmpty() || parsed.hasQuery() || !parsed.userInfo().isEmpty())
        return QStringLiteral("\"%1\" is not a broker address: expected mqtt://host:port or mqtts://host:port").arg(url);
    const bool tls = scheme == QLatin1String("mqtts");
    settings.host = parsed.host();
    settings.port = static_cast<quint16>(parsed.port(tls ? defaultTlsPort : defaultPort));
    if (tls && settings.caFile.isEmpty())
        settings.caFile = systemCertificates;
    return {};
}

BrokerSettings::Result BrokerSettings::readFile(const QString& path)
{
    Result result;
    try {
        const JsonFile r(path, {{QStringLiteral("settings"),
                                  {QStringLiteral("broker"), QStringLiteral("user"), QStringLiteral("password"), QStringLiteral("caFile"),
                                   QStringLiteral("certFile"), QStringLiteral("keyFile"), QStringLiteral("keepAlive")}}});
        const QJsonObject& root = r.root();
        r.known(root, {}, QStringLiteral("settings"));
        MqttSettings& s = result.settings;
        s.userName = r.string(root, {}, "user", QString());
        s.password = r.string(root, {}, "password", QString());
        s.caFile = r.string(root, {}, "caFile", QString());
        s.certFile = r.string(root, {}, "certFile", QString());
        s.keyFile = r.string(root, {}, "keyFile", QString());
        s.keepAliveSeconds = static_cast<int>(r.whole(root, {}, "keepAlive", s.keepAliveSeconds, MqttSettings::MinKeepAliveSeconds,
                                                      MqttSettings::MaxKeepAliveSeconds));
        if (s.certFile.isEmpty() != s.keyFile.isEmpty())
            r.fail(QStringLiteral("certFile"), QStringLiteral("a client certificate needs its key, and a key its certificate"));
        if (const QString fault = applyUrl(r.string(root, {}, "broker"), s); !fault.isEmpty())
            r.fail(QStringLiteral("broker"), fault);
    } catch (const FileFault& fault) {
        result.error = fault.message;
    }
    return result;
}

BrokerSettings::Result BrokerSettings::stationLogIn(const QString& path, const QString& url)
{
    if (path.isEmpty())
        return {{}, QStringLiteral("--server needs --station FILE, the station's log-in for the broker")};
    Result result = readFile(path);
    if (!result.ok())
        return result;
    if (!url.isEmpty())
        if (const QString error = applyUrl(url, result.settings); !error.isEmpty())
            return {{}, QStringLiteral("--server: %1").arg(error)};
    if (result.settings.userName.isEmpty())
        result.error = QStringLiteral("%1: \"user\" (the station's name) is missing").arg(path);
    return result;
}

QByteArray BrokerSettings::toJson(const QString& url, const QString& user, const QString& password)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("broker"), url}, {QStringLiteral("user"), user}, {QStringLiteral("password"), password}})
        .toJson(QJsonDocument::Indented);
}
