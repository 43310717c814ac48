#pragma once

#include <QApplication>

#include <functional>

/// \brief The application object: the last line of the top-level error handling. A failure that
/// escapes an event handler is reported like any other instead of unwinding through the toolkit.
class KalvoraApplication final : public QApplication {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KalvoraApplication)

public:
    KalvoraApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
