#include "ArchiveCatalog.h"

#include "ArchiveStore.h"
#include "ArchiveTrendInfo.h"
#include "KalvoraError.h"
#include "Runtime.h"

ArchiveCatalog::ArchiveCatalog(Runtime& runtime, QObject* parent)
    : QObject(parent)
    , m_runtime(runtime)
{
}

qint32 ArchiveCatalog::GetArchives(QStringList& names) const
{
    names = m_runtime.archive().archiveNames();
    return static_cast<qint32>(names.size());
}

qint32 ArchiveCatalog::GetTrends(const QString& archive, QStringList& names) const
{
    names = m_runtime.archive().trendNames(archive);
    return static_cast<qint32>(names.size());
}

ArchiveTrendInfo* ArchiveCatalog::GetTrendInfo(const QString& archive, const QString& trend)
{
    if (ArchiveTrendInfo* info = findTrendInfo(archive, trend))
        return info;
    throw KalvoraError(QStringLiteral("The archive \"%1\" has no trend \"%2\"").arg(archive, trend));
}

ArchiveTrendInfo* ArchiveCatalog::findTrendInfo(const QString& archive, const QString& trend)
{
    const TrendDefinition* definition = m_runtime.archive().trend(archive, trend);
    return definition ? new ArchiveTrendInfo(archive, *definition, this) : nullptr;
}
