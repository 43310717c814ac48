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
}

QString AccessStatus::titleSuffix()
{
    if (m_runtime.access().isOpen())
        return {};
    // In the screens' language, like every text the operator reads.
    const TextDatabase& texts = m_runtime.texts();
    const Session* s = m_runtime.localSession();
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
    if (event->type() == QEvent::KeyPress && !m_runtime.access().isOpen()) {
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
    // A window shown later carries the status from the start.
    if (event->type() == QEvent::Show && watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        retitle(static_cast<QWidget*>(watched), titleSuffix());
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
    if (window->windowTitle() != title)
        window->setWindowTitle(title);
}
