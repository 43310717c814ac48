#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

/// \brief The thread both archives pack on: it runs `step` while steps pack something, then waits for
/// wake() (or `every`, where the archive has no one to wake it), backs off while the store is busy or
/// failing, and tells a fault once. The store-specific work (connection, which span, the transaction)
/// is in the hooks, all called on the thread.
class PackingLoop final {
public:
    enum class Outcome {
        Packed,     ///< packed something; go on at once
        NothingDue, ///< done until woken
        Busy,       ///< the store is locked for now; try again after the busy back-off
        Failed,     ///< try again after the fault back-off (or when woken, without one)
    };
    struct Step {
        Outcome outcome = Outcome::NothingDue;
        QString fault; ///< with Failed
    };
    struct Hooks {
        std::function<Step()> step;
        std::function<void(const QString&)> failed; ///< a fault not told before
        std::function<void()> finish;               ///< before the thread ends
    };
    struct Timing {
        std::chrono::milliseconds busyBackOff{100};
        std::optional<std::chrono::milliseconds> faultBackOff; ///< none: wait to be woken
        std::optional<std::chrono::milliseconds> every;        ///< none: only when woken
    };

    PackingLoop(Hooks hooks, Timing timing);
    ~PackingLoop();
    PackingLoop(const PackingLoop&) = delete;
    PackingLoop& operator=(const PackingLoop&) = delete;

    void wake();
    /// While paused the loop takes no step (the archive holds a long transaction of its own).
    void pause(bool paused);
    /// Wakes the loop and waits until nothing is due (`throughFaults`: or a step failed); false after
    /// `timeoutMs`.
    bool waitIdle(int timeoutMs, bool throughFaults = true);
    /// Steps that packed something since start.
    qint64 packedCount() const;

private:
    void run();

    Hooks m_hooks;
    Timing m_timing;
    mutable std::mutex m_mutex;
    std::condition_variable m_wakeUp;
    std::condition_variable m_idleNow;
    bool m_stop = false;
    bool m_paused = false;
    bool m_woken = true;
    bool m_idle = false;
    bool m_failed = false;
    qint64 m_packed = 0;
    std::thread m_thread;
};
