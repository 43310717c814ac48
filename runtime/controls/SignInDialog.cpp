#include "SignInDialog.h"

#include "Credentials.h"
#include "Runtime.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

SignInDialog::SignInDialog(Runtime& runtime, const QString& reason, QWidget* parent)
    : QDialog(parent)
    , m_runtime(runtime)
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
    , m_message(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Anmelden"));
    setObjectName(QStringLiteral("SignInDialog"));
    auto* why = new QLabel(reason.isEmpty() ? QStringLiteral("Anmelden, um die Anlage zu bedienen.") : reason, this);
    why->setWordWrap(true);
    m_user->setMaxLength(Credentials::maxUserNameLength);
    m_password->setEchoMode(QLineEdit::Password);
    // A pasted megabyte is cut here already; the runtime refuses anything above the limit in bytes.
    m_password->setMaxLength(Credentials::maxPasswordBytes + 1);
    m_message->setStyleSheet(QStringLiteral("color: #b00000"));
    m_message->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Benutzer"), m_user);
    form->addRow(QStringLiteral("Passwort"), m_password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &SignInDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SignInDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(why);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    if (const Session* s = m_runtime.localSession())
        m_user->setText(s->userName);
    (m_user->text().isEmpty() ? m_user : m_password)->setFocus();
    setMinimumWidth(360);
}

void SignInDialog::accept()
{
    const QString error = m_runtime.signIn(m_user->text(), m_password->text());
    m_password->clear();
    if (!error.isEmpty()) {
        m_message->setText(error);
        return;
    }
    QDialog::accept();
}

void SignInDialog::reject()
{
    m_runtime.cancelSignIn();
    QDialog::reject();
}
