#include "ArchiveStoreRollups.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

qint64 floorTo(qint64 t, qint64 step)
{
    const qint64 q = t / step;
    return (q * step > t ? q - 1 : q) * step;
}

qint64 ceilTo(qint64 t, qint64 step)
{
    const qint64 f = floorTo(t, step);
    return f == t ? t : f + step;
}

// Large enough for a day of history in one flush, small enough to stay a few MB.
constexpr size_t RebuildFlushCells = 50'000;

constexpr const char* WriteCellSql = "INSERT OR REPLACE INTO rollups(level, trend, t, first_t, first_v, min_t, min_v, "
                                     "max_t, max_v, last_t, last_v) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";

/// The eight columns first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v from column `first` on.
ArchiveAggregate readCell(const SqliteStatement& read, int first)
{
    return {read.int64(first), read.real(first + 1), read.int64(first + 2), read.real(first + 3),
            read.int64(first + 4), read.real(first + 5), read.int64(first + 6), read.real(first + 7)};
}

void writeCell(SqliteStatement& write, int storedLevel, qint64 id, qint64 start, const ArchiveAggregate& agg)
{
    write.bind(1, storedLevel).bind(2, id).bind(3, start);
    write.bind(4, agg.firstT).bind(5, agg.firstV).bind(6, agg.minT).bind(7, agg.minV);
    write.bind(8, agg.maxT).bind(9, agg.maxV).bind(10, agg.lastT).bind(11, agg.lastV);
    write.run();
}

} // namespace

void ArchiveRollups::createTable(SqliteDatabase& db)
{
    // Clustered like the samples: one level of one trend over a period is one run of adjacent pages.
    db.exec("CREATE TABLE rollups(level INTEGER NOT NULL, trend INTEGER NOT NULL, t INTEGER NOT NULL, "
            "first_t INTEGER NOT NULL, first_v REAL NOT NULL, min_t INTEGER NOT NULL, min_v REAL NOT NULL, "
            "max_t INTEGER NOT NULL, max_v REAL NOT NULL, last_t INTEGER NOT NULL, last_v REAL NOT NULL, "
            "PRIMARY KEY(level, trend, t)) WITHOUT ROWID");
}

void ArchiveRollups::rebuild(SqliteDatabase& db)
{
    db.exec("DELETE FROM rollups");
    SqliteStatement trends = db.prepare("SELECT id FROM trends ORDER BY id");
    SqliteStatement samples = db.prepare("SELECT t, v FROM samples WHERE trend = ?1 ORDER BY t");
    Collector collector(1);
    while (trends.step()) {
        const qint64 id = trends.int64(0);
        samples.bind(1, id);
        while (samples.step()) {
            collector.add(0, id, samples.int64(0), samples.real(1));
            if (collector.cellCount() >= RebuildFlushCells)
                collector.flush(db);
        }
        samples.reset();
        collector.flush(db);
    }
}

void ArchiveRollups::derive(SqliteDatabase& db, int level)
{
    const qint64 step = StepMs[static_cast<size_t>(level)];
    SqliteStatement finer = db.prepare("SELECT trend, first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v "
                                       "FROM rollups WHERE level = ?1 ORDER BY trend, t");
    SqliteStatement write = db.prepare(WriteCellSql);
    qint64 id = -1;
    qint64 start = 0;
    ArchiveAggregate agg;
    const auto put = [&] {
        if (id < 0)
            return;
        writeCell(write, stored(level), id, start, agg);
    };
    finer.bind(1, stored(level - 1));
    while (finer.step()) {
        // A finer cell lies wholly inside one coarser cell, so its first sample tells which.
        const ArchiveAggregate cell = readCell(finer, 1);
        const qint64 trend = finer.int64(0);
        const qint64 cellStart = floorTo(cell.firstT, step);
        if (trend == id && cellStart == start) {
            agg.merge(cell);
            continue;
        }
        put();
        id = trend;
        start = cellStart;
        agg = cell;
    }
    put();
}

void ArchiveRollups::Collector::resize(int trends)
{
    clear();
    m_open.assign(static_cast<size_t>(std::max(0, trends)), {});
}

void ArchiveRollups::Collector::clear()
{
    for (auto& levels : m_open)
        for (Open& o : levels)
            o.id = -1;
    m_openCount = 0;
    m_cells.clear();
}

void ArchiveRollups::Collector::close(int level, Open& open)
{
    Cell& cell = m_cells[{level, open.id, open.start}];
    if (cell.hasAgg)
        cell.agg.merge(open.agg);
    else
        cell.agg = open.agg;
    cell.hasAgg = true;
    open.id = -1;
    --m_openCount;
}

void ArchiveRollups::Collector::add(int slot, qint64 id, qint64 t, double v)
{
    const ArchiveAggregate one = ArchiveAggregate::of(t, v);
    auto& levels = m_open[static_cast<size_t>(slot)];
    for (int level = 0; level < Levels; ++level) {
        Open& open = levels[static_cast<size_t>(level)];
        const qint64 start = floorTo(t, StepMs[static_cast<size_t>(level)]);
        if (open.id == id && open.start == start) {
            open.agg.merge(one);
            continue;
        }
        if (open.id >= 0)
            close(level, open);
        open = {id, start, one};
        ++m_openCount;
    }
}

void ArchiveRollups::Collector::replaced(qint64 id, qint64 t)
{
    for (int level = 0; level < Levels; ++level)
        m_cells[{level, id, floorTo(t, StepMs[static_cast<size_t>(level)])}].recompute = true;
}

void ArchiveRollups::Collector::flush(SqliteDatabase& db)
{
    for (auto& levels : m_open)
        for (int level = 0; level < Levels; ++level)
            if (levels[static_cast<size_t>(level)].id >= 0)
                close(level, levels[static_cast<size_t>(level)]);
    if (m_cells.empty())
        return;
    if (m_preparedFor != &db) {
        forget();
        prepare(db);
    }
    for (auto& [key, cell] : m_cells) {
        const auto [level, id, start] = key;
        ArchiveAggregate agg = cell.agg;
        bool has = cell.hasAgg;
        if (cell.recompute) {
            // Everything of the cell is in the raw table by now, the replaced value included.
            has = false;
            m_raw.bind(1, id).bind(2, start).bind(3, start + StepMs[static_cast<size_t>(level)]);
            while (m_raw.step()) {
                const ArchiveAggregate one = ArchiveAggregate::of(m_raw.int64(0), m_raw.real(1));
                if (has)
                    agg.merge(one);
                else
                    agg = one;
                has = true;
            }
            m_raw.reset();
            if (!has) {
                m_drop.bind(1, stored(level)).bind(2, id).bind(3, start).run();
                continue;
            }
        } else {
            m_read.bind(1, stored(level)).bind(2, id).bind(3, start);
            if (m_read.step())
                agg.merge(readCell(m_read, 0));
            m_read.reset();
        }
        writeCell(m_write, stored(level), id, start, agg);
    }
    m_cells.clear();
}

void ArchiveRollups::Collector::discard(int level, qint64 id, qint64 from, qint64 to)
{
    for (auto& levels : m_open) {
        Open& open = levels[static_cast<size_t>(level)];
        if (open.id == id && open.start >= from && open.start < to) {
            open.id = -1;
            --m_openCount;
        }
    }
    m_cells.erase(m_cells.lower_bound({level, id, from}), m_cells.lower_bound({level, id, to}));
}

void ArchiveRollups::Collector::forget()
{
    m_read = {};
    m_raw = {};
    m_write = {};
    m_drop = {};
    m_preparedFor = nullptr;
}

void ArchiveRollups::Collector::prepare(SqliteDatabase& db)
{
    m_read = db.prepare("SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups "
                        "WHERE level = ?1 AND trend = ?2 AND t = ?3");
    m_raw = db.prepare("SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 AND t < ?3 ORDER BY t");
    m_write = db.prepare(WriteCellSql);
    m_drop = db.prepare("DELETE FROM rollups WHERE level = ?1 AND trend = ?2 AND t = ?3");
    m_preparedFor = &db;
}

void ArchiveRollups::removeStale(SqliteDatabase& db, qint64 id, qint64 keepFrom)
{
    SqliteStatement remove = db.prepare("DELETE FROM rollups WHERE level = ?1 AND trend = ?2 AND t < ?3");
    for (int level = 0; level < Levels; ++level)
        remove.bind(1, stored(level)).bind(2, id).bind(3, keepFrom).run();
}

std::vector<ArchiveRollups::Segment> ArchiveRollups::plan(const std::vector<qint64>& edges, qint64 maxStepMs, qint64 validFrom)
{
    int top = -1;
    for (int level = 0; level < Levels; ++level)
        if (StepMs[static_cast<size_t>(level)] <= maxStepMs)
            top = level;
    std::vector<Segment> segments;
    const auto append = [&](int level, qint64 from, qint64 to) {
        if (from >= to)
            return;
        if (!segments.empty() && segments.back().level == level && segments.back().to == from)
            segments.back().to = to;
        else
            segments.push_back({level, from, to});
    };
    // Recursion depth is the number of levels.
    const auto cut = [&](auto&& self, qint64 from, qint64 to, int level) -> void {
        if (from >= to)
            return;
        if (level < 0)
            return append(-1, from, to);
        const qint64 step = StepMs[static_cast<size_t>(level)];
        const qint64 lo = std::max(ceilTo(from, step), ceilTo(validFrom, step));
        const qint64 hi = floorTo(to, step);
        if (lo >= hi)
            return self(self, from, to, level - 1);
        self(self, from, lo, level - 1);
        append(level, lo, hi);
        self(self, hi, to, level - 1);
    };
    for (size_t i = 0; i + 1 < edges.size(); ++i)
        cut(cut, edges[i], edges[i + 1], top);
    return segments;
}

std::array<ArchiveRollups::LevelScan, ArchiveRollups::Levels> ArchiveRollups::scans(const std::vector<Segment>& plan)
{
    std::array<LevelScan, Levels> scans{};
    std::array<qint64, Levels> count{};
    for (const Segment& p : plan) {
        if (p.level < 0)
            continue;
        LevelScan& scan = scans[static_cast<size_t>(p.level)];
        const bool first = count[static_cast<size_t>(p.level)]++ == 0;
        scan.from = first ? p.from : std::min(scan.from, p.from);
        scan.to = first ? p.to : std::max(scan.to, p.to);
    }
    for (size_t l = 0; l < Levels; ++l)
        scans[l].whole = count[l] > 1 && (scans[l].to - scans[l].from) / StepMs[l] <= 4 * count[l];
    return scans;
}

std::span<const ArchiveAggregate> ArchiveRollups::slice(const std::vector<ArchiveAggregate>& cells, qint64 from, qint64 to)
{
    const auto firstBefore = [](const ArchiveAggregate& c, qint64 t) { return c.firstT < t; };
    const auto begin = std::lower_bound(cells.begin(), cells.end(), from, firstBefore);
    return {begin, std::lower_bound(begin, cells.end(), to, firstBefore)};
}
