#include "MqttClient.h"

#include "BusLog.h"

#include <QSocketNotifier>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

void initLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

// libmosquitto hands on_disconnect either its own error number or, for a DISCONNECT the broker sent,
// an MQTT 5 reason code (128 and above).
QString describe(int code)
{
    if (code >= 128)
        return QString::fromUtf8(mosquitto_reason_string(code));
    if (code == MOSQ_ERR_KEEPALIVE)
        return QStringLiteral("the broker did not answer within the keep-alive interval");
    if (code == MOSQ_ERR_TLS)
        return QStringLiteral("the TLS handshake failed: check the CA file and the broker's certificate");
    if (code == MOSQ_ERR_ERRNO)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString::fromUtf8(mosquitto_strerror(code));
}

bool isLoginRefusal(int reasonCode)
{
    return reasonCode == MQTT_RC_BAD_USERNAME_OR_PASSWORD || reasonCode == MQTT_RC_NOT_AUTHORIZED
        || reasonCode == MQTT_RC_BAD_AUTHENTICATION_METHOD || reasonCode == CONNACK_REFUSED_BAD_USERNAME_PASSWORD
        || reasonCode == CONNACK_REFUSED_NOT_AUTHORIZED;
}

MqttClient* clientOf(void* self)
{
    return static_cast<MqttClient*>(self);
}

} // namespace

MqttClient::MqttClient(QObject* parent)
    : QObject(parent)
    , m_miscTimer(new QTimer(this))
    , m_retryTimer(new QTimer(this))
    , m_answerTimer(new QTimer(this))
{
    initLibrary();
    // Keep-alive pings and their time-out live in mosquitto_loop_misc; half a second is fine-grained
    // enough for keep-alive intervals of seconds.
    m_miscTimer->setInterval(500);
    connect(m_miscTimer, &QTimer::timeout, this, [this] { afterIo(mosquitto_loop_misc(m_handle)); });
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &MqttClient::attempt);
    // A broker that accepts the connection but never answers (stopped, overloaded) must not hold the
    // attempt for ever.
    m_answerTimer->setSingleShot(true);
    connect(m_answerTimer, &QTimer::timeout, this, [this] {
        if (m_state != State::Connecting)
            return;
        m_state = State::WaitingToRetry;
        mosquitto_disconnect(m_handle);  // closes the socket; its callback may already schedule the retry
        unwatchSocket();
        Q_EMIT connectFailed(QStringLiteral("the broker did not answer within %1 s").arg(m_settings.keepAliveSeconds), true);
        if (!m_retryTimer->isActive())
            scheduleRetry();
    });
}

MqttClient::~MqttClient()
{
    m_state = State::Idle;
    unwatchSocket();
    if (m_handle) {
        mosquitto_user_data_set(m_handle, nullptr);
        mosquitto_disconnect(m_handle);
        mosquitto_destroy(m_handle);
    }
}

void MqttClient::setSettings(const MqttSettings& settings)
{
    m_settings = settings;
}

void MqttClient::setWill(const std::optional<MqttWill>& will)
{
    m_will = will;
}

void MqttClient::setBackOff(int firstDelayMs, int maximumDelayMs)
{
    m_firstDelayMs = firstDelayMs;
    m_maximumDelayMs = maximumDelayMs;
    m_delayMs = firstDelayMs;
}

bool MqttClient::createHandle()
{
    if (m_handle) {
        disconnectFromBroker();
        mosquitto_user_data_set(m_handle, nullptr);
        mosquitto_destroy(m_handle);
    }
    const QByteArray id = m_settings.clientId.toUtf8();
    m_handle = mosquitto_new(id.isEmpty() ? nullptr : id.constData(), true, this);
    if (!m_handle) {
        qCWarning(busLog) << "cannot create an MQTT client:" << std::strerror(errno);
        return false;
    }
    mosquitto_int_option(m_handle, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Messages are small and wanted at once: without this, Nagle holds one back until the last is
    // acknowledged, some 40 ms with the peer's delayed acknowledgement.
    mosquitto_int_option(m_handle, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m_handle, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(m_handle, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(m_handle, &MqttClient::onMessage);
    mosquitto_publish_v5_callback_set(m_handle, &MqttClient::onPublish);
    mosquitto_subscribe_v5_callback_set(m_handle, &MqttClient::onSubscribe);
    if (!m_settings.userName.isEmpty()) {
        const QByteArray user = m_settings.userName.toUtf8();
        const QByteArray password = m_settings.password.toUtf8();
        mosquitto_username_pw_set(m_handle, user.constData(), m_settings.password.isEmpty() ? nullptr : password.constData());
    }
    if (!m_settings.caFile.isEmpty()) {
        const QByteArray ca = m_settings.caFile.toLocal8Bit();
        const QByteArray cert = m_settings.certFile.toLocal8Bit();
        const QByteArray key = m_settings.keyFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(m_handle, ca.constData(), nullptr, cert.isEmpty() ? nullptr : cert.constData(),
            key.isEmpty() ? nullptr : key.constData(), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            m_state = State::Refused;
            Q_EMIT connectFailed(QStringLiteral("TLS set-up failed (%1): check the CA, certificate and key files").arg(describe(rc)), false);
            return false;
        }
    }
    return true;
}

void MqttClient::connectToBroker()
{
    m_retryTimer->stop();
    m_delayMs = m_firstDelayMs;
    if (createHandle())
        attempt();
}

void MqttClient::disconnectFromBroker(bool publishWill)
{
    m_retryTimer->stop();
    m_answerTimer->stop();
    const bool wasOpen = m_state == State::Connected || m_state == State::Connecting;
    m_state = State::Idle;
    if (m_handle && wasOpen)
        mosquitto_disconnect_v5(m_handle, publishWill ? MQTT_RC_DISCONNECT_WITH_WILL_MSG : MQTT_RC_NORMAL_DISCONNECTION, nullptr);
    unwatchSocket();
}

void MqttClient::attempt()
{
    if (!m_handle)
        return;
    ++m_attempts;
    m_state = State::Connecting;
    Q_EMIT connecting();
    if (m_state != State::Connecting)
        return;  // a receiver stopped us
    mosquitto_will_clear(m_handle);
    if (m_will) {
        const QByteArray topic = m_will->topic.toUtf8();
        mosquitto_will_set_v5(m_handle, topic.constData(), static_cast<int>(m_will->payload.size()), m_will->payload.constData(),
            m_will->qos, m_will->retain, nullptr);
    }
    const QByteArray host = m_settings.host.toUtf8();
    qCDebug(busLog) << "connecting to" << m_settings.host << m_settings.port << "attempt" << m_attempts;
    // Not blocking on the TCP handshake; resolving the host name still blocks (use addresses on
    // networks with slow name service).
    const int rc = mosquitto_connect_async(m_handle, host.constData(), m_settings.port, m_settings.keepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS) {
        const QString reason = describe(rc);
        qCInfo(busLog) << "connection to" << m_settings.host << m_settings.port << "failed:" << reason;
        m_state = State::WaitingToRetry;
        Q_EMIT connectFailed(reason, true);
        scheduleRetry();
        return;
    }
    watchSocket();
    m_answerTimer->start(m_settings.keepAliveSeconds * 1000);
}

void MqttClient::scheduleRetry()
{
    if (m_state != State::WaitingToRetry)
        return;
    qCDebug(busLog) << "next attempt in" << m_delayMs << "ms";
    m_retryTimer->start(m_delayMs);
    m_delayMs = qMin(m_delayMs * 2, m_maximumDelayMs);
}

void MqttClient::watchSocket()
{
    unwatchSocket();
    const int socket = mosquitto_socket(m_handle);
    if (socket < 0)
        return;
    m_readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { afterIo(mosquitto_loop_read(m_handle, 1)); });
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        // A TLS handshake in progress advances through the read step only.
        if (m_state == State::Connecting && !m_settings.caFile.isEmpty() && mosquitto_loop_read(m_handle, 1) != MOSQ_ERR_SUCCESS)
            return afterIo(MOSQ_ERR_TLS);
        afterIo(mosquitto_loop_write(m_handle, 1));
    });
    m_miscTimer->start();
    afterIo();
}

void MqttClient::unwatchSocket()
{
    // Called from inside the notifiers' own slots (the library closes the socket there), so the
    // notifiers go later, but stop listening to a closed descriptor now.
    for (QSocketNotifier** notifier : {&m_readNotifier, &m_writeNotifier}) {
        if (*notifier) {
            (*notifier)->setEnabled(false);
            (*notifier)->disconnect(this);
            (*notifier)->deleteLater();
            *notifier = nullptr;
        }
    }
    m_miscTimer->stop();
}

void MqttClient::afterIo(int result)
{
    // A failed TLS handshake closes the socket without the disconnect callback: the notifiers, still
    // here, would watch a closed descriptor and the attempt would hang until the answer timer.
    if (result != MOSQ_ERR_SUCCESS && m_readNotifier && mosquitto_socket(m_handle) < 0) {
        connectionLost(describe(result));
        return;
    }
    if (m_writeNotifier && m_handle)
        m_writeNotifier->setEnabled(mosquitto_want_write(m_handle));
}

void MqttClient::connectionLost(const QString& reason)
{
    unwatchSocket();
    m_answerTimer->stop();
    const State was = m_state;
    if (was == State::Idle || was == State::Refused)
        return;
    m_state = State::WaitingToRetry;
    if (was == State::Connected) {
        qCInfo(busLog) << "connection to" << m_settings.host << m_settings.port << "lost:" << reason;
        Q_EMIT disconnected(reason);
    } else if (was == State::Connecting) {
        qCInfo(busLog) << "connection to" << m_settings.host << m_settings.port << "failed:" << reason;
        Q_EMIT connectFailed(reason, true);
    }
    scheduleRetry();
}

int MqttClient::subscribe(const QString& filter, int qos)
{
    if (!isConnected())
        return -1;
    int id = 0;
    const int rc = mosquitto_subscribe_v5(m_handle, &id, filter.toUtf8().constData(), qos, 0, nullptr);
    afterIo();
    if (rc != MOSQ_ERR_SUCCESS) {
        qCWarning(busLog) << "cannot subscribe to" << filter << ":" << describe(rc);
        return -1;
    }
    return id;
}

int MqttClient::unsubscribe(const QString& filter)
{
    if (!isConnected())
        return -1;
    int id = 0;
    const int rc = mosquitto_unsubscribe_v5(m_handle, &id, filter.toUtf8().constData(), nullptr);
    afterIo();
    return rc == MOSQ_ERR_SUCCESS ? id : -1;
}

int MqttClient::publish(const MqttMessage& message)
{
    if (!isConnected())
        return -1;
    if (message.correlationData.size() > 65535) {
        qCWarning(busLog) << "cannot publish on" << message.topic << ": correlation data above 65535 bytes";
        return -1;
    }
    mosquitto_property* properties = nullptr;
    if (!message.responseTopic.isEmpty())
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, message.responseTopic.toUtf8().constData());
    if (!message.correlationData.isEmpty()) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, message.correlationData.constData(),
            static_cast<uint16_t>(message.correlationData.size()));
    }
    int id = 0;
    const int rc = mosquitto_publish_v5(m_handle, &id, message.topic.toUtf8().constData(), static_cast<int>(message.payload.size()),
        message.payload.constData(), message.qos, message.retain, properties);
    mosquitto_property_free_all(&properties);
    afterIo();
    if (rc != MOSQ_ERR_SUCCESS) {
        qCWarning(busLog) << "cannot publish on" << message.topic << ":" << describe(rc);
        return -1;
    }
    return id;
}

void MqttClient::onConnect(mosquitto*, void* self, int reasonCode, int, const mosquitto_property*)
{
    MqttClient* client = clientOf(self);
    if (!client || client->m_state != State::Connecting)
        return;
    client->m_answerTimer->stop();
    if (reasonCode == 0) {
        client->m_state = State::Connected;
        client->m_delayMs = client->m_firstDelayMs;
        qCInfo(busLog) << "connected to" << client->m_settings.host << client->m_settings.port;
        Q_EMIT client->connected();
        return;
    }
    const QString reason = QString::fromUtf8(mosquitto_reason_string(reasonCode));
    if (isLoginRefusal(reasonCode)) {
        client->m_state = State::Refused;
        const QString text = QStringLiteral("the broker refused the log-in of user \"%1\": %2").arg(client->m_settings.userName, reason);
        qCWarning(busLog).noquote() << text;
        Q_EMIT client->connectFailed(text, false);
        return;
    }
    client->m_state = State::WaitingToRetry;
    Q_EMIT client->connectFailed(QStringLiteral("the broker refused the connection: %1").arg(reason), true);
    // The library closes the connection next; onDisconnect schedules the retry.
}

void MqttClient::onDisconnect(mosquitto*, void* self, int reasonCode, const mosquitto_property*)
{
    MqttClient* client = clientOf(self);
    if (!client)
        return;
    if (client->m_state == State::WaitingToRetry) {
        client->unwatchSocket();
        if (!client->m_retryTimer->isActive())
            client->scheduleRetry();
        return;
    }
    client->connectionLost(describe(reasonCode));
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property* properties)
{
    MqttClient* client = clientOf(self);
    if (!client)
        return;
    MqttMessage out;
    out.topic = QString::fromUtf8(message->topic);
    out.payload = QByteArray(static_cast<const char*>(message->payload), message->payloadlen);
    out.qos = message->qos;
    out.retain = message->retain;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false)) {
        out.responseTopic = QString::fromUtf8(responseTopic);
        std::free(responseTopic);
    }
    void* correlation = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false)) {
        out.correlationData = QByteArray(static_cast<const char*>(correlation), length);
        std::free(correlation);
    }
    Q_EMIT client->messageReceived(out);
}

void MqttClient::onPublish(mosquitto*, void* self, int messageId, int reasonCode, const mosquitto_property*)
{
    if (MqttClient* client = clientOf(self))
        Q_EMIT client->published(messageId, reasonCode, QString::fromUtf8(mosquitto_reason_string(reasonCode)));
}

void MqttClient::onSubscribe(mosquitto*, void* self, int messageId, int count, const int* granted, const mosquitto_property*)
{
    MqttClient* client = clientOf(self);
    if (!client)
        return;
    QList<int> qos;
    for (int i = 0; i < count; ++i)
        qos << granted[i];
    Q_EMIT client->subscribed(messageId, qos);
}
