#include "MosquittoBroker.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QTcpServer>

#include <signal.h>

namespace {

const QString brokerProgram = QStringLiteral("/usr/sbin/mosquitto");

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

MosquittoBroker::MosquittoBroker(QObject* parent)
    : QObject(parent)
{
    m_process.setProgram(brokerProgram);
    m_process.setReadChannel(QProcess::StandardError);  // its log; waitForReadyRead waits on it
    // Keep reading once it runs, so that a chatty broker never blocks on a full pipe.
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { m_log += m_process.readAllStandardError(); });
}

MosquittoBroker::~MosquittoBroker()
{
    resume();
    kill();
}

void MosquittoBroker::addAccount(const QString& user, const QString& password, const QStringList& access)
{
    m_config.accounts.append({user, password, access});
}

QString MosquittoBroker::caFile() const
{
    return m_folder.filePath(QStringLiteral("broker.crt"));
}

bool MosquittoBroker::enableTls()
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
        QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
        QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1"),
        QStringLiteral("-keyout"), m_folder.filePath(QStringLiteral("broker.key")), QStringLiteral("-out"), caFile()});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl cannot make a certificate: %1").arg(QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    m_config.tlsPort = freeLoopbackPort();
    m_config.certFile = caFile();
    m_config.keyFile = m_folder.filePath(QStringLiteral("broker.key"));
    return true;
}

bool MosquittoBroker::writeFiles()
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_folder.errorString());
        return false;
    }
    m_config.port = freeLoopbackPort();
    // As root the broker would change to the user mosquitto, who cannot read a private temporary
    // folder; "user root" keeps it as it is (and is ignored when the tests do not run as root).
    m_config.stayRoot = true;
    m_config.verboseLog = true;
    if (const QString error = m_config.write(m_folder.path()); !error.isEmpty()) {
        m_error = error;
        return false;
    }
    m_process.setArguments({QStringLiteral("-c"), BrokerConfig::configPath(m_folder.path())});
    m_written = true;
    return true;
}

bool MosquittoBroker::start()
{
    if (!m_written && !writeFiles())
        return false;
    m_log.clear();
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        m_error = QStringLiteral("%1 does not start: %2").arg(brokerProgram, m_process.errorString());
        return false;
    }
    // Listening comes before the "running" line, so once it is there connections are accepted.
    const QDeadlineTimer deadline(10000);
    while (!m_log.contains(" running")) {
        if (m_process.state() != QProcess::Running || deadline.hasExpired()) {
            m_log += m_process.readAllStandardError();
            m_error = QStringLiteral("mosquitto did not come up on port %1:\n%2").arg(m_config.port).arg(log());
            return false;
        }
        m_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        m_log += m_process.readAllStandardError();
    }
    return true;
}

void MosquittoBroker::kill()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(10000);
}

void MosquittoBroker::sendSignal(int number)
{
    if (m_process.state() == QProcess::Running)
        ::kill(static_cast<pid_t>(m_process.processId()), number);
}

void MosquittoBroker::pause()
{
    sendSignal(SIGSTOP);
}

void MosquittoBroker::resume()
{
    sendSignal(SIGCONT);
}
