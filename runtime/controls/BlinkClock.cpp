#include "BlinkClock.h"

#include "Runtime.h"

BlinkClock::BlinkClock(QObject* parent)
    : QObject(parent)
{
    m_timer.setInterval(halfPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_on = !m_on;
        Q_EMIT toggled(m_on);
    });
}

BlinkClock& BlinkClock::of(Runtime& runtime)
{
    if (auto* clock = runtime.findChild<BlinkClock*>(QString(), Qt::FindDirectChildrenOnly))
        return *clock;
    return *new BlinkClock(&runtime);
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

BlinkClock::Subscription::Subscription(BlinkClock& clock)
    : m_clock(&clock)
{
    clock.subscribe();
}

BlinkClock::Subscription::~Subscription()
{
    // The runtime may already have taken the clock with it.
    if (m_clock)
        m_clock->unsubscribe();
}
