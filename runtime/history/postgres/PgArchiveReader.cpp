#include "PgArchiveReader.h"

#include "ArchiveStoreRollups.h"
#include "OrderedMerge.h"
#include "PackedSpans.h"
#include "PgArrayLiteral.h"
#include "PgArchiveSchema.h"
#include "PgBlockColumns.h"
#include "PackedWindow.h"
#include "PgResult.h"
#include "PgConnection.h"

#include <algorithm>
#include <map>
#include <array>
#include <limits>
#include <optional>

namespace {

/// One snapshot for the reads of a query: the packer may turn an hour's rows into a block between
/// two statements, and the hour must then be seen in one of them, not in neither. Joins a
/// transaction already open.
class Snapshot final {
public:
    explicit Snapshot(PgConnection& c)
        : m_c(c)
        , m_mine(!c.inTransaction() && c.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY").ok())
    {
    }
    ~Snapshot()
    {
        if (m_mine)
            m_c.rollback();
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

private:
    PgConnection& m_c;
    bool m_mine;
};

} // namespace

QByteArray PgArchiveReader::arrayLiteral(const std::vector<qint64>& values)
{
    return PgArrayLiteral::of(std::span<const qint64>(values));
}

bool PgArchiveReader::blockSamples(int trend, const QByteArray& where, const QList<QByteArray>& params, std::vector<PackedSample>& out)
{
    // The blocks come whole and are unpacked here: far cheaper than unnesting them on the server.
    PgResult r = m_c.exec(QByteArray("SELECT ") + PgBlockColumns::StoredColumns + " FROM sample_blocks WHERE trend = $1 AND " + where + " ORDER BY start",
        QList<QByteArray>{QByteArray::number(trend)} + params, PgConnection::Rows::Binary);
    m_error = r.error();
    for (int i = 0; i < r.rows() && m_error.isEmpty(); ++i)
        if (QString e = PgBlockColumns::decode(r, i, 0, out); !e.isEmpty())
            m_error = QStringLiteral("The packed hour of trend %1 from %2 in %3 is damaged: %4").arg(trend).arg(r.int64(i, 0)).arg(m_c.describe(), e);
    return m_error.isEmpty();
}

std::map<qint64, QByteArray> PgArchiveReader::lookUp(int trend, const std::vector<qint64>& spans, const std::function<int(qint64)>& needOf,
    const std::function<void(qint64, const BlockCache::Entry&)>& onKept)
{
    // Which row version each hour's block is: a block packed again, merged or cut is a new row version,
    // and with its count and last time that names what the cache may answer for.
    PgResult versions = m_c.exec("SELECT start, xmin::text || ' ' || n || ' ' || last_t FROM sample_blocks WHERE trend = $1 AND start = ANY($2::bigint[]) ORDER BY start",
        {QByteArray::number(trend), arrayLiteral(spans)});
    m_error = versions.error();
    std::map<qint64, QByteArray> missing;
    for (int i = 0; i < versions.rows(); ++i) {
        const qint64 start = versions.int64(i, 0);
        const QByteArray version = versions.text(i, 1);
        if (const BlockCache::Entry* kept = m_cache.find(trend, start, version, needOf(start)))
            onKept(start, *kept);
        else
            missing.emplace(start, version);
    }
    return missing;
}

bool PgArchiveReader::fetch(int trend, const std::map<qint64, QByteArray>& missing, const QByteArray& columns,
    const std::function<QString(const PgResult& r, int row, qint64 start, const QByteArray& version)>& onBlock)
{
    if (!m_error.isEmpty() || missing.empty())
        return m_error.isEmpty();
    std::vector<qint64> starts;
    for (const auto& [start, version] : missing)
        starts.push_back(start);
    PgResult r = m_c.exec("SELECT " + columns + " FROM sample_blocks WHERE trend = $1 AND start = ANY($2::bigint[])",
        {QByteArray::number(trend), arrayLiteral(starts)}, PgConnection::Rows::Binary);
    m_error = r.error();
    for (int i = 0; i < r.rows() && m_error.isEmpty(); ++i) {
        const qint64 start = r.int64(i, 0);
        if (QString e = onBlock(r, i, start, missing.at(start)); !e.isEmpty())
            m_error = QStringLiteral("The packed hour of trend %1 from %2 in %3 is damaged: %4").arg(trend).arg(start).arg(m_c.describe(), e);
    }
    return m_error.isEmpty();
}

bool PgArchiveReader::packedWindow(int trend, const std::vector<qint64>& spans, const std::vector<qint64>& rawSpans, PackedWindow& window)
{
    // Samples where a piece reads them, else only the 10 s cells: a chart over days needs no more.
    const auto needOf = [&rawSpans](qint64 start) {
        return BlockCache::Cells | (std::binary_search(rawSpans.begin(), rawSpans.end(), start) ? BlockCache::Samples : 0);
    };
    const auto missing = lookUp(trend, spans, needOf, [&window](qint64 start, const BlockCache::Entry& kept) { window.add(start, kept.samples, kept.cells); });
    return fetch(trend, missing, PgBlockColumns::StoredColumns, [&](const PgResult& r, int row, qint64 start, const QByteArray& version) {
        std::vector<PackedSample> samples;
        if (QString e = PgBlockColumns::decode(r, row, 0, samples); !e.isEmpty())
            return e;
        BlockCache::Entry entry{version, {}, {}, needOf(start)};
        PackedSpans::cells(samples, PackedSpans::CellMs, start, start + PackedSpans::SpanMs, [&entry](const ArchiveAggregate& cell) { entry.cells.append(cell); });
        if (entry.has & BlockCache::Samples)
            entry.samples = QList<PackedSample>(samples.begin(), samples.end());
        window.add(start, entry.samples, entry.cells);
        m_cache.put(trend, start, std::move(entry));
        return QString();
    });
}

bool PgArchiveReader::blockCells(int trend, const std::vector<qint64>& spans, std::vector<ArchiveAggregate>& out)
{
    const auto missing = lookUp(trend, spans, [](qint64) { return BlockCache::Minutes; },
        [&out](qint64, const BlockCache::Entry& kept) { out.insert(out.end(), kept.minutes.begin(), kept.minutes.end()); });
    // A block packed before blocks carried minute cells has none; they are in the rollups.
    const bool fetched = fetch(trend, missing, PgBlockColumns::CellColumns, [&](const PgResult& r, int row, qint64 start, const QByteArray& version) {
        std::vector<ArchiveAggregate> cells;
        if (QString e = PgBlockColumns::decodeCells(r, row, 0, cells); !e.isEmpty())
            return e;
        out.insert(out.end(), cells.begin(), cells.end());
        m_cache.put(trend, start, {version, {}, {}, BlockCache::Minutes, QList<ArchiveAggregate>(cells.begin(), cells.end())});
        return QString();
    });
    std::sort(out.begin(), out.end(), [](const ArchiveAggregate& a, const ArchiveAggregate& b) { return a.firstT < b.firstT; });
    return fetched;
}

QList<PgPoint> PgArchiveReader::range(int trend, qint64 t0, qint64 t1)
{
    m_error.clear();
    QList<PgPoint> out;
    std::vector<PackedSample> blocks;
    const Snapshot snapshot(m_c);
    if (t1 < t0 || !blockSamples(trend, "start >= $2 AND start <= $3", {QByteArray::number(PackedSpans::startOf(t0)), QByteArray::number(t1)}, blocks))
        return out;
    PgResult r = m_c.exec("SELECT t, v FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3 ORDER BY t",
        {QByteArray::number(trend), QByteArray::number(t0), QByteArray::number(t1)}, PgConnection::Rows::Binary);
    m_error = r.error();
    out.reserve(r.rows() + static_cast<qsizetype>(blocks.size()));
    const auto timeOf = [](const PgPoint& p) { return p.timeMs; };
    const auto append = [&out](const PgPoint& p) { out.append(p); };
    OrderedMerge<PgPoint, decltype(timeOf), decltype(append)> merge(timeOf, append);
    for (const PackedSample& s : blocks)
        if (s.t >= t0 && s.t <= t1)
            merge.packed({s.t, s.v});
    for (int i = 0; i < r.rows(); ++i)
        merge.row({r.int64(i, 0), r.real(i, 1)});
    merge.finish();
    return out;
}

bool PgArchiveReader::oldest(int trend, qint64* timeMs)
{
    PgResult r = m_c.exec("SELECT least((SELECT min(t) FROM samples WHERE trend = $1), "
                          "(SELECT first_t FROM sample_blocks WHERE trend = $1 ORDER BY start LIMIT 1))",
        {QByteArray::number(trend)});
    m_error = r.error();
    if (!r.ok() || r.isNull(0, 0))
        return false;
    *timeMs = r.int64(0, 0);
    return true;
}

bool PgArchiveReader::pieces(int trend, const std::vector<ArchiveRollups::Segment>& asked, const std::function<void(const ArchiveAggregate&)>& onCell)
{
    // Neighbouring pieces of one level are one range: the same cells in the same order, one index
    // scan instead of one probe each (a month on the chart's grid is a thousand pieces of one level).
    std::vector<ArchiveRollups::Segment> plan;
    plan.reserve(asked.size());
    for (const ArchiveRollups::Segment& p : asked)
        if (!plan.empty() && plan.back().level == p.level && plan.back().to == p.from)
            plan.back().to = p.to;
        else
            plan.push_back(p);
    // Level numbers here are in step order, as ArchiveRollups counts them.
    static_assert(PgArchiveSchema::StepMs == ArchiveRollups::StepMs, "both backends keep the same rollup levels");
    m_error.clear();
    constexpr int Levels = ArchiveRollups::Levels;
    const auto scans = ArchiveRollups::scans(plan);
    std::array<bool, Levels> scanned{};
    std::vector<qint64> levels, froms, tos, indexes, scanLevels, scanFroms, scanTos;
    for (size_t l = 0; l < Levels; ++l)
        if ((scanned[l] = scans[l].whole)) {
            scanLevels.push_back(static_cast<qint64>(l));
            scanFroms.push_back(scans[l].from);
            scanTos.push_back(scans[l].to);
        }
    for (size_t i = 0; i < plan.size(); ++i)
        if (plan[i].level < 0 || !scanned[static_cast<size_t>(plan[i].level)]) {
            levels.push_back(plan[i].level);
            froms.push_back(plan[i].from);
            tos.push_back(plan[i].to);
            indexes.push_back(static_cast<qint64>(i) + 1);
        }
    // The finest pieces may lie in packed hours: those hours' blocks come first, and for minute
    // pieces the cells the blocks carry, or the samples' own where they came anyway.
    std::vector<qint64> spans, cellSpans;
    for (const ArchiveRollups::Segment& p : plan) {
        std::vector<qint64>& into = p.level <= 0 ? spans : cellSpans;
        for (qint64 span = PackedSpans::startOf(p.from); p.level <= 1 && span < p.to; span += PackedSpans::SpanMs)
            if (into.empty() || into.back() < span)
                into.push_back(span);
    }
    std::erase_if(cellSpans, [&spans](qint64 span) { return std::binary_search(spans.begin(), spans.end(), span); });
    std::vector<qint64> rawSpans;
    for (const ArchiveRollups::Segment& p : plan)
        for (qint64 span = PackedSpans::startOf(p.from); p.level < 0 && span < p.to; span += PackedSpans::SpanMs)
            if (rawSpans.empty() || rawSpans.back() < span)
                rawSpans.push_back(span);
    PackedWindow packed;
    std::vector<ArchiveAggregate> packedCells;
    std::optional<Snapshot> snapshot;
    if (!spans.empty() || !cellSpans.empty())
        snapshot.emplace(m_c);
    if (!spans.empty() && !packedWindow(trend, spans, rawSpans, packed))
        return false;
    if (!cellSpans.empty() && !blockCells(trend, cellSpans, packedCells))
        return false;
    // Minute cells of the hours decoded anyway come from their 10 s cells, the others from the blocks.
    if (!spans.empty() && std::any_of(plan.begin(), plan.end(), [](const ArchiveRollups::Segment& p) { return p.level == 1; })) {
        packed.cells(spans.front(), spans.back() + PackedSpans::SpanMs, ArchiveRollups::StepMs[1],
                     [&packedCells](const ArchiveAggregate& cell) { packedCells.push_back(cell); });
        std::sort(packedCells.begin(), packedCells.end(), [](const ArchiveAggregate& a, const ArchiveAggregate& b) { return a.firstT < b.firstT; });
    }
    // Every piece in one round trip: the ranges of the scanned levels first (marked -1 - level, by
    // level and time), then the probed pieces in order.
    PgResult r = m_c.exec(
        "SELECT x.*, p.i FROM unnest($2::int[], $3::bigint[], $4::bigint[], $5::bigint[]) AS p(level, f, e, i) CROSS JOIN LATERAL ("
        "SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups r "
        "WHERE p.level >= 0 AND r.level = p.level AND r.trend = $1 AND r.t >= p.f AND r.t < p.e "
        "UNION ALL SELECT s.t, s.v, s.t, s.v, s.t, s.v, s.t, s.v FROM samples s "
        "WHERE p.level < 0 AND s.trend = $1 AND s.t >= p.f AND s.t < p.e) x "
        "UNION ALL SELECT y.*, -1 - g.level FROM unnest($6::int[], $7::bigint[], $8::bigint[]) AS g(level, f, e) CROSS JOIN LATERAL ("
        "SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups r "
        "WHERE r.level = g.level AND r.trend = $1 AND r.t >= g.f AND r.t < g.e) y ORDER BY 9, 1",
        {QByteArray::number(trend), arrayLiteral(levels), arrayLiteral(froms), arrayLiteral(tos), arrayLiteral(indexes), arrayLiteral(scanLevels),
            arrayLiteral(scanFroms), arrayLiteral(scanTos)},
        PgConnection::Rows::Binary);
    if (!r.ok()) {
        m_error = r.error();
        return false;
    }
    const auto cellAt = [&r](int i) {
        return ArchiveAggregate{r.int64(i, 0), r.real(i, 1), r.int64(i, 2), r.real(i, 3), r.int64(i, 4), r.real(i, 5), r.int64(i, 6), r.real(i, 7)};
    };
    std::array<std::vector<ArchiveAggregate>, Levels> whole;
    int row = 0;
    for (; row < r.rows() && r.int64(row, 8) < 0; ++row)
        whole[static_cast<size_t>(-1 - r.int64(row, 8))].push_back(cellAt(row));
    const auto firstOf = [](const ArchiveAggregate& a) { return a.firstT; };
    for (size_t piece = 0; piece < plan.size(); ++piece) {
        const ArchiveRollups::Segment& p = plan[piece];
        OrderedMerge<ArchiveAggregate, decltype(firstOf), decltype(onCell)> merge(firstOf, onCell);
        if (p.level == 0)
            packed.cells(p.from, p.to, [&merge](const ArchiveAggregate& cell) { merge.packed(cell); });
        else if (p.level == 1)
            for (const ArchiveAggregate& cell : ArchiveRollups::slice(packedCells, p.from, p.to))
                merge.packed(cell);
        else if (p.level < 0)
            packed.samples(p.from, p.to - 1, [&merge](const PackedSample& s) { merge.packed(ArchiveAggregate::of(s.t, s.v)); });
        if (p.level >= 0 && scanned[static_cast<size_t>(p.level)])
            for (const ArchiveAggregate& cell : ArchiveRollups::slice(whole[static_cast<size_t>(p.level)], p.from, p.to))
                merge.row(cell);
        for (; row < r.rows() && r.int64(row, 8) == static_cast<qint64>(piece + 1); ++row)
            merge.row(cellAt(row));
        merge.finish();
    }
    return true;
}
