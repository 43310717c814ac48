#include "frmSelection.h"

#include "Commands.h"
#include "ScreenHost.h"

#include <QGroupBox>
#include <QPushButton>

frmSelection::frmSelection(ScreenHost& host, WindowManager& manager)
    : Window(manager, QStringLiteral("frmSelection"))
    , m_host(host)
{
}

Qt::WindowFlags frmSelection::windowFlags() const
{
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

void frmSelection::onLoad()
{
    applyLanguageTexts();
    m_host.setCurrentScreen(*this);
}

void frmSelection::setLanguageTexts(int languageId)
{
    m_textLanguage = languageId;
    applyLanguageTexts();
}

void frmSelection::applyLanguageTexts()
{
    if (m_textLanguage == 0)
        return; // no switch yet: the stored captions stand
    const bool german = m_textLanguage == LanguageGerman;
    widget().setWindowTitle(german ? QStringLiteral("Trendauswahl") : QStringLiteral("Trend Selection"));
    control<QGroupBox>(QStringLiteral("fraAll")).setTitle(german ? QStringLiteral("Vorhandene Trends") : QStringLiteral("Existing Trends"));
    control<QGroupBox>(QStringLiteral("fraSelected"))
        .setTitle(german ? QStringLiteral("Ausgewählte Trends:") : QStringLiteral("Selected Trends:"));
    control<QPushButton>(QStringLiteral("cmdAbort")).setText(german ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel"));
}

void frmSelection::onCloseRequest()
{
    // Closing the dialog from its title bar is a cancel, as an operator expects of a dialog.
    unload();
}
