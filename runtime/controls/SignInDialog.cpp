#include "SignInDialog.h"

#include "Credentials.h"
#include "Runtime.h"
#include "TextDatabase.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

SignInDialog::SignInDialog(Runtime& runtime, const QString& reason, QWidget* parent)
    : QDialog(parent)
    , m_runtime(runtime)
    , m_user(new QLineEdit(this))
    , m_password(new QLineEdit(this))
    , m_message(new QLabel(this))
{
    setWindowTitle(runtime.texts().indexText("AnmeldenTitel"));
    setObjectName(QStringLiteral("SignInDialog"));
    auto* why = new QLabel(runtime.texts().indexText("AnmeldenHinweis"), this);
    why->setWordWrap(true);
    // The rule that refused, as the runtime words it for the journal: for the engineer, in grey.
    auto* rule = new QLabel(reason, this);
    rule->setWordWrap(true);
    rule->setStyleSheet(QStringLiteral("color: #606060"));
    rule->setVisible(!reason.isEmpty());
    m_user->setMaxLength(Credentials::maxUserNameLength);
    m_password->setEchoMode(QLineEdit::Password);
    // A pasted megabyte is cut here already; the runtime refuses anything above the limit in bytes.
    m_password->setMaxLength(Credentials::maxPasswordBytes + 1);
    m_message->setStyleSheet(QStringLiteral("color: #b00000"));
    m_message->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow(runtime.texts().indexText("AnmeldenBenutzer"), m_user);
    form->addRow(runtime.texts().indexText("AnmeldenPasswort"), m_password);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_ok->setText(runtime.texts().indexText("AnmeldenOk"));
    buttons->button(QDialogButtonBox::Cancel)->setText(runtime.texts().indexText("AnmeldenAbbrechen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &SignInDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SignInDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(why);
    layout->addWidget(rule);
    layout->addLayout(form);
    layout->addWidget(m_message);
    layout->addWidget(buttons);
    if (const Session* s = m_runtime.localSession())
        m_user->setText(s->userName);
    (m_user->text().isEmpty() ? m_user : m_password)->setFocus();
    setMinimumWidth(360);
    connect(&m_runtime, &Runtime::signInFinished, this, &SignInDialog::finished);
}

void SignInDialog::accept()
{
    if (m_waiting)
        return;
    m_waiting = true;
    setBusy(true);
    m_message->setStyleSheet(QStringLiteral("color: #606060"));
    m_message->setText(m_runtime.texts().indexText("AnmeldenPruefen"));
    m_runtime.signIn(m_user->text(), m_password->text());
}

void SignInDialog::finished(const QString& error)
{
    // Another dialog's answer, or one that came after Cancel.
    if (!m_waiting)
        return;
    m_waiting = false;
    setBusy(false);
    m_password->clear();
    if (!error.isEmpty()) {
        m_message->setStyleSheet(QStringLiteral("color: #b00000"));
        m_message->setText(error);
        m_password->setFocus();
        return;
    }
    QDialog::accept();
}

void SignInDialog::setBusy(bool busy)
{
    m_user->setEnabled(!busy);
    m_password->setEnabled(!busy);
    m_ok->setEnabled(!busy);
}

void SignInDialog::reject()
{
    m_waiting = false;
    m_runtime.cancelSignIn();
    QDialog::reject();
}
