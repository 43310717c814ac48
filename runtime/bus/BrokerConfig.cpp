#include "BrokerConfig.h"

#include "KalvoraTopics.h"
#include "SparkplugTopic.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

namespace {

const QString passwordProgram = QStringLiteral("mosquitto_passwd");

QString writeText(const QString& path, const QString& text, bool secret)
{
    QFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), file.errorString());
    if (secret)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return {};
}

QString nodeTopic(SparkplugMessageType type, const QString& project)
{
    return SparkplugTopic::node(type, QStringLiteral("Kalvora"), project).toString();
}

} // namespace

QString BrokerConfig::configPath(const QString& folder)
{
    return QDir(folder).filePath(QLatin1String(configFileName));
}

QString BrokerConfig::write(const QString& folder) const
{
    const QDir dir(folder);
    const QString passwords = dir.absoluteFilePath(QLatin1String(passwordFileName));
    const QString access = dir.absoluteFilePath(QLatin1String(accessFileName));
    if (QString error = writeText(passwords, QString(), true); !error.isEmpty())
        return error;
    for (const BrokerAccount& account : accounts) {
        QProcess hash;
        hash.start(passwordProgram, {QStringLiteral("-b"), passwords, account.user, account.password});
        if (!hash.waitForFinished(10000) || hash.exitStatus() != QProcess::NormalExit || hash.exitCode() != 0)
            return QStringLiteral("%1 failed for user \"%2\": %3 %4")
                .arg(passwordProgram, account.user, hash.errorString(), QString::fromLocal8Bit(hash.readAllStandardError()).trimmed());
    }
    QStringList acl;
    for (const BrokerAccount& account : accounts)
        acl << QStringLiteral("user %1").arg(account.user) << account.access << QString();

    QStringList config{QStringLiteral("per_listener_settings false")};
    if (stayRoot)
        config << QStringLiteral("user root");
    // Alarm states and values go out in small messages; Nagle would delay them by the stations' delayed
    // acknowledgement (some 40 ms).
    config << QStringLiteral("set_tcp_nodelay true");
    config << QStringLiteral("listener %1 %2").arg(port).arg(listenAddress) << QStringLiteral("allow_anonymous false")
           << QStringLiteral("password_file %1").arg(passwords) << QStringLiteral("acl_file %1").arg(access)
           << QStringLiteral("persistence false")
           // Refused by the broker before anyone reads it; the largest answer (a history page) is a few MB.
           << QStringLiteral("max_packet_size %1").arg(maxPacketBytes);
    if (verboseLog)
        config << QStringLiteral("log_dest stderr") << QStringLiteral("log_type all");
    if (tlsPort)
        config << QStringLiteral("listener %1 %2").arg(tlsPort).arg(listenAddress) << QStringLiteral("certfile %1").arg(certFile)
               << QStringLiteral("keyfile %1").arg(keyFile);
    if (QString error = writeText(access, acl.join(u'\n') + u'\n', false); !error.isEmpty())
        return error;
    return writeText(configPath(folder), config.join(u'\n') + u'\n', false);
}

QStringList BrokerConfig::serverAccess(const QString& project)
{
    // The node's births, data, death and commands, and devices below it should it ever have any.
    return {QStringLiteral("topic readwrite spBv1.0/Kalvora/+/%1/#").arg(project),
        QStringLiteral("topic readwrite kalvora/%1/#").arg(project)};
}

QStringList BrokerConfig::stationAccess(const QString& project, const QString& station)
{
    const KalvoraTopics topics(project);
    return {QStringLiteral("topic read spBv1.0/Kalvora/+/%1/#").arg(project),
        QStringLiteral("topic write %1").arg(nodeTopic(SparkplugMessageType::NCMD, project)),
        QStringLiteral("topic readwrite %1").arg(SparkplugTopic::state(station).toString()),
        QStringLiteral("topic read %1").arg(topics.server()),
        QStringLiteral("topic read %1").arg(topics.alarmsFilter()),
        QStringLiteral("topic write %1").arg(topics.request(station)),
        QStringLiteral("topic read %1").arg(topics.response(station))};
}

QString BrokerConfig::randomPassword()
{
    QByteArray bytes(24, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
