#include "FCentral.h"

#include "OutletRules.h"
#include "QMSBar.h"
#include "QMSFill.h"
#include "QMSSwitch.h"
#include "ScreenHost.h"
#include "TopLevelError.h"
#include "Runtime.h"
#include "TextDatabase.h"

#include <QLabel>
#include <QTimer>

namespace {
constexpr int NoteMilliseconds = 8000;
}

FCentral::FCentral(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FCentral"), CommandPlantOverview,
                     {{CommandAlarms, "FAlarms", false},
                      {CommandTrends, "FTrends", false},
                      {CommandFreeTrends, "frmTrendSelection", false}})
{
}

void FCentral::onScreenLoad()
{
    host().setCurrentScreen(*this);
    wireOutletRules();
    if (!m_noteTimer) {
        m_noteTimer = new QTimer(this);
        m_noteTimer->setSingleShot(true);
        m_noteTimer->setInterval(NoteMilliseconds);
        connect(m_noteTimer, &QTimer::timeout, this, [this] {
            if (m_note)
                m_note->hide();
        });
        connect(&host().runtime(), &Runtime::writeFailed, this, &FCentral::showWriteFailure);
    }
}

void FCentral::showWriteFailure(const QString& variable, const QString& reason)
{
    if (!isLoaded())
        return;
    if (!m_note) {
        m_note = new QLabel(&widget());
        m_note->setObjectName(QStringLiteral("lblWriteFailure"));
        m_note->setWordWrap(true);
        m_note->setStyleSheet(QStringLiteral("background: #fff4c2; color: #000; border: 2px solid #d60093; padding: 6px;"));
        m_note->setGeometry(262, 8, 500, 56);
    }
    const QString format = host().runtime().texts().indexText("SchreibfehlerHinweis");
    m_note->setText(format.contains(QLatin1String("%1")) ? format.arg(variable, reason) : variable + QStringLiteral(": ") + reason);
    m_note->show();
    m_note->raise();
    m_noteTimer->start();
}

void FCentral::wireOutletRules()
{
    // Every input is read from its control when a rule runs, never kept.
    const auto fill = [this](const char* name) {
        return [this, name] { return QVariant(control<QMSFill>(QString::fromLatin1(name)).FillActive()); };
    };
    const OutletRules::Inputs inputs{
        [this] { return QVariant(control<QMSSwitch>(QStringLiteral("swtWaterValve")).SwitchState()); },
        [this] { return control<QMSBar>(QStringLiteral("barWaterLevel")).BarValue(); },
        fill("fllCondensation11"),
        fill("fllCondensation21"),
        fill("fllCondensation31"),
    };
    const auto rule = [this, inputs](std::int32_t (*apply)(const OutletRules::Inputs&)) {
        return [this, inputs, apply] {
            TopLevelError::guarded([&] {
                const std::int32_t outlet = apply(inputs);
                control<QMSFill>(QStringLiteral("fllWaterOut")).setFillActive(outlet);
            });
        };
    };
    connect(&control<QMSBar>(QStringLiteral("barWaterLevel")), &QMSBar::ValueChanged, this, rule(&OutletRules::levelRule));
    for (const char* segment : {"fllCondensation11", "fllCondensation21", "fllCondensation31"})
        connect(&control<QMSFill>(QString::fromLatin1(segment)), &QMSFill::ValueChanged, this, rule(&OutletRules::condensateRule));
    connect(&control<QMSSwitch>(QStringLiteral("swtWaterValve")), &QMSSwitch::StateChanged, this, rule(&OutletRules::valveRule));
}

void FCentral::onActivate()
{
    host().setCurrentScreen(*this);
    controlWidget(QStringLiteral("swtBoiler1")).setFocus();
}
