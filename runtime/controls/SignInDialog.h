#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class Runtime;

/// \brief Asks the operator for user name and password and signs in through the runtime, which then
/// carries out the action that needed the role. The password is never shown; while it is checked the
/// dialog says so and takes no second try, and the screens go on updating; a refusal is told in the
/// dialog, which stays open for another try. Cancelling drops the waiting action.
class SignInDialog final : public QDialog {
    Q_OBJECT

public:
    /// `reason`: why signing in is asked for (the refused action), shown above the fields.
    SignInDialog(Runtime& runtime, const QString& reason, QWidget* parent = nullptr);

    void accept() override;
    void reject() override;

private:
    void finished(const QString& error);
    void setBusy(bool busy);

    Runtime& m_runtime;
    QPushButton* m_ok = nullptr;
    bool m_waiting = false;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLabel* m_message;
};
