#include "WindowManager.h"

#include "Window.h"

#include <QCoreApplication>
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
