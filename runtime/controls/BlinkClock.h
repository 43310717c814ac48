#pragma once

#include <QObject>
#include <QTimer>

/// \brief The one blink rhythm of the application: every control that flashes an unacknowledged alarm
/// follows it, so all of them flash together and one timer serves them all.
///
/// The timer runs only while at least one control holds a subscription.
class BlinkClock final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BlinkClock)

public:
    /// Half a period: about 1 Hz, calm enough to read the text while it flashes.
    static constexpr int halfPeriodMs = 500;

    /// The application's clock; created on first use and owned by the application object.
    static BlinkClock& instance();

    /// True in the bright half of the period.
    bool isOn() const { return m_on; }

    /// Holds the clock running from construction to destruction.
    class Subscription final {
    public:
        Subscription();
        ~Subscription();
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
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
