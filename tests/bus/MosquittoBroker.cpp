#include "MosquittoBroker.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <signal.h>

namespace {

const QString brokerProgram = QStringLiteral("/usr/sbin/mosquitto");
const QString passwordProgram = QStringLiteral("/usr/bin/mosquitto_passwd");

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool writeText(const QString& path, const QString& text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text.toUtf8()) == text.toUtf8().size();
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
    m_passwords << user << password;
    m_access << QStringLiteral("user %1").arg(user) << access << QString();
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
    m_tlsPort = freeLoopbackPort();
    return true;
}

bool MosquittoBroker::writeFiles()
{
    if (!m_folder.isValid()) {
        m_error = QStringLiteral("no temporary folder: %1").arg(m_folder.errorString());
        return false;
    }
    const QString passwords = m_folder.filePath(QStringLiteral("passwords"));
    if (!writeText(passwords, QString()))
        return false;
    for (qsizetype i = 0; i + 1 < m_passwords.size(); i += 2) {
        QProcess hash;
        hash.start(passwordProgram, {QStringLiteral("-b"), passwords, m_passwords.at(i), m_passwords.at(i + 1)});
        if (!hash.waitForFinished(10000) || hash.exitCode() != 0) {
            m_error = QStringLiteral("mosquitto_passwd failed: %1").arg(QString::fromLocal8Bit(hash.readAllStandardError()));
            return false;
        }
    }
    const QString access = m_folder.filePath(QStringLiteral("access"));
    m_port = freeLoopbackPort();
    // As root the broker would change to the user mosquitto, who cannot read a private temporary
    // folder; "user root" keeps it as it is (and is ignored when the tests do not run as root).
    const QString config = QStringList{
        QStringLiteral("per_listener_settings false"),
        QStringLiteral("user root"),
        QStringLiteral("listener %1 127.0.0.1").arg(m_port),
        QStringLiteral("allow_anonymous false"),
        QStringLiteral("password_file %1").arg(passwords),
        QStringLiteral("acl_file %1").arg(access),
        QStringLiteral("persistence false"),
        QStringLiteral("log_dest stderr"),
        QStringLiteral("log_type all"),
        QString()}.join(u'\n')
        + (m_tlsPort ? QStringList{QStringLiteral("listener %1 127.0.0.1").arg(m_tlsPort),
                           QStringLiteral("certfile %1").arg(caFile()),
                           QStringLiteral("keyfile %1").arg(m_folder.filePath(QStringLiteral("broker.key"))),
                           QString()}.join(u'\n')
                     : QString());
    const QString configPath = m_folder.filePath(QStringLiteral("mosquitto.conf"));
    if (!writeText(access, m_access.join(u'\n') + u'\n') || !writeText(configPath, config)) {
        m_error = QStringLiteral("cannot write the broker's files in %1").arg(m_folder.path());
        return false;
    }
    m_process.setArguments({QStringLiteral("-c"), configPath});
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
            m_error = QStringLiteral("mosquitto did not come up on port %1:\n%2").arg(m_port).arg(log());
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
