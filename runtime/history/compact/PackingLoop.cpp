#include "PackingLoop.h"

PackingLoop::PackingLoop(Hooks hooks, Timing timing)
    : m_hooks(std::move(hooks))
    , m_timing(timing)
    , m_thread([this] { run(); })
{
}

PackingLoop::~PackingLoop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wakeUp.notify_all();
    m_thread.join();
}

void PackingLoop::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
        m_idle = false;
    }
    m_wakeUp.notify_all();
}

void PackingLoop::pause(bool paused)
{
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
        m_woken = true;
        m_idle = false;
    }
    m_wakeUp.notify_all();
}

qint64 PackingLoop::packedCount() const
{
    std::lock_guard lock(m_mutex);
    return m_packed;
}

bool PackingLoop::waitIdle(int timeoutMs, bool throughFaults)
{
    wake();
    std::unique_lock lock(m_mutex);
    return m_idleNow.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return (m_idle && (throughFaults || !m_failed)) || m_stop; });
}

void PackingLoop::run()
{
    QString told;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        if (m_paused || !m_woken) {
            const auto ready = [&] { return m_stop || (m_woken && !m_paused); };
            if (m_timing.every && !m_paused)
                m_woken = m_wakeUp.wait_for(lock, *m_timing.every, ready) || !m_paused;
            else
                m_wakeUp.wait(lock, ready);
            continue;
        }
        lock.unlock();
        Step step;
        try {
            step = m_hooks.step();
        } catch (const std::exception& e) {
            step = {Outcome::Failed, QString::fromUtf8(e.what())};
        } catch (...) {
            step = {Outcome::Failed, QStringLiteral("unknown error")};
        }
        if (step.outcome == Outcome::Failed && step.fault != told && m_hooks.failed)
            m_hooks.failed(step.fault);
        lock.lock();
        switch (step.outcome) {
        case Outcome::Packed:
            ++m_packed;
            continue;
        case Outcome::Busy:
            m_wakeUp.wait_for(lock, m_timing.busyBackOff, [&] { return m_stop; });
            continue;
        case Outcome::Failed:
        case Outcome::NothingDue:
            told = step.outcome == Outcome::Failed ? step.fault : QString();
            m_failed = step.outcome == Outcome::Failed;
            m_woken = false;
            m_idle = true;
            m_idleNow.notify_all();
            if (step.outcome == Outcome::Failed && m_timing.faultBackOff) {
                m_wakeUp.wait_for(lock, *m_timing.faultBackOff, [&] { return m_stop; });
                m_woken = true;
            }
            continue;
        }
    }
    lock.unlock();
    if (m_hooks.finish)
        m_hooks.finish();
}
