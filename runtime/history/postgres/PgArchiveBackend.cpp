#include "PgArchiveBackend.h"

#include "HistoryLog.h"
#include "KalvoraError.h"
#include "PgArchiveSchema.h"

#include <algorithm>

namespace {

QByteArray idArray(const std::vector<qint64>& ids)
{
    QByteArray out = "{";
    for (size_t i = 0; i < ids.size(); ++i)
        out += (i ? "," : "") + QByteArray::number(ids[i]);
    return out + "}";
}

} // namespace

PgArchiveBackend::PgArchiveBackend(QString conninfo)
    : m_conninfo(std::move(conninfo))
{
}

QString PgArchiveBackend::reopen()
{
    if (QString e = m_c.open(m_conninfo); !e.isEmpty())
        return e;
    m_writer.reset();
    if (QString e = PgArchiveSchema::open(m_c); !e.isEmpty()) {
        m_c.close();
        return e;
    }
    m_where = m_c.describe();
    return {};
}

QString PgArchiveBackend::open(QString*)
{
    close();
    const QString error = reopen();
    m_opened = error.isEmpty();
    m_backoffMs = 0;
    return error;
}

void PgArchiveBackend::close()
{
    m_inBulk = false;
    m_bulk.clear();
    m_c.close();
    m_opened = false;
}

void PgArchiveBackend::fail(const QString& error)
{
    if (!m_c.isOpen() && m_backoffMs == 0) {
        m_backoffMs = FirstBackoffMs;
        m_sinceFailure.start();
    }
    m_lastError = error;
    throw KalvoraError(error);
}

void PgArchiveBackend::connect()
{
    if (m_c.isOpen())
        return;
    if (m_backoffMs > 0 && m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_backoffMs)
        throw KalvoraError(m_lastError);
    QString error = reopen();
    if (error.isEmpty()) {
        QString bound;
        PgArchiveSchema::bindTrends(m_c, m_names, &bound);
        error = bound;
    }
    if (!error.isEmpty()) {
        m_c.close();
        m_backoffMs = m_backoffMs == 0 ? FirstBackoffMs : std::min(2 * m_backoffMs, LastBackoffMs);
        m_sinceFailure.start();
        m_lastError = error;
        throw KalvoraError(error);
    }
    if (m_backoffMs > 0)
        qCInfo(historyLog).noquote() << "Archive: connected again to" << m_where;
    m_backoffMs = 0;
}

bool PgArchiveBackend::reachable()
{
    try {
        connect();
        return true;
    } catch (const KalvoraError&) {
        return false;
    }
}

std::vector<qint64> PgArchiveBackend::bindTrends(const QList<std::pair<QString, QString>>& trends)
{
    connect();
    QString error;
    const QList<int> ids = PgArchiveSchema::bindTrends(m_c, trends, &error);
    if (!error.isEmpty())
        fail(error);
    m_names = trends;
    m_ids.assign(ids.begin(), ids.end());
    return m_ids;
}

void PgArchiveBackend::write(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry)
{
    if (m_inBulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(m_where));
    connect();
    std::vector<PgSample> batch;
    batch.reserve(rows.size());
    for (const ArchiveRow& row : rows)
        batch.push_back({static_cast<int>(row.id), row.timeMs, row.value});
    if (QString e = m_writer.write(std::move(batch), plantState); !e.isEmpty())
        fail(e);
    // The batch stands; retention runs in a transaction of its own and is tried again next time.
    if (expiry.batch > 0) {
        try {
            expire(expiry);
        } catch (const KalvoraError& e) {
            qCWarning(historyLog).noquote() << "Archive: removing old samples failed:" << e.message();
        }
    }
}

int PgArchiveBackend::expire(const Expiry& expiry)
{
    if (m_ids.empty() || expiry.batch <= 0)
        return 0;
    connect();
    // Whole months go at once; then the samples of the month the cut falls into, a batch at a time.
    const qint64 month = PgArchiveSchema::monthStart(expiry.cutoffMs);
    if (month > m_droppedBefore) {
        if (QString e = m_writer.dropBefore(expiry.cutoffMs); !e.isEmpty())
            fail(e);
        m_droppedBefore = month;
    }
    PgTransaction transaction(m_c);
    if (!transaction.error().isEmpty())
        fail(transaction.error());
    const QList<QByteArray> params{idArray(m_ids), QByteArray::number(expiry.cutoffMs), QByteArray::number(expiry.batch)};
    PgResult gone = m_c.exec(
        "WITH old AS (SELECT x.trend, x.t FROM unnest($1::int[]) AS tr(id) CROSS JOIN LATERAL ("
        "SELECT trend, t FROM samples WHERE trend = tr.id AND t < $2 ORDER BY t LIMIT $3) x LIMIT $3), "
        "gone AS (DELETE FROM samples s USING old WHERE s.trend = old.trend AND s.t = old.t RETURNING s.trend) "
        "SELECT count(*) FROM gone",
        params);
    if (!gone.ok())
        fail(gone.error());
    const int removed = static_cast<int>(gone.int64(0, 0));
    if (removed > 0) {
        // Cells that began before a trend's oldest sample may hold removed samples: they go too.
        PgResult stale = m_c.exec("DELETE FROM rollups r USING (SELECT tr.id, coalesce((SELECT min(t) FROM samples WHERE trend = tr.id), $2) AS keep "
                                  "FROM unnest($1::int[]) AS tr(id)) k WHERE r.trend = k.id AND r.t < k.keep",
            {params[0], params[1]});
        if (!stale.ok())
            fail(stale.error());
    }
    if (QString e = transaction.commit(); !e.isEmpty())
        fail(e);
    return removed;
}

void PgArchiveBackend::beginBulk()
{
    connect();
    m_bulk.clear();
    m_inBulk = true;
}

void PgArchiveBackend::bulkAdd(const ArchiveRow& row)
{
    m_bulk.push_back({static_cast<int>(row.id), row.timeMs, row.value});
}

void PgArchiveBackend::endBulk(bool keep)
{
    if (!m_inBulk)
        return;
    m_inBulk = false;
    std::vector<PgSample> rows;
    rows.swap(m_bulk);
    if (!keep || rows.empty())
        return;
    connect();
    if (QString e = m_writer.write(std::move(rows)); !e.isEmpty())
        fail(e);
}

bool PgArchiveBackend::range(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample)
{
    if (!reachable())
        return false;
    const QList<PgPoint> points = m_reader.range(static_cast<int>(id), t0, t1);
    if (!m_reader.error().isEmpty()) {
        qCWarning(historyLog).noquote() << "Archive:" << m_reader.error();
        return false;
    }
    for (const PgPoint& p : points)
        onSample(p.timeMs, p.value);
    return true;
}

bool PgArchiveBackend::pieces(qint64 id, const std::vector<ArchiveRollups::Segment>& plan, const OnCell& onCell)
{
    if (!reachable())
        return false;
    if (m_reader.pieces(static_cast<int>(id), plan, onCell))
        return true;
    qCWarning(historyLog).noquote() << "Archive:" << m_reader.error();
    return false;
}

bool PgArchiveBackend::oldest(qint64 id, qint64* timeMs)
{
    return reachable() && m_reader.oldest(static_cast<int>(id), timeMs);
}

qint64 PgArchiveBackend::newest(const std::vector<qint64>& ids)
{
    if (!reachable())
        return 0;
    // Per trend, so the server answers each from the end of the key.
    PgResult r = m_c.exec("SELECT coalesce(max(x.m), 0) FROM unnest($1::int[]) AS tr(id) "
                          "CROSS JOIN LATERAL (SELECT max(t) AS m FROM samples WHERE trend = tr.id) x",
        {idArray(ids)});
    return r.ok() ? r.int64(0, 0) : 0;
}

bool PgArchiveBackend::isEmpty()
{
    if (!reachable())
        return true;
    PgResult r = m_c.exec("SELECT NOT EXISTS (SELECT 1 FROM samples)");
    return !r.ok() || r.text(0, 0) == "t";
}

QByteArray PgArchiveBackend::plantState()
{
    if (!reachable())
        return {};
    PgResult r = m_c.exec("SELECT state FROM plant_state WHERE id = 1");
    return r.ok() && r.rows() > 0 ? r.text(0, 0) : QByteArray();
}
