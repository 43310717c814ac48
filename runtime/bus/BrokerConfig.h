#pragma once

#include <QList>
#include <QString>
#include <QStringList>

/// One broker log-in and what it may do: access list lines such as "topic read kalvora/P/alarms/+".
struct BrokerAccount {
    QString user;
    QString password;
    QStringList access;
};

/// \brief A mosquitto configuration: the configuration file, the password file (hashed by
/// mosquitto_passwd) and the access list, written into one folder. The tests' broker and
/// `kalvora-server --write-broker-config` both write through it; accessFor() is the access list of a
/// Kalvora server and its stations.
class BrokerConfig final {
public:
    static constexpr const char* configFileName = "mosquitto.conf";
    static constexpr const char* passwordFileName = "passwords";
    static constexpr const char* accessFileName = "access";
    static constexpr const char* serverUser = "server";
    /// The broker refuses larger packets (a client sending one is disconnected).
    static constexpr int maxPacketBytes = 16 * 1024 * 1024;

    QString listenAddress = QStringLiteral("127.0.0.1");
    quint16 port = 1883;
    /// A second listener with TLS when not 0.
    quint16 tlsPort = 0;
    QString certFile;
    QString keyFile;
    /// Keep running as root (a test broker in a private temporary folder); otherwise mosquitto started
    /// as root changes to its own user, which must then be able to read the folder.
    bool stayRoot = false;
    /// Log everything to standard error (tests read it); otherwise mosquitto's default logging.
    bool verboseLog = false;
    QList<BrokerAccount> accounts;

    /// Empty on success, otherwise what failed, naming the file.
    QString write(const QString& folder) const;
    static QString configPath(const QString& folder);

    /// The access of the Kalvora server of `project`, and of one station: Sparkplug data of the project's
    /// node and our topics for the server; for a station reading them, and writing only its own
    /// requests, its own host STATE and the node's commands (rebirth).
    static QStringList serverAccess(const QString& project);
    static QStringList stationAccess(const QString& project, const QString& station);

    /// 24 random bytes, base64url: for generated accounts.
    static QString randomPassword();
};
