#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <span>
#include <vector>

struct PackedSample;

class PgConnection;
class PgResult;

/// One sample for the server archive: a trend id from PgArchiveSchema::bindTrends().
struct PgSample {
    int trend = 0;
    qint64 timeMs = 0;
    double value = 0.0;
};

/// \brief Writes batches of samples into the archive on a PostgreSQL server: the samples by COPY and
/// their rollup cells of every level in the same transaction, so a batch is wholly there or not at
/// all. A sample written again replaces the value and its cells are computed afresh. Retention drops
/// whole month partitions.
class PgArchiveWriter final {
public:
    explicit PgArchiveWriter(PgConnection& connection)
        : m_c(connection)
    {
    }

    /// Writes `batch` (any order; values that are not finite numbers are left out) and, if not empty, the plant state, in one transaction. An empty text
    /// on success; otherwise why not, and nothing of the batch is written.
    QString write(std::vector<PgSample> batch, const QByteArray& plantState = {});
    /// Writes the samples of one trend's hour that holds nothing yet as its block, with the cells of the
    /// levels a block does not stand for, in one transaction. The samples are in time order.
    QString writeBlock(int trend, qint64 start, std::span<const PackedSample> samples);
    /// Drops the month partitions whose every sample is older than `cutoffMs`; `dropped` receives how
    /// many months went.
    QString dropBefore(qint64 cutoffMs, int* dropped = nullptr);
    /// Forgets what it knows of the server (partitions made, temporary tables); after a reconnect.
    void reset() { m_months.clear(), m_last.clear(), m_prepared = false; }

private:
    QString prepare();
    QString ensureMonths(qint64 t0, qint64 t1);
    QString learnLast(const std::vector<PgSample>& sorted);
    /// Locks the batch's trends against the packer and turns blocks the batch writes into back into rows.
    PgResult unpackTouched(const std::vector<PgSample>& sorted, qint64* unpacked);
    PgResult writeOnce(const std::vector<PgSample>& sorted, const QByteArray& plantState, bool append);
    PgResult appendSamples(const std::vector<PgSample>& sorted);
    PgResult mergeSamples(const std::vector<PgSample>& sorted, qint64* replaced);
    PgResult writeCells(const std::vector<PgSample>& sorted, bool append, int firstLevel = 0);

    PgConnection& m_c;
    QSet<qint64> m_months;
    /// The latest sample time stored per trend, as far as this writer knows: samples after it are new,
    /// and so are the cells that start after it.
    QHash<int, qint64> m_last;
    bool m_prepared = false;
};
