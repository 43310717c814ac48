#include "frmBack.h"

#include "QMSShape.h"
#include "ScreenHost.h"
#include "TopLevelError.h"
#include "Twips.h"

#include <QEvent>

frmBack::frmBack(ScreenHost& host, WindowManager& manager)
    : Window(manager, QStringLiteral("frmBack"))
    , m_host(host)
{
}

Qt::WindowFlags frmBack::windowFlags() const
{
    // Stays below the screens: a click on the background must not cover the screen in front.
    return Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint;
}

void frmBack::onLoad()
{
    QWidget& w = widget();
    QPalette palette = w.palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Button));
    w.setPalette(palette);
    w.setAutoFillBackground(true);
}

void frmBack::onResize()
{
    auto& shape = control<QMSShape>(QStringLiteral("QMSShape1"));
    const QWidget& window = widget();
    Twips::setWidth(shape, shapeWidth);
    Twips::setHeight(shape, shapeHeight);
    Twips::setLeft(shape, (Twips::outerWidth(window) - Twips::width(shape)) / 2.0F);
    Twips::setTop(shape, (Twips::outerHeight(window) - Twips::height(shape)) / 2.0F);
}

void frmBack::onActivate()
{
    // Whatever goes wrong (no current screen, a hidden or unloaded one) leaves the focus here.
    TopLevelError::ignoringErrors([this] {
        Window* current = m_host.CurrentScreen();
        if (!current)
            throw KalvoraError(QStringLiteral("There is no current screen"));
        current->setFocus();
    });
}

bool frmBack::eventFilter(QObject* watched, QEvent* event)
{
    if (isLoaded() && watched == &widget()) {
        if (event->type() == QEvent::MouseButtonPress)
            widget().activateWindow(); // without a window manager a click activates nothing by itself
    }
    return Window::eventFilter(watched, event);
}
