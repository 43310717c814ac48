#pragma once

#include "KalvoraError.h"

#include <QObject>
#include <QString>
#include <QWidget>

class QEventLoop;
class WindowManager;

/// \brief One window of the program. The object lives for the whole run; its widget tree comes and goes.
///
/// Any reference to the window (its widget, a control, showing, focusing) loads it from its layout
/// first if it is not loaded; loading reads the layout file afresh and then runs the load handler.
/// Showing makes it visible, front and active and runs the activation handler when it was not the
/// active window. Hiding keeps everything; unloading destroys the widgets.
class Window : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Window)

public:
    enum class Placement { Centred, Maximised };

    Window(WindowManager& manager, QString name, QObject* parent = nullptr);
    ~Window() override;

    const QString& name() const { return m_name; }
    bool isLoaded() const { return m_widget != nullptr; }
    /// Whether the window is loaded and shown; not a reference, so it never loads.
    bool isVisible() const;

    QWidget& widget();
    QWidget& controlWidget(const QString& controlName);
    template <class T>
    T& control(const QString& controlName);

    void show();
    /// Shows the window modally and returns when it has been hidden or unloaded.
    void showModal();
    void hide();
    void unload();
    /// Makes the window the active one; fails when it is not visible.
    void setFocus();

protected:
    WindowManager& manager() const { return m_manager; }
    virtual Placement placement() const { return Placement::Centred; }
    virtual Qt::WindowFlags windowFlags() const { return Qt::Window | Qt::FramelessWindowHint; }

    virtual void onLoad() {}
    virtual void onActivate() {}
    virtual void onResize() {}
    /// The window system asks to close the window. By default the program decides (closeRequested).
    virtual void onCloseRequest();

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    /// The window system reports this window active (a click on it, Alt+Tab, a dialog closing): unless
    /// the report only answers the program's own request, it becomes the active window and runs its
    /// activation handler if it was not active before.
    void activatedByWindowSystem();
    /// Raises the window, asks the window system to activate it and makes it the active window.
    void activate();
    void load();
    void place(QWidget& widget);
    [[noreturn]] void wrongClass(const QString& controlName, const QWidget& found, const char* expected) const;

    WindowManager& m_manager;
    const QString m_name;
    QWidget* m_widget = nullptr;
    bool m_placed = false;
    QEventLoop* m_modalLoop = nullptr;
    QWidget* m_unloadedDuringModal = nullptr;
};

template <class T>
T& Window::control(const QString& controlName)
{
    QWidget& found = controlWidget(controlName);
    if (auto* typed = qobject_cast<T*>(&found))
        return *typed;
    wrongClass(controlName, found, T::staticMetaObject.className());
}
