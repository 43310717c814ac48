#include "KalvoraTopics.h"

#include <QRegularExpression>

KalvoraTopics::KalvoraTopics(QString project)
    : m_prefix(QStringLiteral("kalvora/%1/").arg(project))
    , m_project(std::move(project))
{
}

bool KalvoraTopics::isValidLevel(const QString& level)
{
    return !level.isEmpty() && !level.contains(u'/') && !level.contains(u'+') && !level.contains(u'#') && !level.contains(QChar(u'\0'));
}

bool KalvoraTopics::isValidStation(const QString& station)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern.match(station).hasMatch() && station != QLatin1String("server");
}

QString KalvoraTopics::server() const
{
    return m_prefix + QStringLiteral("server");
}

QString KalvoraTopics::alarm(const QString& id) const
{
    return m_prefix + QStringLiteral("alarms/") + id;
}

QString KalvoraTopics::alarmsFilter() const
{
    return m_prefix + QStringLiteral("alarms/+");
}

QString KalvoraTopics::request(const QString& station) const
{
    return m_prefix + QStringLiteral("request/") + station;
}

QString KalvoraTopics::requestsFilter() const
{
    return m_prefix + QStringLiteral("request/+");
}

QString KalvoraTopics::response(const QString& station) const
{
    return m_prefix + QStringLiteral("response/") + station;
}

namespace {

QString lastLevelAfter(const QString& topic, const QString& prefix)
{
    if (!topic.startsWith(prefix))
        return {};
    const QString rest = topic.mid(prefix.size());
    return KalvoraTopics::isValidLevel(rest) ? rest : QString();
}

} // namespace

QString KalvoraTopics::stationOfRequest(const QString& topic) const
{
    return lastLevelAfter(topic, m_prefix + QStringLiteral("request/"));
}

QString KalvoraTopics::alarmOf(const QString& topic) const
{
    return lastLevelAfter(topic, m_prefix + QStringLiteral("alarms/"));
}
