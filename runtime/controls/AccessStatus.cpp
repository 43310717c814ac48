#include "AccessStatus.h"

#include "Runtime.h"
#include "SignInDialog.h"
#include "TextDatabase.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

const char* const BaseTitle = "kalvoraBaseTitle";

const char* roleKey(Role role)
{
    switch (role) {
    case Role::Viewer: return "RolleBetrachter";
    case Role::Operator: return "RolleBediener";
    case Role::Engineer: return "RolleIngenieur";
    case Role::Administrator: return "RolleAdministrator";
    }
    return "";
}

} // namespace

AccessStatus::AccessStatus(Runtime& runtime, QObject* parent)
    : QObject(parent)
    , m_runtime(runtime)
{
    qApp->installEventFilter(this);
    connect(&m_runtime, &Runtime::sessionChanged, this, &AccessStatus::updateTitles);
    connect(&m_runtime, &Runtime::started, this, &AccessStatus::updateTitles);
    connect(&m_runtime.texts(), &TextDatabase::languageChanged, this, &AccessStatus::updateTitles);
    connect(&m_runtime, &Runtime::signInRequired, this, &AccessStatus::askToSignIn);
    // Told in the title until the next sign-in, where the operator looks for who is signed in.
    connect(&m_runtime, &Runtime::sessionEnded, this, [this](const QString& reason) {
        m_endedReason = reason;
        updateTitles();
    });
}

QString AccessStatus::titleSuffix()
{
    if (!m_runtime.isAccessControlled())
        return {};
    // In the screens' language, like every text the operator reads.
    const TextDatabase& texts = m_runtime.texts();
    const Session* s = m_runtime.localSession();
    if (s)
        m_endedReason.clear();
    if (!s && !m_endedReason.isEmpty())
        return QStringLiteral(" — %1 (%2: %3)").arg(texts.indexText("AnmeldungKeine"), texts.indexText("AnmeldungBeendet"), m_endedReason);
    if (!s)
        return QStringLiteral(" — ") + texts.indexText("AnmeldungKeine");
    return QStringLiteral(" — %1 %2%3")
        .arg(texts.indexText(roleKey(s->role)), s->userName, s->locked ? QStringLiteral(" (%1)").arg(texts.indexText("AnmeldungGesperrt")) : QString());
}

void AccessStatus::askToSignIn(const QString& reason)
{
    if (m_dialog) {
        m_dialog->raise();
        m_dialog->activateWindow();
        return;
    }
    m_dialog = new SignInDialog(m_runtime, reason, QApplication::activeWindow());
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->open();
}

bool AccessStatus::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && m_runtime.isAccessControlled()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_L && (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) == (Qt::ControlModifier | Qt::AltModifier)) {
            const Session* s = m_runtime.localSession();
            if (s && !s->locked)
                m_runtime.signOut();
            else
                askToSignIn({});
            return true;
        }
    }
    if (!watched->isWidgetType() || !static_cast<QWidget*>(watched)->isWindow())
        return false;
    auto* window = static_cast<QWidget*>(watched);
    // A window shown later carries the status from the start.
    if (event->type() == QEvent::Show)
        retitle(window, titleSuffix());
    // A window that sets a title of its own (the language switch does) gets it as its new base.
    if (event->type() == QEvent::WindowTitleChange && !m_retitling && window->property(BaseTitle).isValid()) {
        window->setProperty(BaseTitle, window->windowTitle());
        retitle(window, titleSuffix());
    }
    return false;
}

void AccessStatus::updateTitles()
{
    const QString suffix = titleSuffix();
    for (QWidget* window : QApplication::topLevelWidgets())
        retitle(window, suffix);
}

void AccessStatus::retitle(QWidget* window, const QString& suffix)
{
    if (window == m_dialog)
        return;
    QVariant base = window->property(BaseTitle);
    if (!base.isValid()) {
        if (suffix.isEmpty())
            return;
        base = window->windowTitle();
        window->setProperty(BaseTitle, base);
    }
    const QString title = base.toString() + suffix;
    if (window->windowTitle() != title) {
        m_retitling = true;
        window->setWindowTitle(title);
        m_retitling = false;
    }
}
