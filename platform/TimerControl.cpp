#include "TimerControl.h"

#include <algorithm>

TimerControl::TimerControl(QWidget* parent)
    : QWidget(parent)
{
    setVisible(false);
    setAttribute(Qt::WA_DontShowOnScreen);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TimerControl::tick);
}

void TimerControl::setInterval(int milliseconds)
{
    m_timer.setInterval(std::max(0, milliseconds));
    apply();
}

void TimerControl::setRunning(bool running)
{
    m_running = running;
    apply();
}

void TimerControl::apply()
{
    // A timer with interval 0 stays stopped, as a freshly placed timer control does.
    if (m_running && m_timer.interval() > 0) {
        if (!m_timer.isActive())
            m_timer.start();
    } else {
        m_timer.stop();
    }
}
