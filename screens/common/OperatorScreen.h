#pragma once

#include "Commands.h"
#include "Window.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

class ScreenHost;

/// \brief Common ground of the four operator screens: the navigation bar `QMButton1`, the command timer
/// `Timer1` and the deferred command dispatch.
///
/// A handled bar click stores its code in PendingCommand and starts Timer1, nothing else. The next
/// tick stops the timer, reads PendingCommand once and carries the command out as the screen's table
/// of moves says; it touches nothing of the screen afterwards, because the command may have unloaded it.
class OperatorScreen : public Window {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(OperatorScreen)

public:
    /// One row of a screen's dispatch table for the screen-change commands.
    struct Move {
        std::uint8_t command;
        const char* target;
        bool unloadThisScreen;
    };

protected:
    OperatorScreen(ScreenHost& host, WindowManager& manager, const QString& name, Command ownCommand,
                   std::initializer_list<Move> moves);

    ScreenHost& host() const { return m_host; }

    void onLoad() final;
    /// The screen's own load handler, run after the bar and the timer are wired.
    virtual void onScreenLoad() {}
    /// Runs after a language switch commanded on this screen actually changed the language.
    virtual void afterLanguageSwitch(int /*languageId*/) {}

private:
    void wireBar();
    void click(std::uint8_t code);
    void tick();

    ScreenHost& m_host;
    const Command m_ownCommand;
    const std::vector<Move> m_moves;
};
