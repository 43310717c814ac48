#include "Server.h"

#include "AlarmPublisher.h"
#include "KalvoraTopics.h"
#include "PlantPublisher.h"
#include "ProjectFingerprint.h"
#include "RequestServer.h"
#include "ServerLog.h"
#include "ServerStatus.h"
#include "SparkplugTopic.h"

#include <QDateTime>

Server::Server(ServerOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_runtime(m_options.runtime)
    , m_edge(new MqttClient(this))
    , m_status(new MqttClient(this))
{
    m_edge->setSettings(m_options.broker);
    m_status->setSettings(m_options.broker);
    connect(&m_runtime, &Runtime::progress, this, [](const QString& step) { qCInfo(serverLog).noquote() << step; });
    connect(&m_runtime, &Runtime::started, this, &Server::runtimeStarted);
    connect(&m_runtime, &Runtime::startFailed, this, [this](const QString& reason) {
        qCCritical(serverLog).noquote() << "The runtime did not start:" << reason;
        stop(1);
    });
    // A runtime that stops by itself (a fault it cannot go on with) ends the server.
    connect(&m_runtime, &Runtime::stopped, this, [this] {
        if (!m_stopping) {
            qCCritical(serverLog).noquote() << "The runtime stopped:" << m_runtime.lastError();
            stop(1);
        }
    });
    connect(m_edge, &MqttClient::connecting, this, [this] {
        if (m_plant)
            m_plant->beginConnection();
    });
    connect(m_edge, &MqttClient::connected, this, &Server::edgeConnected);
    connect(m_edge, &MqttClient::messageReceived, this, &Server::received);
    connect(m_edge, &MqttClient::connectFailed, this, &Server::refused);
    connect(m_edge, &MqttClient::disconnected, this, [](const QString& reason) {
        qCWarning(serverLog).noquote() << "Lost the broker:" << reason;
    });
    connect(m_status, &MqttClient::connecting, this, [this] {
        const KalvoraTopics topics(m_options.project);
        m_status->setWill(MqttWill{topics.server(), status(false), 1, true});
    });
    connect(m_status, &MqttClient::connected, this, [this] {
        m_status->publish({KalvoraTopics(m_options.project).server(), status(true), 1, true, {}, {}});
    });
}

Server::~Server() = default;

void Server::start()
{
    if (!KalvoraTopics::isValidLevel(m_options.project)) {
        qCCritical(serverLog).noquote() << QStringLiteral("The project name \"%1\" cannot be an MQTT topic level").arg(m_options.project);
        stop(1);
        return;
    }
    m_startedMs = QDateTime::currentMSecsSinceEpoch();
    m_runtime.start(m_options.project);
}

QByteArray Server::status(bool online) const
{
    return ServerStatus{online, m_fingerprint, m_startedMs, ServerStatus::ProtocolVersion, m_runtime.isAccessControlled()}.toJson();
}

void Server::runtimeStarted()
{
    QString error;
    m_fingerprint = ProjectFingerprint::of(m_runtime.projectDirectory(), &error);
    if (m_fingerprint.isEmpty()) {
        qCCritical(serverLog).noquote() << "Cannot take the project's fingerprint:" << error;
        stop(1);
        return;
    }
    const QString project = m_runtime.projectName();
    m_plant = new PlantPublisher(m_runtime.tags(), *m_edge, project, [this] { return m_runtime.now(); }, this);
    m_alarms = new AlarmPublisher(m_runtime.alarms(), *m_edge, project, this);
    m_requests = new RequestServer(m_runtime, *m_edge, project, this);
    qCInfo(serverLog).noquote() << QStringLiteral("Runtime of %1 is running (fingerprint %2); connecting to %3:%4")
                                       .arg(project, m_fingerprint, m_options.broker.host)
                                       .arg(m_options.broker.port);
    m_status->connectToBroker();
    m_edge->connectToBroker();
    Q_EMIT running();
}

void Server::edgeConnected()
{
    qCInfo(serverLog).noquote() << "Connected to the broker";
    m_edge->subscribe(m_plant->topic(SparkplugMessageType::NCMD), 1);
    m_edge->subscribe(m_requests->filter(), 1);
    m_alarms->publishAll();
    m_plant->publishBirth();
}

void Server::received(const MqttMessage& message)
{
    if (message.topic == m_plant->topic(SparkplugMessageType::NCMD))
        m_plant->handleCommand(message);
    else if (!m_requests->handle(message))
        qCDebug(serverLog).noquote() << "Ignored a message on" << message.topic;
}

void Server::refused(const QString& reason, bool retrying)
{
    if (retrying) {
        qCWarning(serverLog).noquote() << "No broker yet:" << reason;
        return;
    }
    qCCritical(serverLog).noquote() << "The broker refused the server:" << reason;
    stop(2);
}

void Server::stop(int exitCode)
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_exitCode = exitCode;
    // The stations hear of an orderly stop as of a crash: the broker publishes both wills, the NDEATH
    // with this connection's bdSeq and the offline status.
    m_edge->disconnectFromBroker(true);
    m_status->disconnectFromBroker(true);
    connect(&m_runtime, &Runtime::stopped, this, [this] { Q_EMIT finished(m_exitCode); }, Qt::SingleShotConnection);
    m_runtime.stop();
}
