#pragma once

#include <QObject>
#include <QPointer>


class Runtime;
#include "SignInDialog.h"

/// \brief The station's side of access control, for every window at once: who is signed in, with
/// which role, stands in each window's title (the fixed layouts stay untouched, nothing covers
/// them); an action refused for want of a role opens the sign-in dialog; Ctrl+Alt+L signs in, or out
/// when signed in, on any screen. A project without access control shows nothing of it.
class AccessStatus final : public QObject {
    Q_OBJECT

public:
    explicit AccessStatus(Runtime& runtime, QObject* parent = nullptr);

    /// The text added to each window's title: " — operator anna" or " — operator anna (gesperrt)" or
    /// " — nicht angemeldet" (with the reason when the session was ended from elsewhere); empty while
    /// the project runs open.
    QString titleSuffix();
    /// Opens the sign-in dialog (one at a time) with `reason` above the fields.
    void askToSignIn(const QString& reason);
    SignInDialog* dialog() const { return m_dialog; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void updateTitles();
    void retitle(QWidget* window, const QString& suffix);

    Runtime& m_runtime;
    QPointer<SignInDialog> m_dialog;
    /// Why the server or the runtime ended the session; shown until the next sign-in.
    QString m_endedReason;
    bool m_retitling = false;
};
