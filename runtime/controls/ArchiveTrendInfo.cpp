#include "ArchiveTrendInfo.h"

#include "Project.h"

ArchiveTrendInfo::ArchiveTrendInfo(QString archive, const TrendDefinition& trend, QObject* parent)
    : QObject(parent)
    , m_archive(std::move(archive))
    , m_trend(trend.name)
    , m_rangeMin(trend.rangeMin)
    , m_rangeMax(trend.rangeMax)
    , m_variable(trend.variable)
    , m_unit(trend.unit)
{
}
