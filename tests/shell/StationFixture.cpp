#include "StationFixture.h"

#include "Fonts.h"
#include "QMButton.h"
#include "QMSKey.h"
#include "TimerControl.h"
#include "TopLevelError.h"
#include "Window.h"

#include <QTest>

StationFixture::StationFixture(const QString& projectsRoot)
{
    Fonts::registerLayoutFaces();
    RuntimeOptions options;
    options.projectsRoot = projectsRoot;
    options.dataDirectory = m_data.path();
    options.realTime = false;
    options.backfillHours = 0;
    m_runtime = std::make_unique<Runtime>(options);
    m_shell = std::make_unique<Shell>(*m_runtime, Shell::Options{QString(), [this](int code) {
                                                                      m_endings.append(code);
                                                                      m_log.append(QStringLiteral("end %1").arg(code));
                                                                  }});
    TopLevelError::setReporter([this](const QString& message) { m_errors.append(message); });
    QObject::connect(&m_shell->windows(), &WindowManager::windowEvent, m_shell.get(), [this](Window* w, WindowManager::Event e) {
        static const char* const names[] = {"load", "show", "hide", "unload", "activate"};
        m_log.append(QStringLiteral("%1 %2").arg(QString::fromLatin1(names[static_cast<int>(e)]), w->name()));
    });
    QObject::connect(&m_shell->windows(), &WindowManager::messagesProcessed, m_shell.get(),
                     [this] { m_log.append(QStringLiteral("messages")); });
    QObject::connect(m_runtime.get(), &Runtime::stopped, m_shell.get(), [this] { m_log.append(QStringLiteral("runtime stopped")); });
}

StationFixture::~StationFixture()
{
    m_shell.reset();
    m_runtime->stop();
}

bool StationFixture::startUp()
{
    m_shell->start();
    return QTest::qWaitFor([this] { return m_shell->phase() == Shell::Phase::Running || !m_endings.isEmpty()
                    || m_runtime->state() == Runtime::State::Failed; }, 20000)
        && m_shell->phase() == Shell::Phase::Running;
}

QStringList StationFixture::loaded() const
{
    QStringList names;
    for (const Window* w : m_shell->windows().loadedWindows())
        names.append(w->name());
    return names;
}

void StationFixture::press(const QString& screen, int button)
{
    m_shell->window(screen).control<QMButton>(QStringLiteral("QMButton1")).key(button - 1).click();
}

void StationFixture::pressAndWait(const QString& screen, int button)
{
    Window& w = m_shell->window(screen);
    press(screen, button);
    // The tick stops the timer (or unloads the screen with it); either way the command has run.
    [[maybe_unused]] const bool ticked = QTest::qWaitFor([&] { return !w.isLoaded() || !w.control<TimerControl>(QStringLiteral("Timer1")).isRunning(); }, 2000);
    QTest::qWait(5);
}
