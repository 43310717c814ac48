#include "TopLevelError.h"

#include <QDebug>

namespace TopLevelError {
namespace {

Reporter& reporter()
{
    static Reporter instance = [](const QString& message) { qCritical().noquote() << "Kalvora:" << message; };
    return instance;
}

bool& reporting()
{
    static bool active = false;
    return active;
}

} // namespace

Reporter setReporter(Reporter replacement)
{
    return std::exchange(reporter(), std::move(replacement));
}

void report(const QString& message)
{
    if (reporting()) {
        qCritical().noquote() << "Kalvora (further failure while reporting):" << message;
        return;
    }
    reporting() = true;
    try {
        reporter()(message);
    } catch (...) {
        qCritical().noquote() << "Kalvora: the error report itself failed:" << message;
    }
    reporting() = false;
}

QString describe(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const KalvoraError& e) {
        return e.message();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("Out of memory");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown failure");
    }
}

} // namespace TopLevelError
