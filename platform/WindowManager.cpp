#include "WindowManager.h"

#include "Window.h"

#include <QApplication>
#include <QDir>

WindowManager::WindowManager(const LayoutLoader& loader, QString layoutsDirectory, QObject* parent)
    : QObject(parent)
    , m_loader(loader)
    , m_layoutsDirectory(std::move(layoutsDirectory))
{
    // Layouts name their pictures and stored bags as "layouts:<file>".
    QDir::setSearchPaths(QStringLiteral("layouts"), {m_layoutsDirectory});
}

WindowManager::~WindowManager() = default;

QString WindowManager::layoutPath(const QString& windowName) const
{
    return QDir(m_layoutsDirectory).filePath(windowName + QStringLiteral(".ui"));
}

void WindowManager::processMessages()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    Q_EMIT messagesProcessed();
}

void WindowManager::noteLoaded(Window& window)
{
    m_loaded.append(&window);
    Q_EMIT windowEvent(&window, Event::Loaded);
}

void WindowManager::noteUnloaded(Window& window)
{
    m_loaded.removeOne(&window);
    m_requested.removeAll(&window);
    if (m_active == &window)
        m_active = nullptr;
    Q_EMIT windowEvent(&window, Event::Unloaded);
}

void WindowManager::noteHidden(Window& window)
{
    if (m_active == &window)
        m_active = nullptr;
    Q_EMIT windowEvent(&window, Event::Hidden);
}

bool WindowManager::noteActivated(Window& window)
{
    if (m_active == &window)
        return false;
    m_active = &window;
    Q_EMIT windowEvent(&window, Event::Activated);
    return true;
}

void WindowManager::noteActivationRequested(Window& window, const QWidget& widget)
{
    // Asking for the window that is active already brings no report, unless others are still on the way.
    if (m_requested.isEmpty() && QApplication::activeWindow() == &widget)
        return;
    m_requested.append(&window);
}

bool WindowManager::noteReportedActive(Window& window)
{
    // Reports come in the order of the requests. The program ran each handler when it asked, so the
    // report of a request, and of every request before it, changes nothing now.
    const qsizetype answered = m_requested.indexOf(&window);
    if (answered >= 0) {
        m_requested.remove(0, answered + 1);
        return false;
    }
    // The window system went its own way; what the program asked before has been overtaken.
    m_requested.clear();
    return true;
}
