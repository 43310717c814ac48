#pragma once

#include "BusReply.h"
#include "BusRequest.h"
#include "KalvoraTopics.h"
#include "AccessRules.h"
#include "MqttClient.h"
#include "Session.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>

#include <functional>

class Runtime;

/// \brief Answers the stations' requests on kalvora/<project>/request/<station> (PROTOCOL.md): every
/// command goes through the runtime's own checks and paths, as a local click does, with the station
/// (from the topic, which the broker pins to the station's log-in) and the user as who did it; history
/// reads are answered from the archive and the alarm journal.
class RequestServer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestServer)

public:
    /// After a failed sign-in, the station's next attempt within this time is refused unhashed, and
    /// while one attempt of a station is checked (on a worker thread) its next is refused: a script
    /// guessing passwords gets nowhere fast and cannot hold up the plant's publishing.
    static constexpr qint64 SignInRetryMs = 1000;
    RequestServer(Runtime& runtime, MqttClient& client, const QString& project, QObject* parent);

    /// The subscription filter for every station's requests.
    QString filter() const { return m_topics.requestsFilter(); }
    /// Handles the message if it is a request: true then, whatever came of it.
    bool handle(const MqttMessage& message);

    /// Runs one decoded request for `station`; a sign-in is only answered through handle().
    BusReply execute(const QString& station, const BusRequest& request);

Q_SIGNALS:
    void answered(const QString& station, const QString& op, bool ok);

private:
    BusReply run(const QString& station, const BusRequest& request);
    /// Checks the password off this thread and answers through `answer` once it is known.
    void signIn(const QString& station, const BusRequest& request, const std::function<void(const BusReply&)>& answer);
    /// Marks a refusal that signing in (or unlocking `session`) would lift.
    static BusReply signInHelps(BusReply refusal, const AccessRules::Decision& decision, const Session* session);

    Runtime& m_runtime;
    MqttClient& m_client;
    KalvoraTopics m_topics;
    /// When each station's last sign-in failed (monotonic ms): a password hash costs this thread about
    /// 0.1 s, so a station that failed waits SignInRetryMs before the next attempt is even hashed.
    QHash<QString, qint64> m_failedSignIn;
    QElapsedTimer m_clock;
};
