#pragma once

#include <QObject>

class QSocketNotifier;

/// \brief Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the main thread, so the runtime is stopped in
/// order (and its archive closed) instead of the process dying in the middle of a write.
class TerminationSignals final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TerminationSignals)

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
};
