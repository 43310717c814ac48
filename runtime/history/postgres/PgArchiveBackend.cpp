#include "PgArchiveBackend.h"

#include "HistoryLog.h"
#include "KalvoraError.h"
#include "PgArchiveSchema.h"
#include "PackedSpans.h"

#include <algorithm>
#include <limits>

PgArchiveBackend::PgArchiveBackend(QString conninfo, Layout layout)
    : m_conninfo(conninfo)
    , m_layout(layout)
    , m_link(std::move(conninfo), [this](PgConnection& c) { return setUp(c); })
    , m_bulkSpans({[this](qint64 id, qint64 start) { return isHourEmpty(id, start); },
                   [this](const BulkSpanBuffer::Span& span) { m_bulkBlocks.push_back(span); },
                   [this](const BulkSpanBuffer::Span& span) { bulkRows(span); }})
{
}

bool PgArchiveBackend::isHourEmpty(qint64 trend, qint64 start)
{
    const QList<QByteArray> key{QByteArray::number(trend), QByteArray::number(start), QByteArray::number(start + PackedSpans::SpanMs)};
    PgResult r = m_c.exec("SELECT NOT EXISTS (SELECT 1 FROM samples WHERE trend = $1 AND t >= $2 AND t < $3) "
                          "AND NOT EXISTS (SELECT 1 FROM sample_blocks WHERE trend = $1 AND start = $2)",
        key);
    return r.ok() && r.text(0, 0) == "t";
}

void PgArchiveBackend::bulkRows(const BulkSpanBuffer::Span& span)
{
    for (const PackedSample& s : span.samples)
        m_bulk.push_back({static_cast<int>(span.id), s.t, s.v});
}

PgArchiveBackend::~PgArchiveBackend()
{
    m_packer.stop();
}

QString PgArchiveBackend::setUp(PgConnection& c)
{
    m_writer.reset();
    if (QString e = PgArchiveSchema::open(c); !e.isEmpty())
        return e;
    QString error;
    if (!m_names.isEmpty())
        PgArchiveSchema::bindTrends(c, m_names, &error);
    return error;
}

QString PgArchiveBackend::open(QString*)
{
    close();
    const QString error = m_link.open();
    m_opened = error.isEmpty();
    return error;
}

void PgArchiveBackend::close()
{
    m_packer.stop();
    m_inBulk = false;
    m_bulk.clear();
    m_bulkSpans.clear();
    m_bulkBlocks.clear();
    // A clean stop packs the live hours too: their rows cost some 80 bytes each on the server against
    // a few in a block, and the first write after a restart unpacks only the hour it falls into.
    if (m_opened && m_layout == Layout::Packed && !m_ids.empty() && m_link.reachable()) {
        QString error;
        const qint64 newestMs = newest(m_ids);
        // The month partitions emptied so, the current one too, give their pages back (the server's
        // vacuum keeps an emptied table's and its key's pages).
        if (newestMs > 0 && (PgBlockPacker::packFrom(m_c, m_ids, PackedSpans::dueBefore(newestMs), &error) < 0 ||
                                PgBlockPacker::releaseEmptied(m_c, std::numeric_limits<qint64>::max(), &error) < 0))
            qCWarning(historyLog).noquote() << "Archive: packing the live hours at the stop failed:" << error;
    }
    m_link.close();
    m_opened = false;
}

std::vector<qint64> PgArchiveBackend::bindTrends(const QList<std::pair<QString, QString>>& trends)
{
    m_link.ensure();
    QString error;
    const QList<int> ids = PgArchiveSchema::bindTrends(m_c, trends, &error);
    if (!error.isEmpty())
        m_link.fail(error);
    m_names = trends;
    m_ids.assign(ids.begin(), ids.end());
    if (m_layout == Layout::Packed)
        m_packer.run(m_conninfo, m_ids);
    return m_ids;
}

void PgArchiveBackend::write(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry)
{
    if (m_inBulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(m_link.where()));
    m_link.ensure();
    std::vector<PgSample> batch;
    batch.reserve(rows.size());
    for (const ArchiveRow& row : rows)
        batch.push_back({static_cast<int>(row.id), row.timeMs, row.value});
    if (QString e = m_writer.write(std::move(batch), plantState); !e.isEmpty())
        m_link.fail(e);
    m_packer.poke();
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
    m_link.ensure();
    // Whole months go at once; then the samples of the month the cut falls into, a batch at a time.
    const qint64 month = PgArchiveSchema::monthStart(expiry.cutoffMs);
    if (month > m_droppedBefore) {
        if (QString e = m_writer.dropBefore(expiry.cutoffMs); !e.isEmpty())
            m_link.fail(e);
        m_droppedBefore = month;
    }
    PgTransaction transaction(m_c);
    if (!transaction.error().isEmpty())
        m_link.fail(transaction.error());
    // Packed hours are the oldest; the rows get what is left of the batch.
    QString error;
    const qint64 unpacked = PgBlockPacker::trimBefore(m_c, m_ids, expiry.cutoffMs, expiry.batch, &error);
    if (unpacked < 0)
        m_link.fail(error);
    const QList<QByteArray> params{PgArchiveReader::arrayLiteral(m_ids), QByteArray::number(expiry.cutoffMs), QByteArray::number(expiry.batch - unpacked)};
    PgResult gone = m_c.exec(
        "WITH old AS (SELECT x.trend, x.t FROM unnest($1::int[]) AS tr(id) CROSS JOIN LATERAL ("
        "SELECT trend, t FROM samples WHERE trend = tr.id AND t < $2 ORDER BY t LIMIT $3) x LIMIT $3), "
        "gone AS (DELETE FROM samples s USING old WHERE s.trend = old.trend AND s.t = old.t RETURNING s.trend) "
        "SELECT count(*) FROM gone",
        params);
    if (!gone.ok())
        m_link.fail(gone.error());
    const int removed = static_cast<int>(gone.int64(0, 0) + unpacked);
    if (removed > 0) {
        // Cells that began before a trend's oldest sample may hold removed samples: they go too.
        PgResult stale = m_c.exec("DELETE FROM rollups r USING (SELECT tr.id, coalesce(least((SELECT min(t) FROM samples WHERE trend = tr.id), "
                                  "(SELECT first_t FROM sample_blocks WHERE trend = tr.id ORDER BY start LIMIT 1)), $2) AS keep "
                                  "FROM unnest($1::int[]) AS tr(id)) k WHERE r.trend = k.id AND r.t < k.keep",
            {params[0], params[1]});
        if (!stale.ok())
            m_link.fail(stale.error());
    }
    if (QString e = transaction.commit(); !e.isEmpty())
        m_link.fail(e);
    return removed;
}

void PgArchiveBackend::beginBulk()
{
    m_link.ensure();
    m_bulk.clear();
    m_bulkBlocks.clear();
    m_inBulk = true;
    if (m_layout == Layout::Packed)
        m_bulkSpans.begin(static_cast<int>(m_ids.size()), newest(m_ids));
}

void PgArchiveBackend::bulkAdd(const ArchiveRow& row)
{
    if (m_layout == Layout::Packed && m_bulkSpans.add(row))
        return;
    m_bulk.push_back({static_cast<int>(row.id), row.timeMs, row.value});
}

void PgArchiveBackend::endBulk(bool keep)
{
    if (!m_inBulk)
        return;
    m_inBulk = false;
    if (keep)
        m_bulkSpans.finish();
    else
        m_bulkSpans.clear();
    std::vector<BulkSpanBuffer::Span> blocks;
    blocks.swap(m_bulkBlocks);
    if (!keep) {
        m_bulk.clear();
        return;
    }
    m_link.ensure();
    // Blocks first: a row written later into a block's hour unpacks it and wins, as any late row.
    // A block that cannot be written goes the row way, which reports the failure.
    // Its rows go before the bulk's own, which were given later and win.
    std::vector<PgSample> rows;
    for (const BulkSpanBuffer::Span& span : blocks) {
        if (QString e = m_writer.writeBlock(static_cast<int>(span.id), span.start, span.samples); !e.isEmpty()) {
            qCWarning(historyLog).noquote() << "Archive:" << e;
            for (const PackedSample& s : span.samples)
                rows.push_back({static_cast<int>(span.id), s.t, s.v});
        }
    }
    rows.insert(rows.end(), m_bulk.begin(), m_bulk.end());
    m_bulk.clear();
    if (rows.empty())
        return;
    if (QString e = m_writer.write(std::move(rows)); !e.isEmpty())
        m_link.fail(e);
    m_packer.poke();
}

bool PgArchiveBackend::range(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample)
{
    if (!m_link.reachable())
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
    if (!m_link.reachable())
        return false;
    if (m_reader.pieces(static_cast<int>(id), plan, onCell))
        return true;
    qCWarning(historyLog).noquote() << "Archive:" << m_reader.error();
    return false;
}

bool PgArchiveBackend::oldest(qint64 id, qint64* timeMs)
{
    return m_link.reachable() && m_reader.oldest(static_cast<int>(id), timeMs);
}

qint64 PgArchiveBackend::newest(const std::vector<qint64>& ids)
{
    if (!m_link.reachable())
        return 0;
    // Per trend, so the server answers each from the end of the keys.
    PgResult r = m_c.exec("SELECT coalesce(max(greatest(x.m, y.m)), 0) FROM unnest($1::int[]) AS tr(id) "
                          "CROSS JOIN LATERAL (SELECT max(t) AS m FROM samples WHERE trend = tr.id) x "
                          "CROSS JOIN LATERAL (SELECT max(last_t) AS m FROM (SELECT last_t FROM sample_blocks WHERE trend = tr.id "
                          "ORDER BY start DESC LIMIT 1) b) y",
        {PgArchiveReader::arrayLiteral(ids)});
    return r.ok() ? r.int64(0, 0) : 0;
}

bool PgArchiveBackend::isEmpty()
{
    if (!m_link.reachable())
        return true;
    PgResult r = m_c.exec("SELECT NOT EXISTS (SELECT 1 FROM samples) AND NOT EXISTS (SELECT 1 FROM sample_blocks)");
    return !r.ok() || r.text(0, 0) == "t";
}

QByteArray PgArchiveBackend::plantState()
{
    if (!m_link.reachable())
        return {};
    PgResult r = m_c.exec("SELECT state FROM plant_state WHERE id = 1");
    return r.ok() && r.rows() > 0 ? r.text(0, 0) : QByteArray();
}
