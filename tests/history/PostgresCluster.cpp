#include "PostgresCluster.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool asRoot()
{
    return geteuid() == 0;
}

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

} // namespace

PostgresCluster::PostgresCluster()
{
    // The newest server installed.
    const QStringList versions = QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& v : versions)
        if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/initdb").arg(v)))
            m_binDir = QStringLiteral("/usr/lib/postgresql/%1/bin").arg(v);
    if (asRoot()) {
        if (const passwd* pw = getpwnam("postgres")) {
            [[maybe_unused]] const int rc = ::chown(QFile::encodeName(m_dir.path()).constData(), pw->pw_uid, pw->pw_gid);
        }
    }
}

PostgresCluster::~PostgresCluster()
{
    if (m_running)
        stop();
}

QString PostgresCluster::bin(const QString& program) const
{
    return m_binDir + u'/' + program;
}

QString PostgresCluster::run(const QString& program, const QStringList& args) const
{
    if (m_binDir.isEmpty())
        return QStringLiteral("no PostgreSQL server is installed under /usr/lib/postgresql");
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setWorkingDirectory(m_dir.path());
    if (asRoot())
        p.start(QStringLiteral("runuser"), QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--"), bin(program)} + args);
    else
        p.start(bin(program), args);
    if (!p.waitForFinished(120'000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll()));
    return {};
}

QString PostgresCluster::start()
{
    if (!m_dir.isValid())
        return QStringLiteral("no temporary folder");
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!m_initialised) {
        const QString pwfile = m_dir.filePath(QStringLiteral("pw"));
        QFile pw(pwfile);
        if (!pw.open(QIODevice::WriteOnly) || pw.write(Password) < 0)
            return QStringLiteral("cannot write %1").arg(pwfile);
        pw.close();
        pw.setPermissions(QFileDevice::ReadOwner | QFileDevice::ReadOther | QFileDevice::WriteOwner);
        if (QString e = run(QStringLiteral("initdb"), {QStringLiteral("-D"), data, QStringLiteral("-U"), QStringLiteral("postgres"),
                                                          QStringLiteral("--pwfile=") + pwfile, QStringLiteral("--auth-local=trust"),
                                                          QStringLiteral("--auth-host=scram-sha-256"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                                                          QStringLiteral("--no-sync")});
            !e.isEmpty())
            return e;
        m_port = freePort();
        m_initialised = true;
    }
    const QString options = QStringLiteral("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=on").arg(m_port).arg(m_dir.path());
    if (QString e = run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), data, QStringLiteral("-w"), QStringLiteral("-t"), QStringLiteral("60"),
                                                      QStringLiteral("-l"), m_dir.filePath(QStringLiteral("log")), QStringLiteral("-o"), options,
                                                      QStringLiteral("start")});
        !e.isEmpty())
        return e;
    m_running = true;
    // pg_ctl -w waits for the server; the check below only confirms the socket answers.
    if (PQping(conninfo().toUtf8().constData()) != PQPING_OK)
        return QStringLiteral("the server started but does not answer on %1").arg(conninfo());
    return {};
}

QString PostgresCluster::stop(bool immediate)
{
    m_running = false;
    return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-w"), QStringLiteral("-m"),
                                             immediate ? QStringLiteral("immediate") : QStringLiteral("fast"), QStringLiteral("stop")});
}

QString PostgresCluster::conninfo(const QString& database) const
{
    return QStringLiteral("host=%1 port=%2 user=postgres dbname=%3").arg(m_dir.path()).arg(m_port).arg(database);
}

QString PostgresCluster::tcpConninfo(const QString& user, const QString& password, const QString& database) const
{
    return QStringLiteral("host=127.0.0.1 port=%1 user=%2 password=%3 dbname=%4 connect_timeout=5").arg(m_port).arg(user, password, database);
}
