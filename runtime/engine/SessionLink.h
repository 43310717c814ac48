#pragma once

#include "Session.h"

#include <QObject>
#include <QString>

#include <functional>

/// \brief A station's sign-in at its server: the server checks the password and every command's
/// role; the station holds the session it was given (in memory only) and hears when it locks or ends.
class SessionLink : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SessionLink)

public:
    ~SessionLink() override = default;

    /// Whether the server runs the project with access control; false until it has said so.
    virtual bool isControlled() const = 0;
    /// The station's session as the server issued it; null while nobody is signed in.
    virtual const Session* session() const = 0;
    /// Asks the server; signInFinished() follows from the event loop, also when refused at once.
    virtual void signIn(const QString& userName, const QString& password) = 0;
    virtual void signOut() = 0;

Q_SIGNALS:
    void signInFinished(const QString& error);
    /// The session began, locked or ended.
    void sessionChanged();
    /// The server ended the session (an administrator, its age): `reason` is the server's.
    void sessionEnded(const QString& reason);
    /// The server refused a command for want of a role; `retry` sends it again with the session
    /// then held.
    void signInRequired(const QString& reason, const std::function<void()>& retry);

protected:
    explicit SessionLink(QObject* parent)
        : QObject(parent)
    {
    }
};
