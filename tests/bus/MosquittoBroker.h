#pragma once

#include "BrokerConfig.h"

#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

/// \brief A real mosquitto for tests: its own configuration, password file and access list in a
/// temporary folder, listening on a free loopback port. It can be killed, stopped and continued, and
/// started again on the same port.
class MosquittoBroker final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MosquittoBroker)

public:
    explicit MosquittoBroker(QObject* parent = nullptr);
    ~MosquittoBroker() override;

    /// `access` lines go into the access list under the user, for example "topic readwrite a/#".
    void addAccount(const QString& user, const QString& password, const QStringList& access);

    /// A second listener with TLS, its certificate made here (self-signed for 127.0.0.1). Before start().
    bool enableTls();
    QString caFile() const;
    quint16 tlsPort() const { return m_config.tlsPort; }
    /// The broker's folder (configuration, password file, access list).
    QString folder() const { return m_folder.path(); }

    /// Writes the files (the first time), starts the broker and returns once it accepts connections;
    /// false with errorString() when it does not come up within ten seconds.
    bool start();
    /// SIGKILL: gone without a word to its clients, as in a crash.
    void kill();
    /// SIGSTOP / SIGCONT: the connections stay open but nothing answers.
    void pause();
    void resume();

    quint16 port() const { return m_config.port; }
    /// The broker's process id while it runs (0 otherwise), for measuring it.
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }
    QString log() const { return QString::fromLocal8Bit(m_log); }

private:
    bool writeFiles();
    void sendSignal(int number);

    QTemporaryDir m_folder;
    QProcess m_process;
    BrokerConfig m_config;
    bool m_written = false;
    QString m_error;
    QByteArray m_log;
};
