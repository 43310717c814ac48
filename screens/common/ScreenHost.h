#pragma once

#include <QString>

#include <cstdint>

class Runtime;
class Window;

/// \brief What a screen may ask of the program around it: other windows by name, the two program-wide
/// values, the language switch and the orderly shutdown. Screens never know each other's classes.
class ScreenHost {
public:
    virtual ~ScreenHost() = default;

    /// The window of that name; created (and so loaded) on first reference.
    virtual Window& window(const QString& name) = 0;

    virtual Window* CurrentScreen() const = 0;
    virtual void setCurrentScreen(Window& window) = 0;

    virtual std::uint8_t PendingCommand() const = 0;
    virtual void setPendingCommand(std::uint8_t code) = 0;

    /// Switches every screen and the trend chooser to the language, as asked on `source`; returns
    /// false when `source` already showed it and nothing was done.
    virtual bool switchLanguage(Window& source, int languageId) = 0;

    virtual void ShutdownApplication() = 0;

    virtual Runtime& runtime() = 0;
};
