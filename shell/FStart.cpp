#include "FStart.h"

#include "ProjectLoader.h"
#include "QMStart.h"
#include "Runtime.h"
#include "Shell.h"
#include "TopLevelError.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>

#include <cstdio>

namespace {

/// A script that started the station learns why it did not come up without looking at the screen.
void tellConsole(const QString& reason)
{
    std::fprintf(stderr, "Kalvora: start failed: %s\n", qPrintable(reason));
    std::fflush(stderr);
}

} // namespace

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
    connect(&m_shell.runtime(), &Runtime::startFailed, &start, [](const QString& reason) { tellConsole(reason); });
    // A missing help text only leaves the alarm screen's help pane empty: said, not refused.
    connect(&m_shell.runtime(), &Runtime::started, &start, [this] {
        const QString html = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("html"));
        for (const QString& notice : ProjectLoader::missingHelpFiles(m_shell.runtime().project(), html))
            std::fprintf(stderr, "Kalvora: notice: %s\n", qPrintable(notice));
    });

    const QString fault = m_shell.startFault();
    if (fault.isEmpty())
        return;
    tellConsole(fault);
    // The start control tells how the runtime is doing; a broken layout is told over it, in the same
    // place and colour as the control's own failures, because no screen will come.
    auto* notice = new QLabel(tr("Start fehlgeschlagen:\n%1").arg(fault), &start);
    notice->setObjectName(QStringLiteral("lblStartFault"));
    notice->setWordWrap(true);
    notice->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notice->setTextFormat(Qt::PlainText);
    notice->setAutoFillBackground(true);
    QPalette palette = notice->palette();
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    palette.setColor(QPalette::WindowText, QColor(170, 20, 20));
    notice->setPalette(palette);
    const int band = start.height() * 2 / 5;
    notice->setGeometry(24, band + 16, start.width() - 48, start.height() - band - 32);
    notice->show();
}
