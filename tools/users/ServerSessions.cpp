#include "ServerSessions.h"

#include "BusReply.h"
#include "BusRequest.h"
#include "KalvoraTopics.h"
#include "RequestClient.h"

#include <QEventLoop>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTimer>

ServerSessions::ServerSessions(MqttSettings login, QString project, int timeoutMs)
    : m_login(std::move(login))
    , m_project(std::move(project))
    , m_timeoutMs(timeoutMs)
{
}

ServerSessions::Outcome ServerSessions::run(const QString& admin, const QString& password, const QString& endId)
{
    const QString station = m_login.userName;
    const QString broker = QStringLiteral("%1:%2").arg(m_login.host).arg(m_login.port);
    // The broker would throw off a connection with the same client id: this one is the tool's own.
    m_login.clientId = QStringLiteral("kalvora-users-%1").arg(QRandomGenerator::system()->generate64(), 0, 16);
    MqttClient client;
    client.setSettings(m_login);
    const KalvoraTopics topics(m_project);
    RequestClient requests(client, topics, station, nullptr);
    requests.setTimeoutMs(m_timeoutMs);

    QEventLoop loop;
    Outcome outcome;
    // The first failure is the one told.
    const auto note = [&](int code, const QString& error) {
        if (outcome.error.isEmpty())
            outcome = {code, outcome.lines, error};
    };
    const auto finish = [&](int code, const QString& error) {
        note(code, error);
        loop.exit();
    };
    // The server's refusal, or no server at all: the latter is told apart for scripts.
    const auto refused = [&](const QString& what, const BusReply& reply) {
        const bool away = !client.isConnected() || reply.reason == RequestClient::noServer() || reply.reason == RequestClient::noAnswer();
        note(away ? Unreachable : 1, away ? QStringLiteral("%1 at the server of project %2 via %3: %4").arg(what, m_project, broker, reply.reason)
                                          : QStringLiteral("%1 refused: %2").arg(what, reply.reason));
    };

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] { finish(Unreachable, QStringLiteral("no answer from the broker %1").arg(broker)); });
    QObject::connect(&client, &MqttClient::connectFailed, &loop, [&](const QString& reason, bool) {
        finish(Unreachable, QStringLiteral("cannot log in to the broker %1 as station \"%2\": %3").arg(broker, station, reason));
    });
    QObject::connect(&client, &MqttClient::disconnected, &loop, [&](const QString& reason) {
        requests.failAll(QStringLiteral("the broker %1 closed the connection: %2").arg(broker, reason));
    });
    QObject::connect(&client, &MqttClient::messageReceived, &loop, [&](const MqttMessage& m) { requests.handle(m); });

    const auto signOut = [&] {
        BusRequest q;
        q.op = BusRequest::Op::SignOut;
        q.user = admin;
        requests.send(q, &loop, [&](const BusReply&) { loop.exit(); });
    };
    const auto command = [&] {
        BusRequest q;
        q.op = endId.isEmpty() ? BusRequest::Op::Sessions : BusRequest::Op::EndSession;
        q.user = admin;
        q.id = endId;
        requests.send(q, &loop, [&, op = BusRequest::opName(q.op)](const BusReply& reply) {
            if (!reply.ok) {
                refused(op, reply);
            } else if (endId.isEmpty()) {
                outcome.lines << QStringLiteral("id\tuser\tstation\trole\tlocked");
                for (const QJsonValue& s : reply.fields.value(QStringLiteral("sessions")).toArray())
                    outcome.lines << QStringList{s[QStringLiteral("id")].toString(), s[QStringLiteral("user")].toString(),
                                         s[QStringLiteral("station")].toString(), s[QStringLiteral("role")].toString(),
                                         s[QStringLiteral("locked")].toBool() ? QStringLiteral("yes") : QStringLiteral("no")}
                                         .join(u'\t');
            } else {
                outcome.lines << QStringLiteral("done");
            }
            // Signed out whatever the command's answer, so the tool leaves no session behind.
            signOut();
        });
    };
    QObject::connect(&client, &MqttClient::subscribed, &loop, [&](int, const QList<int>& granted) {
        if (granted.value(0, 128) >= 128)
            return finish(1, QStringLiteral("the broker %1 does not let station \"%2\" read %3").arg(broker, station, requests.responseTopic()));
        deadline.stop();
        requests.setAvailable(true);
        BusRequest q;
        q.op = BusRequest::Op::SignIn;
        q.user = admin;
        q.password = password;
        requests.send(q, &loop, [&](const BusReply& reply) {
            if (!reply.ok) {
                refused(QStringLiteral("sign-in"), reply);
                return loop.exit();
            }
            requests.setSession(reply.fields.value(QStringLiteral("session")).toString());
            command();
        });
    });
    QObject::connect(&client, &MqttClient::connected, &loop, [&] { client.subscribe(requests.responseTopic(), 1); });

    client.connectToBroker();
    deadline.start(m_timeoutMs);
    loop.exec();
    if (client.isConnected())
        client.disconnectFromBroker();
    return outcome;
}
