#pragma once

#include "KalvoraError.h"

#include <QString>

#include <exception>
#include <functional>
#include <utility>

/// The program's top-level error handling. A failure that no handler traps ends up here: the installed
/// reporter shows it and ends the program. Tests install a reporter that only records.
namespace TopLevelError {

using Reporter = std::function<void(const QString& message)>;

/// Replaces the reporter; returns the previous one so a test can put it back.
Reporter setReporter(Reporter reporter);

/// Hands one failure to the reporter. Failures reported while an earlier one is still being reported
/// are only logged, so a message box that runs an event loop cannot stack up further boxes.
void report(const QString& message);

QString describe(const std::exception_ptr& failure);

/// Runs an entry point (an event handler, a timer tick, a control event) so that a failure abandons the
/// rest of it and goes to the top level instead of unwinding through the toolkit.
template <class F>
void guarded(F&& handler) noexcept
{
    try {
        std::forward<F>(handler)();
    } catch (...) {
        report(describe(std::current_exception()));
    }
}

/// Runs a step whose failures the program deliberately ignores; returns whether it succeeded.
template <class F>
bool ignoringErrors(F&& step) noexcept
{
    try {
        std::forward<F>(step)();
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace TopLevelError
