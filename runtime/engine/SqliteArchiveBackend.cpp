#include "SqliteArchiveBackend.h"

#include "ArchivePackWorker.h"
#include "KalvoraError.h"
#include "OrderedMerge.h"
#include "PackedWindow.h"
#include "SqliteSpanPacker.h"

#include <QDateTime>
#include <QTimeZone>
#include <QDebug>
#include <QPointer>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <limits>
#include <thread>

namespace {

void createSchema(SqliteDatabase& db, int fromVersion)
{
    if (fromVersion < 1) {
        db.exec("CREATE TABLE trends(id INTEGER PRIMARY KEY, archive TEXT NOT NULL, trend TEXT NOT NULL, UNIQUE(archive, trend))");
        // Clustered by trend and time: a range of one trend is one run through adjacent pages.
        db.exec("CREATE TABLE samples(trend INTEGER NOT NULL, t INTEGER NOT NULL, v REAL NOT NULL, PRIMARY KEY(trend, t)) WITHOUT ROWID");
        db.exec("CREATE TABLE plant_state(id INTEGER PRIMARY KEY CHECK (id = 1), saved INTEGER NOT NULL, state TEXT NOT NULL)");
    }
    if (fromVersion < 2) {
        ArchiveRollups::createTable(db);
        // An archive from before the rollups gets them from its samples, once, while it opens.
        if (fromVersion >= 1)
            ArchiveRollups::rebuild(db);
    }
    // Rollups of schema 2 had no 10-minute level; it is built from their minute cells.
    if (fromVersion == 2)
        ArchiveRollups::derive(db, 2);
    // Rows of an older archive stay as they are; the packing worker packs them an hour at a time.
    if (fromVersion < 4)
        SampleBlockStore::createTable(db);
    else if (fromVersion == 4)
        SampleBlockStore::upgradeTable(db);
}

/// One read's statements see one state of the file, so a span the worker packs meanwhile is seen
/// either as rows or as a block, never twice or not at all. Inside a transaction it has nothing to do.
class ReadSnapshot final {
public:
    explicit ReadSnapshot(sqlite3* db)
        : m_db(sqlite3_get_autocommit(db) ? db : nullptr)
    {
        if (m_db && sqlite3_exec(m_db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
            m_db = nullptr;
    }
    ~ReadSnapshot()
    {
        if (m_db && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;

private:
    sqlite3* m_db;
};

qint64 sampleTime(const PackedSample& s)
{
    return s.t;
}

qint64 cellTime(const ArchiveAggregate& cell)
{
    return cell.firstT;
}

const QString ArchiveWhat = QStringLiteral("archive");


/// The first packed block that does not decode, named by trend and hour; empty when all are sound.
QString damagedBlock(sqlite3* db, const std::atomic<bool>& cancel)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT t.archive, t.trend, b.trend, b.start, b.end, b.count, b.data FROM sample_blocks b "
                               "LEFT JOIN trends t ON t.id = b.trend", -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        return {};
    }
    QString problem;
    const auto text = [&](int c) { return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))); };
    while (problem.isEmpty() && !cancel.load() && sqlite3_step(stmt) == SQLITE_ROW) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt, 6));
        const SampleBlockStore::StoredBlock block{sqlite3_column_int64(stmt, 3), sqlite3_column_int64(stmt, 4), sqlite3_column_int64(stmt, 5),
                                                  QByteArray(bytes, sqlite3_column_bytes(stmt, 6))};
        const QString error = SampleBlockStore::problem(block);
        if (error.isEmpty())
            continue;
        const QString name = sqlite3_column_type(stmt, 0) == SQLITE_NULL ? QString::number(sqlite3_column_int64(stmt, 2))
                                                                          : text(0) + QLatin1Char('/') + text(1);
        problem = QStringLiteral("the packed samples of trend %1 for the hour from %2 are damaged: %3")
                      .arg(name, QDateTime::fromMSecsSinceEpoch(block.start, QTimeZone::utc()).toString(Qt::ISODate), error);
    }
    sqlite3_finalize(stmt);
    return problem;
}

} // namespace

struct SqliteArchiveBackend::Check {
    std::thread thread;
    std::atomic<bool> cancel{false};
};

SqliteArchiveBackend::SqliteArchiveBackend(QString path, Layout layout)
    : m_path(std::move(path))
    , m_layout(layout)
    , m_bulkSpans({[this](qint64 id, qint64 start) { return !m_packer->blocks().find(id, start) && !m_packer->hasRows(id, start); },
                   [this](const BulkSpanBuffer::Span& span) {
                       m_packer->blocks().write(span.id, span.start, span.samples);
                       m_rollups.discard(0, span.id, span.start, span.start + PackedSpans::SpanMs);
                   },
                   [this](const BulkSpanBuffer::Span& span) {
                       for (const PackedSample& s : span.samples)
                           m_insert.bind(1, span.id).bind(2, s.t).bind(3, s.v).run();
                   }})
{
}

SqliteArchiveBackend::~SqliteArchiveBackend()
{
    stopPacking();
    stopCheck();
    if (m_bulk)
        endBulk(false);
}

QString SqliteArchiveBackend::open(QString* notice)
{
    close();
    SqliteDatabase::OpenResult opened = SqliteDatabase::open(m_path, ArchiveWhat, SchemaVersion, createSchema);
    if (!opened.database)
        return opened.error;
    if (notice)
        *notice = opened.notice;
    try {
        m_db = std::move(opened.database);
        // A new file hands the pages packing frees back to the file system; that needs
        // auto_vacuum before the first table, hence the (instant) vacuum of the empty file.
        SqliteStatement autoVacuum = m_db->prepare("PRAGMA auto_vacuum");
        if (m_layout == Layout::Packed && autoVacuum.step() && autoVacuum.int64(0) == 0 && SqliteSpanPacker(m_db->handle(), m_db->path()).isEmpty()) {
            autoVacuum = {};
            m_db->exec("PRAGMA auto_vacuum=INCREMENTAL");
            m_db->exec("VACUUM");
        }
        autoVacuum = {};
        m_db->exec("PRAGMA cache_size=-65536");
        prepareStatements();
        startPacking();
    } catch (const KalvoraError& e) {
        resetStatements();
        m_db.reset();
        return SqliteDatabase::unexpectedSchema(ArchiveWhat, m_path, e);
    }
    return {};
}

void SqliteArchiveBackend::close()
{
    stopPacking();
    stopCheck();
    if (m_bulk)
        endBulk(false);
    resetStatements();
    m_rollups.clear();
    m_db.reset();
}

void SqliteArchiveBackend::prepareStatements()
{
    // A new sample is inserted; one that exists is updated, and its aggregates are computed afresh.
    m_insert = m_db->prepare("INSERT OR IGNORE INTO samples(trend, t, v) VALUES(?1, ?2, ?3)");
    m_update = m_db->prepare("UPDATE samples SET v = ?3 WHERE trend = ?1 AND t = ?2");
    m_select = m_db->prepare("SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 AND t <= ?3 ORDER BY t");
    m_selectRollup = m_db->prepare("SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups "
                                   "WHERE level = ?1 AND trend = ?2 AND t >= ?3 AND t < ?4 ORDER BY t");
    m_packer = std::make_unique<SqliteSpanPacker>(m_db->handle(), m_db->path());
    // Deletes the oldest expired samples of one trend, at most ?3 + 1 of them.
    m_expire = m_db->prepare("DELETE FROM samples WHERE trend = ?1 AND t < ?2 AND t <= coalesce("
                             "(SELECT t FROM samples WHERE trend = ?1 AND t < ?2 ORDER BY t LIMIT 1 OFFSET ?3), ?2)");
}

void SqliteArchiveBackend::resetStatements()
{
    m_rollups.forget();
    m_insert = {};
    m_update = {};
    m_select = {};
    m_selectRollup = {};
    m_packer.reset();
    m_rowSpans.clear();
    m_expire = {};
}

std::vector<qint64> SqliteArchiveBackend::bindTrends(const QList<std::pair<QString, QString>>& trends)
{
    std::vector<qint64> ids;
    SqliteTransaction transaction(*m_db);
    SqliteStatement find = m_db->prepare("SELECT id FROM trends WHERE archive = ?1 AND trend = ?2");
    SqliteStatement create = m_db->prepare("INSERT INTO trends(archive, trend) VALUES(?1, ?2)");
    for (const auto& [archive, trend] : trends) {
        find.bind(1, archive).bind(2, trend);
        if (find.step()) {
            ids.push_back(find.int64(0));
        } else {
            create.bind(1, archive).bind(2, trend).run();
            ids.push_back(sqlite3_last_insert_rowid(m_db->handle()));
        }
        find.reset();
    }
    transaction.commit();
    m_ids = ids;
    m_names.assign(trends.begin(), trends.end());
    m_rollups.resize(static_cast<int>(ids.size()));
    m_expireCursor = 0;
    return ids;
}

void SqliteArchiveBackend::startPacking()
{
    if (m_layout == Layout::Packed && m_db)
        m_worker = std::make_unique<ArchivePackWorker>(m_db->path());
}

void SqliteArchiveBackend::stopPacking()
{
    m_worker.reset();
}

bool SqliteArchiveBackend::waitPacked(int timeoutMs)
{
    return !m_worker || m_worker->waitIdle(timeoutMs);
}

void SqliteArchiveBackend::unpackFor(const ArchiveRow& row)
{
    const qint64 start = PackedSpans::startOf(row.timeMs);
    if (!m_rowSpans.insert({row.id, start}).second)
        return;
    // Its samples go through the rollups once more: the coarse cells hold them already (merging a
    // sample twice changes nothing), the 10 s cells are built anew.
    for (const PackedSample& s : m_packer->unpack(row.id, start))
        m_rollups.add(row.slot, row.id, s.t, s.v);
}

void SqliteArchiveBackend::packDue()
{
    while (const auto span = m_packer->next())
        m_packer->pack(*span);
}

void SqliteArchiveBackend::insert(const ArchiveRow& row)
{
    unpackFor(row);
    m_insert.bind(1, row.id).bind(2, row.timeMs).bind(3, row.value);
    m_insert.step();
    m_insert.reset();
    if (sqlite3_changes(m_db->handle()) > 0) {
        m_rollups.add(row.slot, row.id, row.timeMs, row.value);
        return;
    }
    m_update.bind(1, row.id).bind(2, row.timeMs).bind(3, row.value).run();
    m_rollups.replaced(row.id, row.timeMs);
}

void SqliteArchiveBackend::writeOnce(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry)
{
    SqliteTransaction transaction(*m_db);
    m_rowSpans.clear();
    try {
        for (const ArchiveRow& row : rows)
            insert(row);
        m_rollups.flush(*m_db);
        if (!plantState.isEmpty()) {
            SqliteStatement save = m_db->prepare("INSERT OR REPLACE INTO plant_state(id, saved, state) VALUES(1, ?1, ?2)");
            save.bind(1, QDateTime::currentMSecsSinceEpoch()).bind(2, QString::fromUtf8(plantState)).run();
        }
        if (expiry.batch > 0)
            expire(expiry);
        transaction.commit();
    } catch (...) {
        m_rollups.clear();
        m_rowSpans.clear();
        throw;
    }
    m_rowSpans.clear();
    if (m_worker)
        m_worker->wake();
}

void SqliteArchiveBackend::write(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry)
{
    if (!m_db)
        throw KalvoraError(QStringLiteral("Archive: not open"));
    if (m_bulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(m_db->path()));
    try {
        writeOnce(rows, plantState, expiry);
    } catch (const SqliteError& e) {
        // A damaged file is replaced once and the batch goes into the fresh one.
        if (!SqliteDatabase::isDamage(e.code()))
            throw;
        replaceDamaged(e.message());
        if (!m_db)
            throw;
        writeOnce(rows, plantState, expiry);
    }
}

int SqliteArchiveBackend::expire(const Expiry& expiry)
{
    if (!m_db || m_ids.empty())
        return 0;
    int removed = 0;
    for (size_t tried = 0; tried < m_ids.size() && removed < expiry.batch; ++tried) {
        const qint64 id = m_ids[m_expireCursor];
        m_expireCursor = (m_expireCursor + 1) % m_ids.size();
        m_expire.bind(1, id).bind(2, expiry.cutoffMs).bind(3, static_cast<qint64>(expiry.batch - removed - 1));
        m_expire.run();
        int gone = sqlite3_changes(m_db->handle());
        gone += expireBlocks(id, expiry.cutoffMs, expiry.batch - removed - gone);
        if (gone > 0)
            ArchiveRollups::removeStale(*m_db, id, m_packer->oldest(id).value_or(expiry.cutoffMs));
        removed += gone;
    }
    return removed;
}

int SqliteArchiveBackend::expireBlocks(qint64 id, qint64 cutoff, int batch)
{
    int removed = 0;
    SampleBlockStore& blocks = m_packer->blocks();
    for (const auto& block : blocks.overlapping(id, std::numeric_limits<qint64>::min() / 2, cutoff - 1)) {
        if (removed >= batch)
            break;
        if (block.end < cutoff) {
            blocks.remove(id, block.start);
            removed += static_cast<int>(block.count);
            continue;
        }
        // The block that straddles the cutoff keeps its newer samples.
        const QList<PackedSample> samples = blocks.unpack(id, block);
        const QList<PackedSample> kept = PackedSpans::keptFrom(samples, cutoff);
        removed += static_cast<int>(samples.size() - kept.size());
        blocks.write(id, block.start, kept);
    }
    return removed;
}

void SqliteArchiveBackend::beginBulk()
{
    if (!m_db)
        throw KalvoraError(QStringLiteral("Archive: not open"));
    // The worker would only wait for the bulk's transaction.
    if (m_worker)
        m_worker->pause(true);
    m_db->begin();
    m_rowSpans.clear();
    m_bulk = true;
    if (m_layout == Layout::Packed) {
        qint64 newest = 0;
        for (const qint64 id : m_ids)
            newest = std::max(newest, m_packer->newest(id).value_or(0));
        m_bulkSpans.begin(static_cast<int>(m_ids.size()), newest);
    }
}

void SqliteArchiveBackend::bulkAdd(const ArchiveRow& row)
{
    if (m_layout == Layout::Packed && m_bulkSpans.add(row)) {
        m_rollups.add(row.slot, row.id, row.timeMs, row.value);
        return;
    }
    insert(row);
}

void SqliteArchiveBackend::endBulk(bool keep)
{
    if (!m_bulk)
        return;
    m_bulk = false;
    m_rowSpans.clear();
    if (m_worker)
        m_worker->pause(false);
    if (!keep) {
        m_bulkSpans.clear();
        m_rollups.clear();
        m_db->rollback();
        return;
    }
    try {
        m_bulkSpans.finish();
        m_rollups.flush(*m_db);
        // Generated history is mostly hours long gone: packed before it commits, it never sits in
        // the file as rows.
        if (m_layout == Layout::Packed)
            packDue();
        m_db->commit();
    } catch (...) {
        m_bulkSpans.clear();
        m_rollups.clear();
        m_db->rollback();
        throw;
    }
    if (m_layout == Layout::Packed)
        SqliteSpanPacker::releaseFreePages(m_db->handle(), m_db->path());
}

void SqliteArchiveBackend::replaceDamaged(const QString& reason)
{
    stopPacking();
    stopCheck();
    if (m_bulk) {
        m_bulk = false;
        m_bulkSpans.clear();
        m_db->rollback();
    }
    resetStatements();
    m_rollups.clear();
    QString notice = SqliteDatabase::replaceDamaged(m_db, ArchiveWhat, reason, SchemaVersion, createSchema);
    if (m_db) {
        try {
            prepareStatements();
            QList<std::pair<QString, QString>> names(m_names.begin(), m_names.end());
            bindTrends(names);
            startPacking();
        } catch (const KalvoraError& e) {
            resetStatements();
            m_db.reset();
            notice = e.message();
        }
    }
    qCritical().noquote() << "Archive:" << notice;
    if (!m_db && m_events.lost)
        m_events.lost(notice);
    if (m_events.replaced)
        m_events.replaced(notice);
}

template <class F>
bool SqliteArchiveBackend::guardedRead(F&& read)
{
    return m_db && SqliteDatabase::guarded(read, [this](const QString& reason) { replaceDamaged(reason); });
}

bool SqliteArchiveBackend::isEmpty()
{
    bool empty = true;
    guardedRead([&] {
        ReadSnapshot snapshot(m_db->handle());
        empty = m_packer->isEmpty();
    });
    return empty;
}

qint64 SqliteArchiveBackend::newest(const std::vector<qint64>& ids)
{
    qint64 newest = 0;
    guardedRead([&] {
        ReadSnapshot snapshot(m_db->handle());
        for (const qint64 id : ids)
            newest = std::max(newest, m_packer->newest(id).value_or(0));
    });
    return newest;
}

QByteArray SqliteArchiveBackend::plantState()
{
    QByteArray state;
    guardedRead([&] {
        SqliteStatement read = m_db->prepare("SELECT state FROM plant_state WHERE id = 1");
        if (read.step())
            state = read.text(0).toUtf8();
    });
    return state;
}

PackedWindow SqliteArchiveBackend::packedFor(qint64 id, const PackedWindow::Ranges& raw, const PackedWindow::Ranges& cells)
{
    static_assert(ArchiveRollups::StepMs[0] == PackedSpans::CellMs);
    // Samples only where a piece reads them, else the hour's cells: a chart over days needs no more.
    const PackedWindow::Ranges rawRuns = PackedWindow::spanRuns(raw);
    const PackedWindow::Ranges cellRuns = PackedWindow::spanRuns(cells);
    const auto within = [](const PackedWindow::Ranges& runs, qint64 start) {
        const auto it = std::upper_bound(runs.begin(), runs.end(), start, [](qint64 t, const auto& run) { return t < run.first; });
        return it != runs.begin() && start <= std::prev(it)->second;
    };
    PackedWindow::Ranges all = rawRuns;
    all.insert(all.end(), cellRuns.begin(), cellRuns.end());
    std::sort(all.begin(), all.end());
    PackedWindow window;
    SampleBlockStore& blocks = m_packer->blocks();
    for (const auto& [t0, t1] : PackedWindow::spanRuns(all)) {
        const QList<SampleBlockStore::StoredBlock> found = blocks.overlapping(id, t0, t1);
        std::vector<int> needs;
        needs.reserve(static_cast<size_t>(found.size()));
        for (const auto& block : found)
            needs.push_back((within(rawRuns, block.start) ? SampleBlockStore::Samples : 0)
                            | (within(cellRuns, block.start) ? SampleBlockStore::Cells : 0));
        std::vector<SampleBlockStore::Unpacked> unpacked = blocks.unpack(id, found, needs);
        for (qsizetype i = 0; i < found.size(); ++i)
            window.add(found[i].start, std::move(unpacked[static_cast<size_t>(i)].samples), std::move(unpacked[static_cast<size_t>(i)].cells));
    }
    return window;
}

void SqliteArchiveBackend::scan(qint64 id, qint64 t0, qint64 t1, const PackedWindow& packed, const OnSample& onSample)
{
    if (!packed.touches(t0, t1))
        return scanRows(id, t0, t1, onSample);
    if (packed.covers(t0, t1))
        return packed.samples(t0, t1, [&](const PackedSample& s) { onSample(s.t, s.v); });
    OrderedMerge<PackedSample, decltype(&sampleTime), std::function<void(const PackedSample&)>> merge(
        &sampleTime, [&](const PackedSample& s) { onSample(s.t, s.v); });
    packed.samples(t0, t1, [&](const PackedSample& s) { merge.packed(s); });
    scanRows(id, t0, t1, [&](qint64 t, double v) { merge.row({t, v}); });
    merge.finish();
}

void SqliteArchiveBackend::scanCells(int level, qint64 id, qint64 from, qint64 to, const PackedWindow& packed,
    const std::vector<ArchiveAggregate>* whole, const OnCell& onCell)
{
    const auto stored = [&](const OnCell& out) {
        if (!whole)
            return scanLevel(level, id, from, to, out);
        for (const ArchiveAggregate& cell : ArchiveRollups::slice(*whole, from, to))
            out(cell);
    };
    // Packed hours have no 10 s cells in the table; they come from the block.
    if (level != 0 || !packed.touches(from, to - 1))
        return stored(onCell);
    if (packed.covers(from, to - 1))
        return packed.cells(from, to, onCell);
    OrderedMerge<ArchiveAggregate, decltype(&cellTime), OnCell> merge(&cellTime, onCell);
    packed.cells(from, to, [&](const ArchiveAggregate& cell) { merge.packed(cell); });
    stored([&](const ArchiveAggregate& cell) { merge.row(cell); });
    merge.finish();
}

void SqliteArchiveBackend::scanRows(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample)
{
    m_select.bind(1, id).bind(2, t0).bind(3, t1);
    sqlite3_stmt* stmt = m_select.handle();
    // The hot loop of every chart: straight on the C API.
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
        onSample(sqlite3_column_int64(stmt, 0), sqlite3_column_double(stmt, 1));
    m_select.reset();
    if (rc != SQLITE_DONE)
        m_db->raise(QStringLiteral("reading samples"));
}

void SqliteArchiveBackend::scanLevel(int level, qint64 id, qint64 from, qint64 to, const OnCell& onCell)
{
    m_selectRollup.bind(1, ArchiveRollups::stored(level)).bind(2, id).bind(3, from).bind(4, to);
    sqlite3_stmt* stmt = m_selectRollup.handle();
    int rc = SQLITE_OK;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto i64 = [&](int c) { return sqlite3_column_int64(stmt, c); };
        const auto dbl = [&](int c) { return sqlite3_column_double(stmt, c); };
        onCell(ArchiveAggregate{i64(0), dbl(1), i64(2), dbl(3), i64(4), dbl(5), i64(6), dbl(7)});
    }
    m_selectRollup.reset();
    if (rc != SQLITE_DONE)
        m_db->raise(QStringLiteral("reading aggregates"));
}

bool SqliteArchiveBackend::range(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample)
{
    return guardedRead([&] {
        ReadSnapshot snapshot(m_db->handle());
        scan(id, t0, t1, packedFor(id, {{t0, t1}}, {}), onSample);
    });
}

bool SqliteArchiveBackend::pieces(qint64 id, const std::vector<ArchiveRollups::Segment>& plan, const OnCell& onCell)
{
    return guardedRead([&] {
        ReadSnapshot snapshot(m_db->handle());
        // Only the pieces read from raw samples or 10 s cells need the packed hours.
        PackedWindow::Ranges raw;
        PackedWindow::Ranges cells;
        for (const ArchiveRollups::Segment& piece : plan)
            if (piece.level <= 0)
                (piece.level < 0 ? raw : cells).emplace_back(piece.from, piece.to - 1);
        const PackedWindow packed = packedFor(id, raw, cells);
        // Minute pieces in hours decoded anyway are merged from their 10 s cells: no probe of
        // the table, and the same cells the rollups hold (a span holds a block or rows, never both).
        std::vector<bool> fromWindow(plan.size());
        std::vector<ArchiveRollups::Segment> fromTable;
        for (size_t i = 0; i < plan.size(); ++i) {
            const ArchiveRollups::Segment& piece = plan[i];
            fromWindow[i] = piece.level == 1 && packed.covers(piece.from, piece.to - 1);
            if (!fromWindow[i])
                fromTable.push_back(piece);
        }
        const auto scans = ArchiveRollups::scans(fromTable);
        std::array<std::vector<ArchiveAggregate>, ArchiveRollups::Levels> whole;
        for (int level = 0; level < ArchiveRollups::Levels; ++level)
            if (const ArchiveRollups::LevelScan& s = scans[static_cast<size_t>(level)]; s.whole) {
                whole[static_cast<size_t>(level)].reserve(static_cast<size_t>((s.to - s.from) / ArchiveRollups::StepMs[static_cast<size_t>(level)] + 1));
                scanLevel(level, id, s.from, s.to, [&](const ArchiveAggregate& cell) { whole[static_cast<size_t>(level)].push_back(cell); });
            }
        for (size_t i = 0; i < plan.size(); ++i) {
            const ArchiveRollups::Segment& piece = plan[i];
            if (fromWindow[i]) {
                packed.cells(piece.from, piece.to, ArchiveRollups::StepMs[1], onCell);
                continue;
            }
            if (piece.level < 0) {
                scan(id, piece.from, piece.to - 1, packed, [&](qint64 t, double v) { onCell(ArchiveAggregate::of(t, v)); });
                continue;
            }
            const auto l = static_cast<size_t>(piece.level);
            scanCells(piece.level, id, piece.from, piece.to, packed, scans[l].whole ? &whole[l] : nullptr, onCell);
        }
    });
}

bool SqliteArchiveBackend::oldest(qint64 id, qint64* timeMs)
{
    bool any = false;
    const bool read = guardedRead([&] {
        ReadSnapshot snapshot(m_db->handle());
        const auto first = m_packer->oldest(id);
        any = first.has_value();
        *timeMs = first.value_or(0);
    });
    return read && any;
}

void SqliteArchiveBackend::startCheck()
{
    stopCheck();
    if (!m_db)
        return;
    // The worker reads through the WAL like any other reader; no checkpoint writes into the main file
    // until the check is done, so a damaged file is moved aside as it was found.
    sqlite3_wal_autocheckpoint(m_db->handle(), 0);
    const quint64 generation = ++m_checkGeneration;
    const QByteArray uri = "file:" + QUrl::fromLocalFile(m_db->path()).path(QUrl::FullyEncoded).toUtf8();
    m_check = std::make_unique<Check>();
    Check* check = m_check.get();
    QPointer<QObject> context(&m_context);
    check->thread = std::thread([this, context, check, generation, uri] {
        QString problem;
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db, 1000);
            problem = SqliteDatabase::quickCheck(db, &check->cancel);
            if (problem.isEmpty())
                problem = damagedBlock(db, check->cancel);
        } else if (SqliteDatabase::isDamage(rc)) {
            problem = QString::fromUtf8(sqlite3_errstr(rc));
        }
        sqlite3_close_v2(db);
        if (check->cancel.load())
            return;
        // Runs on the backend's thread only while the backend (which owns the context) lives.
        QMetaObject::invokeMethod(context, [this, generation, problem] { finishCheck(generation, problem); }, Qt::QueuedConnection);
    });
}

void SqliteArchiveBackend::stopCheck()
{
    if (!m_check)
        return;
    m_check->cancel.store(true);
    m_check->thread.join();
    m_check.reset();
    if (m_db)
        sqlite3_wal_autocheckpoint(m_db->handle(), 1000);
}

void SqliteArchiveBackend::finishCheck(quint64 generation, const QString& problem)
{
    if (generation != m_checkGeneration || !m_check)
        return;
    m_check->thread.join();
    m_check.reset();
    if (!m_db)
        return;
    sqlite3_wal_autocheckpoint(m_db->handle(), 1000);
    if (!problem.isEmpty())
        replaceDamaged(problem);
    if (m_events.checked)
        m_events.checked(problem);
}
