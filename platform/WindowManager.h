#pragma once

#include <QList>
#include <QObject>
#include <QString>

class LayoutLoader;
class QWidget;
class Window;

/// \brief The program's windows as the window system sees them: the loaded windows in load order, the
/// active window, where layouts are found, and the processing of pending messages.
class WindowManager final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowManager)

public:
    enum class Event { Loaded, Shown, Hidden, Unloaded, Activated };
    Q_ENUM(Event)

    WindowManager(const LayoutLoader& loader, QString layoutsDirectory, QObject* parent = nullptr);
    ~WindowManager() override;

    const LayoutLoader& loader() const { return m_loader; }
    QString layoutPath(const QString& windowName) const;

    /// The loaded windows, oldest load first.
    const QList<Window*>& loadedWindows() const { return m_loaded; }
    Window* activeWindow() const { return m_active; }

    /// Delivers every pending window message once (paints, timer ticks, runtime events), so that what was
    /// just shown is on the display before the caller goes on.
    void processMessages();

Q_SIGNALS:
    void windowEvent(Window* window, WindowManager::Event event);
    void messagesProcessed();
    /// The window system asked to close a window (close button, Alt+F4). The program decides.
    void closeRequested(Window* window);

private:
    friend class Window;
    void noteLoaded(Window& window);
    void noteUnloaded(Window& window);
    void noteHidden(Window& window);
    /// Makes the window the active one; true when it was not active before.
    bool noteActivated(Window& window);
    /// The program is about to ask the window system to activate the widget of the window.
    void noteActivationRequested(Window& window, const QWidget& widget);
    /// The window system reports the window active. False when the report only answers an earlier
    /// request of the program (already acted on, or overtaken by a later one); true when the window
    /// system made the change by itself (a click, Alt+Tab, a dialog closing).
    bool noteReportedActive(Window& window);

    const LayoutLoader& m_loader;
    QString m_layoutsDirectory;
    QList<Window*> m_loaded;
    Window* m_active = nullptr;
    /// Activations the program asked for whose reports have not arrived yet, oldest first.
    QList<Window*> m_requested;
};
