#pragma once

#include "Window.h"

class ScreenHost;

/// \brief The trend chooser dialog, shown modally by the free-trend screen.
///
/// Its four language-dependent captions follow the last language switch on every opening, although
/// each closing discards the dialog; the window object keeps which language that was.
class frmSelection final : public Window {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmSelection)

public:
    frmSelection(ScreenHost& host, WindowManager& manager);

    /// Sets caption, fraAll, fraSelected and cmdAbort for the language (1031 or 1033), in that order,
    /// and keeps them for later openings.
    void setLanguageTexts(int languageId);

protected:
    Qt::WindowFlags windowFlags() const override;
    void onLoad() override;
    void onCloseRequest() override;

private:
    void applyLanguageTexts();

    ScreenHost& m_host;
    int m_textLanguage = 0;
};
