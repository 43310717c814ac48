#pragma once

#include "MqttClient.h"

#include <QString>
#include <QStringList>

/// \brief An administrator's look at the server's sessions: connects to the broker with a station's
/// log-in but a client id of its own (the running station keeps its connection), signs in, lists the
/// sessions or ends one, and signs out again.
class ServerSessions final {
public:
    /// Exit code when the broker or the server cannot be reached or does not answer.
    static constexpr int Unreachable = 4;

    struct Outcome {
        int code = 0;
        QStringList lines; ///< what to print on success
        QString error;     ///< why it failed, when code is not 0
    };

    ServerSessions(MqttSettings login, QString project, int timeoutMs);

    /// `endId` empty: list the sessions; otherwise end the session with that public id.
    Outcome run(const QString& admin, const QString& password, const QString& endId);

private:
    MqttSettings m_login;
    QString m_project;
    int m_timeoutMs;
};
