#pragma once

#include <QTimer>
#include <QWidget>

/// \brief The standard timer control of a window: invisible, configured in the layout (interval, and
/// whether it runs from the moment the window loads), ticking while it runs.
class TimerControl final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TimerControl)
    Q_PROPERTY(int interval READ interval WRITE setInterval)
    Q_PROPERTY(bool running READ isRunning WRITE setRunning)

public:
    explicit TimerControl(QWidget* parent = nullptr);

    int interval() const { return m_timer.interval(); }
    void setInterval(int milliseconds);
    bool isRunning() const { return m_running; }
    void setRunning(bool running);
    void start() { setRunning(true); }
    void stop() { setRunning(false); }

Q_SIGNALS:
    void tick();

private:
    void apply();

    QTimer m_timer;
    bool m_running = false;
};
