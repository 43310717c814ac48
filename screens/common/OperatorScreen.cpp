#include "OperatorScreen.h"

#include "QMButton.h"
#include "ScreenHost.h"
#include "TimerControl.h"
#include "TopLevelError.h"

OperatorScreen::OperatorScreen(ScreenHost& host, WindowManager& manager, const QString& name, Command ownCommand,
                               std::initializer_list<Move> moves)
    : Window(manager, name)
    , m_host(host)
    , m_ownCommand(ownCommand)
    , m_moves(moves)
{
}

void OperatorScreen::onLoad()
{
    wireBar();
    connect(&control<TimerControl>(QStringLiteral("Timer1")), &TimerControl::tick, this,
            [this] { TopLevelError::guarded([this] { tick(); }); });
    onScreenLoad();
}

void OperatorScreen::wireBar()
{
    auto& bar = control<QMButton>(QStringLiteral("QMButton1"));
    const auto handle = [this, &bar](void (QMButton::*signal)(), std::uint8_t code) {
        // A screen's own button is shown like the others but not handled.
        if (code != m_ownCommand)
            connect(&bar, signal, this, [this, code] { click(code); });
    };
    handle(&QMButton::Button1Click, CommandGerman);
    handle(&QMButton::Button2Click, CommandEnglish);
    handle(&QMButton::Button5Click, CommandPlantOverview);
    handle(&QMButton::Button6Click, CommandAlarms);
    handle(&QMButton::Button7Click, CommandTrends);
    handle(&QMButton::Button8Click, CommandFreeTrends);
    handle(&QMButton::Button12Click, CommandExit);
}

void OperatorScreen::click(std::uint8_t code)
{
    m_host.setPendingCommand(code);
    control<TimerControl>(QStringLiteral("Timer1")).start();
}

void OperatorScreen::tick()
{
    control<TimerControl>(QStringLiteral("Timer1")).stop();
    const std::uint8_t code = m_host.PendingCommand();
    switch (code) {
    case CommandGerman:
    case CommandEnglish: {
        const int language = code == CommandGerman ? LanguageGerman : LanguageEnglish;
        if (m_host.switchLanguage(*this, language))
            afterLanguageSwitch(language);
        return;
    }
    case CommandExit:
        m_host.ShutdownApplication();
        return; // this screen has been unloaded
    default:
        break;
    }
    for (const Move& move : m_moves) {
        if (move.command != code)
            continue;
        m_host.window(QString::fromLatin1(move.target)).show();
        if (move.unloadThisScreen)
            unload();
        return;
    }
}
