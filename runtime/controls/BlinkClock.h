#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class Runtime;

/// \brief The blink rhythm of one runtime: every control that flashes an unacknowledged alarm follows
/// it, so all of them flash together and one timer serves them all.
///
/// It lives as a child of the runtime, like the pipes' flow clock, so two runtimes (two tests) never
/// share blink state. The timer runs only while at least one control holds a subscription.
class BlinkClock final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BlinkClock)

public:
    /// Half a period: about 1 Hz, calm enough to read the text while it flashes.
    static constexpr int halfPeriodMs = 500;

    /// The runtime's clock, made on first use; it goes with the runtime.
    static BlinkClock& of(Runtime& runtime);

    /// True in the bright half of the period.
    bool isOn() const { return m_on; }

    /// Holds the clock running from construction to destruction.
    class Subscription final {
    public:
        explicit Subscription(BlinkClock& clock);
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;

    private:
        QPointer<BlinkClock> m_clock;
    };

    /// How many subscriptions run the clock now.
    int subscribers() const { return m_subscribers; }
    /// Whether the timer runs; for tests.
    bool isRunning() const { return m_timer.isActive(); }

Q_SIGNALS:
    void toggled(bool on);

private:
    explicit BlinkClock(QObject* parent);
    void subscribe();
    void unsubscribe();

    QTimer m_timer;
    bool m_on = true;
    int m_subscribers = 0;
};
