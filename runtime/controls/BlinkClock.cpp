#include "BlinkClock.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
QPointer<BlinkClock> theClock;
}

BlinkClock::BlinkClock(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(halfPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_on = !m_on;
        Q_EMIT toggled(m_on);
    });
}

BlinkClock& BlinkClock::instance()
{
    if (!theClock)
        theClock = new BlinkClock(QCoreApplication::instance());
    return *theClock;
}

void BlinkClock::subscribe()
{
    if (m_subscribers++ == 0) {
        m_on = true;
        m_timer.start();
    }
}

void BlinkClock::unsubscribe()
{
    if (m_subscribers > 0 && --m_subscribers == 0) {
        m_timer.stop();
        m_on = true;
    }
}

BlinkClock::Subscription::Subscription()
{
    instance().subscribe();
}

BlinkClock::Subscription::~Subscription()
{
    // The application may already have taken the clock with it.
    if (theClock)
        theClock->unsubscribe();
}
