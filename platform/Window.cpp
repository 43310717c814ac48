#include "Window.h"

#include "LayoutLoader.h"
#include "TopLevelError.h"
#include "WindowManager.h"

#include <QEvent>
#include <QEventLoop>
#include <QResizeEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include <memory>

Window::Window(WindowManager& manager, QString name, QObject* parent)
    : QObject(parent)
    , m_manager(manager)
    , m_name(std::move(name))
{
    setObjectName(m_name);
}

Window::~Window()
{
    delete m_widget;
    delete m_unloadedDuringModal;
}

bool Window::isVisible() const
{
    return m_widget && m_widget->isVisible();
}

QWidget& Window::widget()
{
    if (!m_widget)
        load();
    return *m_widget;
}

QWidget& Window::controlWidget(const QString& controlName)
{
    QWidget& top = widget();
    if (auto* found = top.findChild<QWidget*>(controlName))
        return *found;
    throw KalvoraError(QStringLiteral("%1 has no control named \"%2\" (layout %3)")
                           .arg(m_name, controlName, m_manager.layoutPath(m_name)));
}

void Window::wrongClass(const QString& controlName, const QWidget& found, const char* expected) const
{
    throw KalvoraError(QStringLiteral("Control \"%1\" on %2 is a %3, not a %4")
                           .arg(controlName, m_name, QString::fromLatin1(found.metaObject()->className()),
                                QString::fromLatin1(expected)));
}

void Window::load()
{
    std::unique_ptr<QWidget> built = m_manager.loader().load(m_manager.layoutPath(m_name));
    built->setWindowFlags(windowFlags());
    if (placement() == Placement::Centred)
        built->setFixedSize(built->size());
    // Qt holds back the resize events of widgets that are not shown. The controls get their first
    // sizing now, so a window loaded hidden is laid out as it will be seen (parents before children).
    for (QWidget* control : built->findChildren<QWidget*>()) {
        if (control->testAttribute(Qt::WA_PendingResizeEvent)) {
            control->setAttribute(Qt::WA_PendingResizeEvent, false);
            QResizeEvent sized(control->size(), QSize());
            QCoreApplication::sendEvent(control, &sized);
        }
    }
    built->installEventFilter(this);
    m_widget = built.release();
    m_placed = false;
    m_manager.noteLoaded(*this);
    onLoad();
}

void Window::place(QWidget& widget)
{
    QScreen* screen = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
    const QRect display = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    if (placement() == Placement::Maximised) {
        widget.setGeometry(display);
        widget.setWindowState(widget.windowState() | Qt::WindowMaximized);
    } else {
        widget.move(display.x() + (display.width() - widget.width()) / 2,
                    display.y() + (display.height() - widget.height()) / 2);
    }
}

void Window::activate()
{
    QWidget& w = *m_widget;
    // The headless platform cannot raise windows and says so on every call.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        w.raise();
    m_manager.noteActivationRequested(*this, w);
    w.activateWindow();
    if (m_manager.noteActivated(*this))
        onActivate();
}

void Window::show()
{
    QWidget& w = widget();
    if (!m_placed) {
        place(w);
        m_placed = true;
    }
    w.show();
    Q_EMIT m_manager.windowEvent(this, WindowManager::Event::Shown);
    activate();
}

void Window::showModal()
{
    QWidget& w = widget();
    if (m_modalLoop)
        throw KalvoraError(QStringLiteral("%1 is already shown modally").arg(m_name));
    w.setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    m_modalLoop = &loop;
    show();
    // The activation handler may already have closed the window.
    if (m_widget == &w && w.isVisible())
        loop.exec(QEventLoop::DialogExec);
    m_modalLoop = nullptr;
    delete std::exchange(m_unloadedDuringModal, nullptr);
}

void Window::hide()
{
    QWidget& w = widget();
    w.hide();
    m_manager.noteHidden(*this);
    if (m_modalLoop)
        m_modalLoop->quit();
}

void Window::unload()
{
    if (!m_widget)
        return;
    QWidget* dying = std::exchange(m_widget, nullptr);
    dying->removeEventFilter(this);
    m_manager.noteUnloaded(*this);
    if (m_modalLoop) {
        // The modal loop still runs inside a handler of this widget tree; it goes when the loop returns.
        dying->hide();
        m_unloadedDuringModal = dying;
        m_modalLoop->quit();
        return;
    }
    delete dying;
}

void Window::setFocus()
{
    QWidget& w = widget();
    if (!w.isVisible())
        throw KalvoraError(QStringLiteral("%1 cannot take the focus while it is not visible").arg(m_name));
    activate();
}

void Window::activatedByWindowSystem()
{
    // Reports arrive late and may answer requests the program has acted on already: only a change the
    // window system made by itself runs the handler, once, in the order the reports come.
    if (m_manager.noteReportedActive(*this) && isVisible() && m_manager.noteActivated(*this))
        onActivate();
}

void Window::onCloseRequest()
{
    Q_EMIT m_manager.closeRequested(this);
}

bool Window::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_widget)
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        TopLevelError::guarded([this] { onResize(); });
        return false;
    case QEvent::WindowActivate:
        TopLevelError::guarded([this] { activatedByWindowSystem(); });
        return false;
    case QEvent::Close:
        event->ignore();
        TopLevelError::guarded([this] { onCloseRequest(); });
        return true;
    default:
        return false;
    }
}
