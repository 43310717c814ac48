#pragma once

#include "RuntimeControl.h"

#include <QString>

/// \brief The runtime start control. Creating it starts the runtime project named in its stored
/// configuration; while the runtime starts it shows the plant name and what is being done, and on
/// failure the reason, and stays.
class QMStart final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMStart)
    Q_PROPERTY(QString projectName READ projectName WRITE setProjectName)

public:
    QMStart(Runtime& runtime, QWidget* parent);

    QString projectName() const { return m_projectName; }
    void setProjectName(const QString& name);

    /// Asks the runtime to stop; RuntimeStopped follows.
    void StopRuntime();

    QString statusText() const { return m_status; }
    bool hasFailed() const { return m_failed; }

Q_SIGNALS:
    void RuntimeStarted();
    void RuntimeStopped();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void startRuntime();
    void setStatus(const QString& text, bool failed = false);

    QString m_projectName;
    QString m_status;
    bool m_failed = false;
};
