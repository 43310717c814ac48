#pragma once

#include "KalvoraTopics.h"
#include "MqttClient.h"
#include "PlantSource.h"
#include "ServerStatus.h"
#include "SparkplugAliasTable.h"
#include "SparkplugPayload.h"

#include <QElapsedTimer>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class AlarmEngine;
class RemoteAlarms;
class RemoteHistory;
class RemoteSessions;
class RequestClient;
struct Project;
struct StationLink;

/// How a station meets its server: the broker log-in (user = station name) and its patience.
struct RemoteStationOptions {
    MqttSettings broker;
    /// Who works on the station, for the server's journals; empty: the logged-in user.
    QString user;
    int requestTimeoutMs = 10000;
    /// A missing data message not come by then asks the server for a new birth.
    int seqGapMs = 2000;
};

/// \brief A station's plant values from the server (PROTOCOL.md): a Sparkplug host application that
/// fills the station's variables from the server's birth and data, with their quality, and carries
/// operator writes, alarm commands and history reads to the server as requests. The station goes live
/// once its project is the server's (same fingerprint), the birth is in and every alarm has its state.
/// Without the server (broker gone, link silent, the server's death) every value turns bad and the
/// source is faulty until a new birth; the alarms on the communication fault then say "no connection
/// to the server" (text ServerLinkText) until the server's states come again.
class RemoteSource final : public PlantSource {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoteSource)

public:
    RemoteSource(const StationLink& link, RemoteStationOptions options);
    ~RemoteSource() override;

    /// What RuntimeOptions::remoteSource takes.
    static std::function<PlantSource*(const StationLink&)> factory(RemoteStationOptions options);
    static constexpr QLatin1StringView ServerLinkText{"AlarmServerVerbindung"};

    void start(qint64 nowMs) override;
    void stop() override;
    void tick(qint64, double) override {}
    void write(const WriteRequest& request) override;
    bool isFaulty() const override;
    AlarmCommandSink* alarmCommands() override;
    HistoryReader* history() override;
    SessionLink* sessions() override;
    bool startsAtOnce() const override { return false; }

    MqttClient& client() { return *m_client; }
    /// True while a birth is held that no death has ended.
    bool hasBirth() const { return m_born; }

Q_SIGNALS:
    /// A rebirth was asked of the server; `reason` says why.
    void rebirthRequested(const QString& reason);

private:
    void connected();
    QString waitingForServer() const;
    void linkLost(const QString& reason);
    void received(const MqttMessage& message);
    void serverStatus(const MqttMessage& message);
    void birth(const MqttMessage& message);
    void data(const MqttMessage& message);
    void death(const MqttMessage& message);
    void apply(const SparkplugMetric& metric, qint64 fallbackMs);
    void serverGone();
    void requestRebirth(const QString& reason);
    void probe();
    void update();
    void checkLive();
    void refuse(const QString& reason);
    QString user() const;
    static qint64 nowMs();

    RemoteStationOptions m_options;
    TagStore& m_tagStore;
    AlarmEngine& m_alarmEngine;
    KalvoraTopics m_topics;
    QString m_station;
    QString m_projectFolder;
    QString m_commFault;
    QStringList m_variables;
    MqttClient* m_client = nullptr;
    RequestClient* m_requests = nullptr;
    RemoteAlarms* m_alarms = nullptr;
    RemoteSessions* m_sessions = nullptr;
    std::unique_ptr<RemoteHistory> m_history;
    QTimer* m_gapTimer = nullptr;
    QTimer* m_probeTimer = nullptr;

    QString m_ownFingerprint;
    std::optional<ServerStatus> m_status;
    bool m_mismatch = false;
    SparkplugAliasTable m_aliases;
    quint64 m_bdSeq = 0;
    quint64 m_nextSeq = 0;
    std::optional<quint64> m_missingSeq;
    bool m_born = false;
    bool m_linkUp = false;
    bool m_serverCommFault = false;
    bool m_running = false;
    bool m_live = false;
    bool m_refused = false;
    bool m_lastFaulty = true;
    int m_probeId = -1;
    /// Since the last rebirth request; data before the birth it brings ask for no second one.
    QElapsedTimer m_rebirthAsked;
};
