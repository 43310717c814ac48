#pragma once

#include "Role.h"

#include <QByteArray>
#include <QString>

/// One operator account as the accounts file keeps it.
struct Account {
    QString userName;
    QString fullName;
    Role role = Role::Viewer;
    QByteArray passwordHash; ///< Argon2id hash text
    int failedSignIns = 0;   ///< failed sign-ins in a row since the last success or lock
    qint64 lockedUntilMs = 0; ///< the account refuses every sign-in before this time; 0 when not locked
};
