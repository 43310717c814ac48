#pragma once

#include "Role.h"

#include <QByteArray>
#include <QString>

/// One signed-in user at one station.
struct Session {
    QByteArray id;    ///< public name of the session (16 hex digits), safe to list and to end by
    QByteArray token; ///< secret (64 hex digits) that the station presents with each command
    QString userName;
    Role role = Role::Viewer;
    QString station;
    qint64 issuedMs = 0;
    qint64 lastActivityMs = 0;
    bool locked = false; ///< idle too long: still names its user, but permits no operating
};
