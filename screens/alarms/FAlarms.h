#pragma once

#include "OperatorScreen.h"

#include <QString>

/// \brief The alarm screen: the two alarm lists with their acknowledge keys and the help pane.
///
/// `Textout` holds the help text in force without its language suffix. A help topic is used exactly
/// as the list delivers it as long as it names a file directly inside the help folder; a topic that
/// would reach anywhere else (a separator, "..", a drive, a control character) loads nothing, as a
/// missing file does, and is logged.
class FAlarms final : public OperatorScreen {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FAlarms)

public:
    FAlarms(ScreenHost& host, WindowManager& manager);

    const QString& Textout() const { return m_textout; }

    /// Loads `Textout` in the language into the help pane; a failed load keeps the pane as it was.
    void reloadHelpText(int languageId);

    /// The help file the last load asked for, and whether it filled the pane.
    const QString& lastHelpFile() const { return m_lastHelpFile; }
    bool lastHelpLoaded() const { return m_lastHelpLoaded; }

    /// Whether a file name lies directly in the help folder: no separator, "..", drive, control
    /// character or NUL.
    static bool isPlainFileName(const QString& name);
    /// The help folder below the application directory, asked for afresh.
    static QString helpFolder();

protected:
    void onScreenLoad() override;
    void onActivate() override;
    void afterLanguageSwitch(int languageId) override;

private:
    void alarmSelected(const QString& topic);
    void loadHelpText(const QString& file);
    bool readIntoPane(const QString& file);
    int languageId();

    QString m_textout;
    QString m_lastHelpFile;
    bool m_lastHelpLoaded = false;
};
