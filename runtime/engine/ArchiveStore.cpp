#include "ArchiveStore.h"

#include "KalvoraError.h"

#include <QDateTime>
#include <QDebug>

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
}

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
    SqliteDatabase::OpenResult opened = SqliteDatabase::open(path, QStringLiteral("archive"), SchemaVersion, createSchema);
    if (!opened.database)
        return opened.error;
    if (notice)
        *notice = opened.notice;
    try {
        m_db = std::move(opened.database);
        m_insert = m_db->prepare("INSERT OR REPLACE INTO samples(trend, t, v) VALUES(?1, ?2, ?3)");
        m_select = m_db->prepare("SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 AND t <= ?3 ORDER BY t");
        // Deletes the oldest expired samples of one trend, at most ?3 + 1 of them.
        m_expire = m_db->prepare("DELETE FROM samples WHERE trend = ?1 AND t < ?2 AND t <= coalesce("
                                 "(SELECT t FROM samples WHERE trend = ?1 AND t < ?2 ORDER BY t LIMIT 1 OFFSET ?3), ?2)");
        bindTrendIds();
    } catch (const KalvoraError& e) {
        m_insert = {};
        m_select = {};
        m_expire = {};
        m_db.reset();
        return e.message();
    }
    return {};
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
    if (!m_db)
        return;
    if (m_bulk)
        endBulk(false);
    // Whatever happens to the last batch, the file gets closed.
    struct Closer {
        ArchiveStore& store;
        ~Closer()
        {
            store.m_insert = {};
            store.m_select = {};
            store.m_expire = {};
            store.m_db.reset();
            store.m_pending.clear();
            for (TrendSlot& slot : store.m_trends)
                slot.id = -1;
        }
    } closer{*this};
    commit();
}

bool ArchiveStore::isEmpty() const
{
    if (!m_db)
        return true;
    SqliteStatement any = m_db->prepare("SELECT 1 FROM samples LIMIT 1");
    return !any.step();
}

qint64 ArchiveStore::lastSampleTime() const
{
    if (!m_db)
        return 0;
    // Per trend, so SQLite answers each from the end of the key instead of reading the table.
    SqliteStatement last = m_db->prepare("SELECT max(t) FROM samples WHERE trend = ?1");
    qint64 newest = 0;
    for (const TrendSlot& slot : m_trends) {
        last.bind(1, slot.id);
        if (last.step() && !last.isNull(0))
            newest = std::max(newest, last.int64(0));
        last.reset();
    }
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
    m_pending.push_back({m_trends[static_cast<size_t>(trendIndex)].id, timeMs, value});
}

QByteArray ArchiveStore::plantState() const
{
    if (!m_db)
        return {};
    SqliteStatement read = m_db->prepare("SELECT state FROM plant_state WHERE id = 1");
    return read.step() ? read.text(0).toUtf8() : QByteArray();
}

void ArchiveStore::insert(qint64 id, qint64 timeMs, double value)
{
    m_insert.bind(1, id).bind(2, timeMs).bind(3, value);
    m_insert.step();
    m_insert.reset();
}

void ArchiveStore::commit()
{
    if (!m_db || (m_pending.empty() && m_plantState.isEmpty()))
        return;
    if (m_bulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(m_db->path()));
    qint64 newest = 0;
    SqliteTransaction transaction(*m_db);
    for (const Pending& p : m_pending) {
        insert(p.id, p.timeMs, p.value);
        newest = std::max(newest, p.timeMs);
    }
    if (!m_plantState.isEmpty()) {
        SqliteStatement save = m_db->prepare("INSERT OR REPLACE INTO plant_state(id, saved, state) VALUES(1, ?1, ?2)");
        save.bind(1, QDateTime::currentMSecsSinceEpoch()).bind(2, QString::fromUtf8(m_plantState)).run();
    }
    if (newest > 0)
        removeExpired(newest);
    transaction.commit();
    m_pending.clear();
    m_plantState.clear();
    if (newest > 0)
        Q_EMIT recorded(newest);
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
        removed += sqlite3_changes(m_db->handle());
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
        insert(m_trends[static_cast<size_t>(trendIndex)].id, timeMs, value);
}

void ArchiveStore::endBulk(bool keep)
{
    if (!m_bulk)
        return;
    m_bulk = false;
    if (keep) {
        m_db->commit();
        Q_EMIT recorded(lastSampleTime());
    } else {
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

QList<ArchiveSample> ArchiveStore::range(const QString& archive, const QString& trend, qint64 t0, qint64 t1) const
{
    QList<ArchiveSample> samples;
    const qint64 id = idOf(archive, trend);
    if (id < 0 || t1 < t0)
        return samples;
    // Recorded once per interval: a good guess of the size, capped for wide-open windows.
    samples.reserve(static_cast<qsizetype>(std::min<qint64>((t1 - t0) / std::max(1, m_settings.recordIntervalMs) + 1, 1 << 20)));
    scan(id, t0, t1, [&](qint64 t, double v) { samples.append({t, v}); });
    return samples;
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
    ArchiveSample first, low, high, last;
    const auto flush = [&] {
        if (current < 0)
            return;
        std::array<ArchiveSample, 4> four{first, low, high, last};
        std::sort(four.begin(), four.end(), [](const ArchiveSample& a, const ArchiveSample& b) { return a.timeMs < b.timeMs; });
        for (size_t i = 0; i < four.size(); ++i)
            if (i == 0 || four[i].timeMs != four[i - 1].timeMs)
                points.append(four[i]);
    };
    scan(id, t0, t1, [&](qint64 t, double v) {
        const ArchiveSample s{t, v};
        if (t >= nextStart) {
            flush();
            current = bucketOf(t);
            nextStart = current + 1 < buckets ? startOf(current + 1) : std::numeric_limits<qint64>::max();
            first = low = high = last = s;
            return;
        }
        if (v < low.value)
            low = s;
        if (v > high.value)
            high = s;
        last = s;
    });
    flush();
    return points;
}
