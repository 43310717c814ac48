#include "KalvoraApplication.h"

#include "TopLevelError.h"

KalvoraApplication::KalvoraApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool KalvoraApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        TopLevelError::report(TopLevelError::describe(std::current_exception()));
        return true;
    }
}
