#include "ArchiveStore.h"

#include "KalvoraError.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace {

// Bucket arithmetic multiplies a time span in ms by the bucket count; 64 bits can overflow there.
#if defined(__SIZEOF_INT128__)
__extension__ typedef __int128 Wide;
#else
typedef long double Wide;
#endif

QString composite(const QString& archive, const QString& trend)
{
    return archive + QChar(u'\x1f') + trend;
}

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
}

const QString ArchiveWhat = QStringLiteral("archive");

} // namespace

ArchiveStore::ArchiveStore(QObject* parent)
    : QObject(parent)
{
}

ArchiveStore::~ArchiveStore()
{
    try {
        close();
    } catch (const KalvoraError& e) {
        qWarning().noquote() << e.message();
    }
}

void ArchiveStore::setSettings(const ArchiveSettings& settings)
{
    m_settings = settings;
    m_trends.clear();
    m_index.clear();
    for (const ArchiveDefinition& archive : std::as_const(m_settings.archives)) {
        for (const TrendDefinition& trend : archive.trends) {
            m_index.insert(composite(archive.name, trend.name), static_cast<int>(m_trends.size()));
            m_trends.push_back({archive.name, trend, -1});
        }
    }
    m_rollups.resize(trendCount());
    m_holdLimit = static_cast<int>(std::max<qint64>(1, trendCount() * (HoldMs / std::max(1, m_settings.recordIntervalMs))));
    if (m_db)
        bindTrendIds();
}

QStringList ArchiveStore::archiveNames() const
{
    QStringList names;
    for (const ArchiveDefinition& archive : m_settings.archives)
        names.append(archive.name);
    return names;
}

QStringList ArchiveStore::trendNames(const QString& archive) const
{
    QStringList names;
    for (const ArchiveDefinition& a : m_settings.archives)
        if (a.name == archive)
            for (const TrendDefinition& t : a.trends)
                names.append(t.name);
    return names;
}

int ArchiveStore::trendIndex(const QString& archive, const QString& trend) const
{
    return m_index.value(composite(archive, trend), -1);
}

const TrendDefinition* ArchiveStore::trend(const QString& archive, const QString& trend) const
{
    const int index = trendIndex(archive, trend);
    return index < 0 ? nullptr : &m_trends[static_cast<size_t>(index)].definition;
}

QString ArchiveStore::path() const
{
    return m_db ? m_db->path() : QString();
}

QString ArchiveStore::open(const QString& path, QString* notice)
{
    close();
    m_writeFault.clear();
    m_dropped = 0;
    SqliteDatabase::OpenResult opened = SqliteDatabase::open(path, ArchiveWhat, SchemaVersion, createSchema);
    if (!opened.database)
        return opened.error;
    if (notice)
        *notice = opened.notice;
    try {
        m_db = std::move(opened.database);
        prepareStatements();
        bindTrendIds();
    } catch (const KalvoraError& e) {
        resetStatements();
        m_db.reset();
        return SqliteDatabase::unexpectedSchema(ArchiveWhat, path, e);
    }
    return {};
}

void ArchiveStore::prepareStatements()
{
    // A new sample is inserted; one that exists is updated, and its aggregates are computed afresh.
    m_insert = m_db->prepare("INSERT OR IGNORE INTO samples(trend, t, v) VALUES(?1, ?2, ?3)");
    m_update = m_db->prepare("UPDATE samples SET v = ?3 WHERE trend = ?1 AND t = ?2");
    m_select = m_db->prepare("SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 AND t <= ?3 ORDER BY t");
    m_selectRollup = m_db->prepare("SELECT first_t, first_v, min_t, min_v, max_t, max_v, last_t, last_v FROM rollups "
                                   "WHERE level = ?1 AND trend = ?2 AND t >= ?3 AND t < ?4 ORDER BY t");
    m_oldest = m_db->prepare("SELECT min(t) FROM samples WHERE trend = ?1");
    // Deletes the oldest expired samples of one trend, at most ?3 + 1 of them.
    m_expire = m_db->prepare("DELETE FROM samples WHERE trend = ?1 AND t < ?2 AND t <= coalesce("
                             "(SELECT t FROM samples WHERE trend = ?1 AND t < ?2 ORDER BY t LIMIT 1 OFFSET ?3), ?2)");
}

void ArchiveStore::resetStatements()
{
    m_rollups.forget();
    m_insert = {};
    m_update = {};
    m_select = {};
    m_selectRollup = {};
    m_oldest = {};
    m_expire = {};
}

void ArchiveStore::bindTrendIds()
{
    SqliteTransaction transaction(*m_db);
    SqliteStatement find = m_db->prepare("SELECT id FROM trends WHERE archive = ?1 AND trend = ?2");
    SqliteStatement create = m_db->prepare("INSERT INTO trends(archive, trend) VALUES(?1, ?2)");
    for (TrendSlot& slot : m_trends) {
        find.bind(1, slot.archive).bind(2, slot.definition.name);
        if (find.step()) {
            slot.id = find.int64(0);
        } else {
            create.bind(1, slot.archive).bind(2, slot.definition.name).run();
            slot.id = sqlite3_last_insert_rowid(m_db->handle());
        }
        find.reset();
    }
    transaction.commit();
}

void ArchiveStore::close()
{
    stopCheck();
    if (!m_db)
        return;
    if (m_bulk)
        endBulk(false);
    // Whatever happens to the last batch, the file gets closed.
    struct Closer {
        ArchiveStore& store;
        ~Closer()
        {
            store.resetStatements();
            store.m_db.reset();
            store.m_pending.clear();
            store.m_rollups.clear();
            for (TrendSlot& slot : store.m_trends)
                slot.id = -1;
        }
    } closer{*this};
    // The last try, however recently one failed.
    m_retryAtMs = 0;
    commit();
    if (!m_pending.empty())
        qWarning().noquote() << QStringLiteral("Archive: %1 samples could not be written before closing (%2)").arg(m_pending.size()).arg(m_writeFault);
}

template <class F>
bool ArchiveStore::guardedRead(F&& read) const
{
    return m_db && SqliteDatabase::guarded(read, [this](const QString& reason) { replaceDamaged(reason); });
}

bool ArchiveStore::isEmpty() const
{
    bool empty = true;
    guardedRead([&] {
        SqliteStatement any = m_db->prepare("SELECT 1 FROM samples LIMIT 1");
        empty = !any.step();
    });
    return empty;
}

qint64 ArchiveStore::lastSampleTime() const
{
    qint64 newest = 0;
    guardedRead([&] {
        // Per trend, so SQLite answers each from the end of the key instead of reading the table.
        SqliteStatement last = m_db->prepare("SELECT max(t) FROM samples WHERE trend = ?1");
        for (const TrendSlot& slot : m_trends) {
            last.bind(1, slot.id);
            if (last.step() && !last.isNull(0))
                newest = std::max(newest, last.int64(0));
            last.reset();
        }
    });
    return newest;
}

void ArchiveStore::checkIndex(int trendIndex) const
{
    if (trendIndex < 0 || trendIndex >= trendCount())
        throw KalvoraError(QStringLiteral("Archive: no trend number %1").arg(trendIndex));
}

void ArchiveStore::add(int trendIndex, qint64 timeMs, double value)
{
    checkIndex(trendIndex);
    if (!std::isfinite(value)) {
        if (!m_warnedNotFinite)
            qWarning().noquote() << "Archive: a value of" << m_trends[static_cast<size_t>(trendIndex)].definition.name << "is not a number and was not archived";
        m_warnedNotFinite = true;
        return;
    }
    m_pending.push_back({trendIndex, timeMs, value});
}

QByteArray ArchiveStore::plantState() const
{
    QByteArray state;
    guardedRead([&] {
        SqliteStatement read = m_db->prepare("SELECT state FROM plant_state WHERE id = 1");
        if (read.step())
            state = read.text(0).toUtf8();
    });
    return state;
}

void ArchiveStore::insert(int slot, qint64 timeMs, double value)
{
    const qint64 id = m_trends[static_cast<size_t>(slot)].id;
    m_insert.bind(1, id).bind(2, timeMs).bind(3, value);
    m_insert.step();
    m_insert.reset();
    if (sqlite3_changes(m_db->handle()) > 0) {
        m_rollups.add(slot, id, timeMs, value);
        return;
    }
    m_update.bind(1, id).bind(2, timeMs).bind(3, value).run();
    m_rollups.replaced(id, timeMs);
}

void ArchiveStore::writePending()
{
    qint64 newest = 0;
    SqliteTransaction transaction(*m_db);
    try {
        for (const Pending& p : m_pending) {
            insert(p.slot, p.timeMs, p.value);
            newest = std::max(newest, p.timeMs);
        }
        m_rollups.flush(*m_db);
        if (!m_plantState.isEmpty()) {
            SqliteStatement save = m_db->prepare("INSERT OR REPLACE INTO plant_state(id, saved, state) VALUES(1, ?1, ?2)");
            save.bind(1, QDateTime::currentMSecsSinceEpoch()).bind(2, QString::fromUtf8(m_plantState)).run();
        }
        if (newest > 0)
            removeExpired(newest);
        transaction.commit();
    } catch (...) {
        m_rollups.clear();
        throw;
    }
    m_pending.clear();
    m_plantState.clear();
    if (newest > 0)
        Q_EMIT recorded(newest);
}

void ArchiveStore::holdRefused(const QString& reason, qint64 newest)
{
    const bool began = m_writeFault.isEmpty();
    m_writeFault = reason;
    m_retryAtMs = newest + RetryMs;
    const qint64 over = static_cast<qint64>(m_pending.size()) - m_holdLimit;
    if (over > 0) {
        if (m_dropped == 0)
            qWarning().noquote() << QStringLiteral("Archive: the hold buffer of %1 samples is full; the oldest are dropped until writing works again").arg(m_holdLimit);
        m_pending.erase(m_pending.begin(), m_pending.begin() + over);
        m_dropped += over;
    }
    if (began) {
        qWarning().noquote() << "Archive: writing failed, samples are held in memory and retried:" << reason;
        Q_EMIT writeFaultChanged(reason);
    }
}

void ArchiveStore::commit()
{
    if (!m_db || (m_pending.empty() && m_plantState.isEmpty()))
        return;
    if (m_bulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(m_db->path()));
    const qint64 newest = m_pending.empty() ? 0 : m_pending.back().timeMs;
    if (!m_writeFault.isEmpty() && newest < m_retryAtMs && m_retryAtMs > 0) {
        holdRefused(m_writeFault, m_retryAtMs - RetryMs);
        return;
    }
    const qint64 held = static_cast<qint64>(m_pending.size());
    for (int attempt = 0;; ++attempt) {
        try {
            writePending();
            break;
        } catch (const KalvoraError& e) {
            // A damaged file is replaced once and the batch goes into the fresh one.
            const auto* sqlite = dynamic_cast<const SqliteError*>(&e);
            if (attempt == 0 && sqlite && SqliteDatabase::isDamage(sqlite->code())) {
                replaceDamaged(e.message());
                if (m_db)
                    continue;
            }
            if (!m_db)
                return;
            holdRefused(e.message(), newest);
            return;
        }
    }
    if (!m_writeFault.isEmpty()) {
        qWarning().noquote() << QStringLiteral("Archive: writing works again; %1 held samples written, %2 dropped").arg(held).arg(m_dropped);
        m_writeFault.clear();
        m_retryAtMs = 0;
        Q_EMIT writeFaultChanged(QString());
    }
}

void ArchiveStore::replaceDamaged(const QString& reason) const
{
    // See the declaration: the store is never a const object.
    auto* self = const_cast<ArchiveStore*>(this);
    self->stopCheck();
    if (self->m_bulk) {
        self->m_bulk = false;
        m_db->rollback();
    }
    self->resetStatements();
    self->m_rollups.clear();
    QString notice = SqliteDatabase::replaceDamaged(self->m_db, ArchiveWhat, reason, SchemaVersion, createSchema);
    if (m_db) {
        try {
            self->prepareStatements();
            self->bindTrendIds();
        } catch (const KalvoraError& e) {
            self->resetStatements();
            self->m_db.reset();
            notice = e.message();
        }
    }
    qCritical().noquote() << "Archive:" << notice;
    if (!self->m_db) {
        self->m_writeFault = notice;
        Q_EMIT self->writeFaultChanged(notice);
    }
    Q_EMIT self->damagedReplaced(notice);
}

int ArchiveStore::removeExpired(qint64 nowMs)
{
    if (!m_db || m_trends.empty())
        return 0;
    const qint64 cutoff = nowMs - static_cast<qint64>(m_settings.retentionDays) * 86400000LL;
    int removed = 0;
    for (size_t tried = 0; tried < m_trends.size() && removed < m_settings.deleteBatch; ++tried) {
        const TrendSlot& slot = m_trends[static_cast<size_t>(m_expireCursor)];
        m_expireCursor = (m_expireCursor + 1) % trendCount();
        m_expire.bind(1, slot.id).bind(2, cutoff).bind(3, static_cast<qint64>(m_settings.deleteBatch - removed - 1));
        m_expire.run();
        const int gone = sqlite3_changes(m_db->handle());
        if (gone > 0)
            ArchiveRollups::removeStale(*m_db, slot.id, cutoff);
        removed += gone;
    }
    return removed;
}

void ArchiveStore::beginBulk()
{
    if (!m_db)
        throw KalvoraError(QStringLiteral("Archive: not open"));
    m_db->begin();
    m_bulk = true;
}

void ArchiveStore::bulkAdd(int trendIndex, qint64 timeMs, double value)
{
    checkIndex(trendIndex);
    if (std::isfinite(value))
        insert(trendIndex, timeMs, value);
}

void ArchiveStore::endBulk(bool keep)
{
    if (!m_bulk)
        return;
    m_bulk = false;
    if (keep) {
        try {
            m_rollups.flush(*m_db);
            m_db->commit();
        } catch (...) {
            m_rollups.clear();
            m_db->rollback();
            throw;
        }
        Q_EMIT recorded(lastSampleTime());
    } else {
        m_rollups.clear();
        m_db->rollback();
    }
}

qint64 ArchiveStore::idOf(const QString& archive, const QString& trend) const
{
    const int index = trendIndex(archive, trend);
    return index < 0 || !m_db ? -1 : m_trends[static_cast<size_t>(index)].id;
}

template <class F>
void ArchiveStore::scan(qint64 id, qint64 t0, qint64 t1, F&& onSample) const
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

template <class F>
void ArchiveStore::scanLevel(int level, qint64 id, qint64 from, qint64 to, F&& onCell) const
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

QList<ArchiveSample> ArchiveStore::range(const QString& archive, const QString& trend, qint64 t0, qint64 t1) const
{
    QList<ArchiveSample> samples;
    const qint64 id = idOf(archive, trend);
    if (id < 0 || t1 < t0)
        return samples;
    // Recorded once per interval: a good guess of the size, capped for wide-open windows.
    samples.reserve(static_cast<qsizetype>(std::min<qint64>((t1 - t0) / std::max(1, m_settings.recordIntervalMs) + 1, 1 << 20)));
    if (!guardedRead([&] { scan(id, t0, t1, [&](qint64 t, double v) { samples.append({t, v}); }); }))
        samples.clear();
    return samples;
}

qint64 ArchiveStore::alignedBucketMs(qint64 wantedMs)
{
    wantedMs = std::max<qint64>(1, wantedMs);
    for (int level = ArchiveRollups::Levels - 1; level >= 0; --level) {
        const qint64 step = ArchiveRollups::StepMs[static_cast<size_t>(level)];
        if (4 * step <= wantedMs)
            return (wantedMs + step - 1) / step * step;
    }
    return wantedMs;
}

QList<ArchiveSample> ArchiveStore::reduced(const QString& archive, const QString& trend, qint64 t0, qint64 t1, int buckets) const
{
    QList<ArchiveSample> points;
    const qint64 id = idOf(archive, trend);
    if (id < 0 || t1 < t0 || buckets <= 0)
        return points;
    const Wide span = static_cast<Wide>(t1) - t0 + 1;
    // Bucket of t: floor((t - t0) * buckets / span). Rows come in time order, so the division runs only
    // when a row passes the first time of the next bucket, ceil(b * span / buckets) after t0.
    const auto bucketOf = [&](qint64 t) { return static_cast<qint64>((static_cast<Wide>(t) - t0) * buckets / span); };
    const auto startOf = [&](qint64 b) {
        const Wide offset = (static_cast<Wide>(b) * span + buckets - 1) / buckets;
        return static_cast<qint64>(std::min<Wide>(static_cast<Wide>(t0) + offset, static_cast<Wide>(t1) + 1));
    };
    qint64 current = -1;
    qint64 nextStart = t0;
    ArchiveAggregate acc;
    const auto flush = [&] {
        if (current < 0)
            return;
        std::array<ArchiveSample, 4> four{ArchiveSample{acc.firstT, acc.firstV}, ArchiveSample{acc.minT, acc.minV},
            ArchiveSample{acc.maxT, acc.maxV}, ArchiveSample{acc.lastT, acc.lastV}};
        std::sort(four.begin(), four.end(), [](const ArchiveSample& a, const ArchiveSample& b) { return a.timeMs < b.timeMs; });
        for (size_t i = 0; i < four.size(); ++i)
            if (i == 0 || four[i].timeMs != four[i - 1].timeMs)
                points.append(four[i]);
    };
    // Pieces come in time order and no aggregate straddles a bucket edge, so its first sample tells
    // its bucket; within a bucket, strict comparisons keep the earliest of equal extremes.
    const auto feed = [&](const ArchiveAggregate& a) {
        if (a.firstT >= nextStart) {
            flush();
            current = bucketOf(a.firstT);
            nextStart = current + 1 < buckets ? startOf(current + 1) : std::numeric_limits<qint64>::max();
            acc = a;
            return;
        }
        if (a.minV < acc.minV) {
            acc.minT = a.minT;
            acc.minV = a.minV;
        }
        if (a.maxV > acc.maxV) {
            acc.maxT = a.maxT;
            acc.maxV = a.maxV;
        }
        acc.lastT = a.lastT;
        acc.lastV = a.lastV;
    };
    const bool ok = guardedRead([&] {
        // The coarsest level usable has at least one cell per bucket; aggregates older than the oldest
        // sample may have lost samples to retention and are not used.
        const qint64 maxStep = static_cast<qint64>(span / buckets);
        if (maxStep < ArchiveRollups::StepMs[0]) {
            scan(id, t0, t1, [&](qint64 t, double v) { feed(ArchiveAggregate::of(t, v)); });
            return;
        }
        m_oldest.bind(1, id);
        const bool any = m_oldest.step() && !m_oldest.isNull(0);
        const qint64 oldest = any ? m_oldest.int64(0) : 0;
        m_oldest.reset();
        if (!any)
            return;
        std::vector<qint64> edges;
        edges.reserve(static_cast<size_t>(buckets) + 1);
        for (qint64 b = 0; b < buckets; ++b)
            edges.push_back(startOf(b));
        edges.push_back(t1 + 1);
        for (const ArchiveRollups::Segment& piece : ArchiveRollups::plan(edges, maxStep, oldest)) {
            if (piece.level < 0)
                scan(id, piece.from, piece.to - 1, [&](qint64 t, double v) { feed(ArchiveAggregate::of(t, v)); });
            else
                scanLevel(piece.level, id, piece.from, piece.to, feed);
        }
    });
    if (!ok)
        return {};
    flush();
    return points;
}

struct ArchiveStore::Check {
    std::thread thread;
    std::atomic<bool> cancel{false};
};

void ArchiveStore::startCheck()
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
    QPointer<ArchiveStore> self(this);
    check->thread = std::thread([self, check, generation, uri] {
        QString problem;
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(uri.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(db, 1000);
            problem = SqliteDatabase::quickCheck(db, &check->cancel);
        } else if (SqliteDatabase::isDamage(rc)) {
            problem = QString::fromUtf8(sqlite3_errstr(rc));
        }
        sqlite3_close_v2(db);
        if (check->cancel.load())
            return;
        QMetaObject::invokeMethod(self, [self, generation, problem] {
            if (self)
                self->finishCheck(generation, problem);
        }, Qt::QueuedConnection);
    });
}

void ArchiveStore::stopCheck()
{
    if (!m_check)
        return;
    m_check->cancel.store(true);
    m_check->thread.join();
    m_check.reset();
    if (m_db)
        sqlite3_wal_autocheckpoint(m_db->handle(), 1000);
}

void ArchiveStore::finishCheck(quint64 generation, const QString& problem)
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
    Q_EMIT checked(problem);
}
