#include "FStart.h"

#include "QMStart.h"
#include "Shell.h"
#include "TopLevelError.h"

FStart::FStart(Shell& shell, WindowManager& manager)
    : Window(manager, QStringLiteral("FStart"))
    , m_shell(shell)
{
}

void FStart::onLoad()
{
    auto& start = control<QMStart>(QStringLiteral("QMStart1"));
    connect(&start, &QMStart::RuntimeStarted, this, [this] { TopLevelError::guarded([this] { m_shell.RuntimeStarted(); }); });
    connect(&start, &QMStart::RuntimeStopped, this, [this] { TopLevelError::guarded([this] { m_shell.RuntimeStopped(); }); });
}
