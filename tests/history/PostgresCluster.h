#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// \brief A throwaway PostgreSQL cluster for tests: initdb into a temporary folder, the Unix socket in
/// that folder, a free loopback port. Run as the `postgres` user when the tests run as root, because
/// the server refuses root. The superuser `postgres` connects through the socket without a password,
/// over TCP with Password.
class PostgresCluster final {
public:
    static constexpr const char* Password = "s3cret-test";

    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    /// Creates the cluster on first use, then starts it and waits until it accepts connections. An
    /// empty text on success, otherwise why not.
    QString start();
    /// `immediate`: as at a power cut, without a checkpoint.
    QString stop(bool immediate = false);
    bool isRunning() const { return m_running; }
    int port() const { return m_port; }
    QString socketDir() const { return m_dir.path(); }
    /// Connection through the socket as the superuser.
    QString conninfo(const QString& database = QStringLiteral("postgres")) const;
    /// Connection over TCP on the loopback address.
    QString tcpConninfo(const QString& user, const QString& password, const QString& database = QStringLiteral("postgres")) const;

private:
    QString run(const QString& program, const QStringList& args) const;
    QString bin(const QString& program) const;

    QTemporaryDir m_dir;
    QString m_binDir;
    int m_port = 0;
    bool m_initialised = false;
    bool m_running = false;
};
