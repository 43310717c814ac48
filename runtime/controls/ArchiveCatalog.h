#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class ArchiveTrendInfo;
class Runtime;

/// \brief The runtime's archive catalogue as the trend chooser uses it: the archives, the trends of
/// one archive and one trend's details. Names are compared exactly, letter case included; the lists
/// come in the project's order.
class ArchiveCatalog final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveCatalog)

public:
    explicit ArchiveCatalog(Runtime& runtime, QObject* parent);

    /// Replaces `names` with the names of all archives; returns their count.
    qint32 GetArchives(QStringList& names) const;
    /// Replaces `names` with the trends recorded in `archive` (none for an unknown archive); returns
    /// their count.
    qint32 GetTrends(const QString& archive, QStringList& names) const;
    /// The details of one trend, owned by this catalogue. Throws KalvoraError naming archive and trend
    /// when the archive has no such trend.
    ArchiveTrendInfo* GetTrendInfo(const QString& archive, const QString& trend);
    /// As GetTrendInfo, but null instead of throwing when the archive has no such trend.
    ArchiveTrendInfo* findTrendInfo(const QString& archive, const QString& trend);

private:
    Runtime& m_runtime;
};
