#pragma once

#include "MqttClient.h"
#include "Runtime.h"

#include <QObject>
#include <QString>

class AlarmPublisher;
class PlantPublisher;
class RequestServer;

/// What a server runs and where it meets its stations.
struct ServerOptions {
    RuntimeOptions runtime;
    QString project = QStringLiteral("Kalvora");
    MqttSettings broker;
};

/// \brief kalvora-server: runs a runtime project as a station's embedded runtime does and is its one
/// authority on the broker (PROTOCOL.md). Two broker connections: the Sparkplug edge node, whose will
/// is the NDEATH, also publishes alarm states and answers requests; the second one only carries the
/// retained server status, whose will says offline (one connection has one will).
class Server final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Server)

public:
    explicit Server(ServerOptions options, QObject* parent = nullptr);
    ~Server() override;

    /// Starts the runtime, then connects to the broker; running() once the runtime is up.
    void start();
    /// Orderly: death and offline status published, broker connections closed, runtime stopped with
    /// its files closed, then finished(exitCode).
    void stop(int exitCode = 0);

    Runtime& runtime() { return m_runtime; }
    MqttClient& edgeClient() { return *m_edge; }
    PlantPublisher* plant() { return m_plant; }
    RequestServer* requests() { return m_requests; }
    QString fingerprint() const { return m_fingerprint; }
    qint64 startedMs() const { return m_startedMs; }

Q_SIGNALS:
    void running();
    void finished(int exitCode);

private:
    void runtimeStarted();
    void edgeConnected();
    void received(const MqttMessage& message);
    void refused(const QString& reason, bool retrying);
    QByteArray status(bool online) const;

    ServerOptions m_options;
    Runtime m_runtime;
    MqttClient* m_edge = nullptr;
    MqttClient* m_status = nullptr;
    PlantPublisher* m_plant = nullptr;
    AlarmPublisher* m_alarms = nullptr;
    RequestServer* m_requests = nullptr;
    QString m_fingerprint;
    qint64 m_startedMs = 0;
    bool m_stopping = false;
    int m_exitCode = 0;
};
