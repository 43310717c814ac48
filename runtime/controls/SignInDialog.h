#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class Runtime;

/// \brief Asks the operator for user name and password and signs in through the runtime, which then
/// carries out the action that needed the role. The password is never shown; a refusal is told in the
/// dialog, which stays open for another try. Cancelling drops the waiting action.
class SignInDialog final : public QDialog {
    Q_OBJECT

public:
    /// `reason`: why signing in is asked for (the refused action), shown above the fields.
    SignInDialog(Runtime& runtime, const QString& reason, QWidget* parent = nullptr);

    void accept() override;
    void reject() override;

private:
    Runtime& m_runtime;
    QLineEdit* m_user;
    QLineEdit* m_password;
    QLabel* m_message;
};
