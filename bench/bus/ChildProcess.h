#pragma once

#include <QProcess>
#include <QStringList>

#include <optional>

/// \brief A child process of the benchmark: a station in its role, or a program whose CPU is measured.
/// Lines it prints that start with "@" are its answers, kept in order until awaited.
class ChildProcess final : public QObject {
public:
    ChildProcess(QString name, QString program, QStringList arguments);
    ~ChildProcess() override;

    QString name() const { return m_name; }
    /// Starts it; with `readyTimeoutMs` waits for its "@ready" too. False (said on stderr) if not.
    bool start(int readyTimeoutMs = 0);
    void send(const QString& command);
    /// The words after the next answer "@`what`", waiting up to `timeoutMs`; nothing if none came.
    std::optional<QStringList> await(const QString& what, int timeoutMs = 30000);
    /// SIGTERM and wait for its end.
    void stop();
    /// User plus system CPU seconds the process has used so far (/proc/PID/stat), -1 once it is gone.
    double cpuSeconds() const;
    static double cpuSecondsOf(qint64 pid);

private:
    QString m_name;
    QProcess m_process;
    QByteArray m_buffer;
    QStringList m_answers;
};
