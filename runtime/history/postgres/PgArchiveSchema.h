#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class PgConnection;

/// \brief The archive's tables on a PostgreSQL server: the trend catalogue, the samples and their
/// rollup cells (both partitioned by month of sample time, so retention drops whole months), the plant
/// state, and `kalvora_meta` with the schema version. open() creates or upgrades them and refuses a
/// schema newer than this program or a table altered by hand, naming table and column.
///
/// Tools read through one view per archive, `history_<archive>` (archive, trend, time timestamptz,
/// value), and the view `history` over all of them; the role `kalvora_reader` may read those and
/// nothing else.
class PgArchiveSchema final {
public:
    static constexpr int SchemaVersion = 4;
    static constexpr int Levels = 4;
    /// Rollup cells of 10 s, 1 min, 10 min and 1 h, stored as level 0..3.
    static constexpr std::array<qint64, Levels> StepMs{10'000, 60'000, 600'000, 3'600'000};
    static constexpr const char* ReaderRole = "kalvora_reader";

    /// Creates or upgrades the tables and checks them; an empty text on success.
    static QString open(PgConnection& c);
    /// Registers archives' trends (archive, trend pairs) and returns their ids in the same order, or
    /// an error in `error`. Creates or refreshes the views.
    static QList<int> bindTrends(PgConnection& c, const QList<std::pair<QString, QString>>& trends, QString* error);
    /// Makes sure the month partitions holding [t0, t1] exist.
    static QString ensurePartitions(PgConnection& c, qint64 t0, qint64 t1);
    /// The month partitions of the samples, oldest first, as (name, upper bound in ms).
    static QList<std::pair<QString, qint64>> partitions(PgConnection& c, QString* error);
    /// The first millisecond of the month (UTC) holding `t`, and of the month after it.
    static qint64 monthStart(qint64 t);
    static qint64 nextMonth(qint64 t);
    /// The partition name suffix of the month starting at `monthStartMs`, e.g. `202612`.
    static QString monthKey(qint64 monthStartMs);
};
