#include "FAlarms.h"

#include "QMLanguage.h"
#include "QMSAlarmList.h"
#include "QMSKey.h"
#include "RegularFile.h"
#include "RtfReader.h"
#include "ScreenHost.h"
#include "TopLevelError.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTextBrowser>
#include <QTextDocument>

namespace {
Q_LOGGING_CATEGORY(helpLog, "kalvora.alarms.help")

// A help text is a page or two; anything far larger is not one of ours and is not read whole.
constexpr qint64 maxHelpFileBytes = 16 * 1024 * 1024;

const QString startBase = QStringLiteral("start");

QString suffix(int languageId)
{
    return languageId == LanguageGerman ? QStringLiteral("de.rtf") : QStringLiteral("eng.rtf");
}
} // namespace

FAlarms::FAlarms(ScreenHost& host, WindowManager& manager)
    : OperatorScreen(host, manager, QStringLiteral("FAlarms"), CommandAlarms,
                     {{CommandPlantOverview, "FCentral", true},
                      {CommandTrends, "FTrends", true},
                      // The alarm screen stays loaded under the free trends, so a return finds it as it was.
                      {CommandFreeTrends, "frmTrendSelection", false}})
{
}

QString FAlarms::helpFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/html");
}

int FAlarms::languageId()
{
    return control<QMLanguage>(QStringLiteral("qmSprache")).LanguageId();
}

void FAlarms::onScreenLoad()
{
    host().setCurrentScreen(*this);
    m_textout = helpFolder() + QLatin1Char('/') + startBase;
    const int language = languageId();
    if (language == LanguageGerman || language == LanguageEnglish)
        loadHelpText(m_textout + suffix(language));

    for (const char* name : {"QMAlarmList1", "QMAlarmList2"})
        connect(&control<QMSAlarmList>(QString::fromLatin1(name)), &QMSAlarmList::AlarmSelected, this,
                [this](qint32, const QString&, const QString&, const QByteArray&, const QString& topic, qint32) {
                    TopLevelError::guarded([&] { alarmSelected(topic); });
                });
    const auto acknowledgeWith = [this](const char* key, const char* list) {
        connect(&control<QMSKey>(QString::fromLatin1(key)), &QMSKey::Click, this, [this, list] {
            TopLevelError::guarded([&] { control<QMSAlarmList>(QString::fromLatin1(list)).Acknowledge(); });
        });
    };
    acknowledgeWith("QMKey1", "QMAlarmList1");
    acknowledgeWith("QMKey2", "QMAlarmList2");
}

void FAlarms::onActivate()
{
    controlWidget(QStringLiteral("QMAlarmList1")).setFocus();
}

void FAlarms::alarmSelected(const QString& topic)
{
    const int language = languageId();
    if (language != LanguageGerman && language != LanguageEnglish)
        return;
    m_textout = helpFolder() + QLatin1Char('/') + topic;
    loadHelpText(m_textout + suffix(language));
}

void FAlarms::afterLanguageSwitch(int languageId)
{
    reloadHelpText(languageId);
}

void FAlarms::reloadHelpText(int languageId)
{
    if (languageId == LanguageGerman || languageId == LanguageEnglish)
        loadHelpText(m_textout + suffix(languageId));
}

bool FAlarms::isPlainFileName(const QString& name)
{
    if (name.isEmpty() || name.contains(QStringLiteral("..")))
        return false;
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        if (u == u'/' || u == u'\\' || u == u':' || u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
            return false;
    }
    return true;
}

void FAlarms::loadHelpText(const QString& file)
{
    m_lastHelpFile = file;
    m_lastHelpLoaded = false;
    // Loading a help text ignores every failure: the pane keeps what it showed.
    TopLevelError::ignoringErrors([&] {
        const QString folder = helpFolder() + QLatin1Char('/');
        if (!file.startsWith(folder) || !isPlainFileName(file.mid(folder.size()))) {
            qCWarning(helpLog).noquote() << "help text refused, it lies outside" << helpFolder() << ":"
                                         << QString::fromLatin1(file.toUtf8().toPercentEncoding("/ :"));
            return;
        }
        m_lastHelpLoaded = readIntoPane(file);
    });
}

bool FAlarms::readIntoPane(const QString& file)
{
    const RegularFile::Content content = RegularFile::read(file, maxHelpFileBytes);
    if (!content.ok()) {
        // A missing file is the usual case of a topic without help; anything else is worth a line.
        if (!content.missing)
            qCWarning(helpLog).noquote() << "help text not read:" << content.message(file);
        return false;
    }
    const QByteArray& bytes = content.bytes;
    auto& pane = control<QTextBrowser>(QStringLiteral("RTB"));
    auto* fresh = new QTextDocument(&pane);
    if (!RtfReader::read(bytes, *fresh).ok) {
        delete fresh;
        return false;
    }
    // Documents of earlier loads belong to the pane; the browser's own first one it deletes itself
    // when replaced, so ask whose it is before replacing it.
    QTextDocument* old = pane.document();
    const bool ours = old->parent() == &pane;
    pane.setDocument(fresh);
    if (ours)
        delete old;
    return true;
}
