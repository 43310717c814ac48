#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QSocketNotifier;
class QTimer;
struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

struct MqttSettings {
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 1883;
    QString clientId;               // empty: the broker assigns one
    QString userName;
    QString password;
    static constexpr int MinKeepAliveSeconds = 5;
    static constexpr int MaxKeepAliveSeconds = 300;
    /// A station notices a lost broker within this time (it probes twice per interval); 10 s keeps
    /// an operator from trusting a frozen picture for long, at one small packet per 5 s per client.
    int keepAliveSeconds = 10;
    QString caFile;                 // TLS to the broker when set
    QString certFile;               // client certificate and key, when the broker asks for them
    QString keyFile;
};

struct MqttWill {
    QString topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
};

/// One message received (or to publish). Response topic and correlation data are MQTT 5 properties:
/// a request names where its answer goes and the answer carries the request's correlation data back.
struct MqttMessage {
    QString topic;
    QByteArray payload;
    int qos = 0;
    bool retain = false;
    QString responseTopic;
    QByteArray correlationData;
};

/// \brief An MQTT 5 client (libmosquitto) driven by the Qt event loop: socket notifiers for reading and
/// writing, a timer for keep-alive; no thread of its own. Once started it stays connected: a lost
/// connection or an unanswered attempt is retried after 1 s, doubling to 30 s; a refused log-in is
/// reported once and not retried, since retrying a wrong password only floods the broker's log.
/// Subscriptions do not survive a reconnection (clean start): subscribe again on `connected`.
class MqttClient final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(MqttClient)

public:
    enum class State { Idle, Connecting, Connected, WaitingToRetry, Refused };

    explicit MqttClient(QObject* parent = nullptr);
    ~MqttClient() override;

    /// Used by the next connectToBroker().
    void setSettings(const MqttSettings& settings);
    const MqttSettings& settings() const { return m_settings; }
    /// Registered with every following connection attempt; set it from `connecting` to give each
    /// attempt its own will (a new bdSeq, the time of the attempt).
    void setWill(const std::optional<MqttWill>& will);
    void setBackOff(int firstDelayMs, int maximumDelayMs);

    void connectToBroker();
    /// A clean DISCONNECT: the broker drops the will, unless `publishWill` asks it to publish it (MQTT 5
    /// reason "disconnect with will message"), so an orderly stop says what a crash would. No further
    /// attempts.
    void disconnectFromBroker(bool publishWill = false);

    State state() const { return m_state; }
    bool isConnected() const { return m_state == State::Connected; }
    /// Connection attempts since construction.
    int connectionAttempts() const { return m_attempts; }

    /// The packet's message id, or -1 when not connected or the library refused it (logged).
    int subscribe(const QString& filter, int qos = 1);
    int unsubscribe(const QString& filter);
    int publish(const MqttMessage& message);

Q_SIGNALS:
    /// Just before each attempt.
    void connecting();
    void connected();
    /// An established connection ended (not after disconnectFromBroker()).
    void disconnected(const QString& reason);
    /// An attempt failed; `retrying` is false for a refused log-in, which ends the attempts.
    void connectFailed(const QString& reason, bool retrying);
    void messageReceived(const MqttMessage& message);
    /// A QoS 1/2 publication was acknowledged (QoS 0: was sent). A reason code of 128 or more is a
    /// refusal, for example 135 when the broker's access list denies the topic.
    void published(int messageId, int reasonCode, const QString& reason);
    void subscribed(int messageId, const QList<int>& grantedQos);

private:
    static void onConnect(mosquitto*, void* self, int reasonCode, int flags, const mosquitto_property*);
    static void onDisconnect(mosquitto*, void* self, int reasonCode, const mosquitto_property*);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message, const mosquitto_property*);
    static void onPublish(mosquitto*, void* self, int messageId, int reasonCode, const mosquitto_property*);
    static void onSubscribe(mosquitto*, void* self, int messageId, int count, const int* granted, const mosquitto_property*);

    bool createHandle();
    void attempt();
    void connectionLost(const QString& reason);
    void scheduleRetry();
    void watchSocket();
    void unwatchSocket();
    void afterIo(int result = 0);

    MqttSettings m_settings;
    std::optional<MqttWill> m_will;
    mosquitto* m_handle = nullptr;
    State m_state = State::Idle;
    int m_attempts = 0;
    int m_firstDelayMs = 1000;
    int m_maximumDelayMs = 30000;
    int m_delayMs = 1000;
    QSocketNotifier* m_readNotifier = nullptr;
    QSocketNotifier* m_writeNotifier = nullptr;
    QTimer* m_miscTimer = nullptr;
    QTimer* m_retryTimer = nullptr;
    QTimer* m_answerTimer = nullptr;
};
