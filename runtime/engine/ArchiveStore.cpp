#include "ArchiveStore.h"

#include "KalvoraError.h"

#include <QDebug>

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
    m_holdLimit = static_cast<int>(std::max<qint64>(1, trendCount() * (HoldMs / std::max(1, m_settings.recordIntervalMs))));
    if (isOpen())
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
    return m_backend ? m_backend->location() : QString();
}

QString ArchiveStore::open(const QString& path, QString* notice)
{
    return open(std::make_unique<SqliteArchiveBackend>(path), notice);
}

QString ArchiveStore::open(std::unique_ptr<ArchiveBackend> backend, QString* notice)
{
    close();
    m_writeFault.clear();
    m_dropped = 0;
    if (const QString error = backend->open(notice); !error.isEmpty())
        return error;
    backend->setEvents({
        [this](const QString& notice) { Q_EMIT damagedReplaced(notice); },
        [this](const QString& reason) {
            m_writeFault = reason;
            Q_EMIT writeFaultChanged(reason);
        },
        [this](const QString& problem) { Q_EMIT checked(problem); },
    });
    m_backend = std::move(backend);
    try {
        bindTrendIds();
    } catch (const KalvoraError& e) {
        const QString where = m_backend->location();
        m_backend.reset();
        return SqliteDatabase::unexpectedSchema(QStringLiteral("archive"), where, e);
    }
    return {};
}

void ArchiveStore::bindTrendIds()
{
    QList<std::pair<QString, QString>> names;
    for (const TrendSlot& slot : m_trends)
        names.append({slot.archive, slot.definition.name});
    const std::vector<qint64> ids = m_backend->bindTrends(names);
    for (size_t i = 0; i < m_trends.size(); ++i)
        m_trends[i].id = ids[i];
}

void ArchiveStore::forgetIds()
{
    for (TrendSlot& slot : m_trends)
        slot.id = -1;
}

void ArchiveStore::close()
{
    if (!m_backend)
        return;
    if (m_bulk)
        endBulk(false);
    // Whatever happens to the last batch, the store gets closed.
    struct Closer {
        ArchiveStore& store;
        ~Closer()
        {
            store.m_backend->close();
            store.m_backend.reset();
            store.m_pending.clear();
            store.forgetIds();
        }
    } closer{*this};
    // The last try, however recently one failed.
    m_retryAtMs = 0;
    commit();
    if (!m_pending.empty())
        qWarning().noquote() << QStringLiteral("Archive: %1 samples could not be written before closing (%2)").arg(m_pending.size()).arg(m_writeFault);
}

void ArchiveStore::startCheck()
{
    if (m_backend)
        m_backend->startCheck();
}

bool ArchiveStore::isEmpty() const
{
    return !m_backend || m_backend->isEmpty();
}

qint64 ArchiveStore::lastSampleTime() const
{
    if (!m_backend)
        return 0;
    std::vector<qint64> ids;
    for (const TrendSlot& slot : m_trends)
        ids.push_back(slot.id);
    return m_backend->newest(ids);
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
    return m_backend ? m_backend->plantState() : QByteArray();
}

ArchiveRow ArchiveStore::row(int slot, qint64 timeMs, double value) const
{
    return {slot, m_trends[static_cast<size_t>(slot)].id, timeMs, value};
}

ArchiveBackend::Expiry ArchiveStore::expiry(qint64 nowMs) const
{
    return {nowMs - static_cast<qint64>(m_settings.retentionDays) * 86400000LL, m_settings.deleteBatch};
}

void ArchiveStore::holdRefused(const QString& reason, qint64 newest)
{
    const bool began = m_writeFault.isEmpty();
    m_writeFault = reason;
    m_retryAtMs = newest + m_backend->retryMs();
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
    if (!isOpen() || (m_pending.empty() && m_plantState.isEmpty()))
        return;
    if (m_bulk)
        throw KalvoraError(QStringLiteral("%1: cannot record while history is being written").arg(path()));
    const qint64 newest = m_pending.empty() ? 0 : m_pending.back().timeMs;
    if (!m_writeFault.isEmpty() && newest < m_retryAtMs && m_retryAtMs > 0) {
        holdRefused(m_writeFault, m_retryAtMs - m_backend->retryMs());
        return;
    }
    const qint64 held = static_cast<qint64>(m_pending.size());
    std::vector<ArchiveRow> rows;
    rows.reserve(m_pending.size());
    qint64 last = 0;
    for (const Pending& p : m_pending) {
        rows.push_back(row(p.slot, p.timeMs, p.value));
        last = std::max(last, p.timeMs);
    }
    try {
        m_backend->write(rows, m_plantState, last > 0 ? expiry(last) : ArchiveBackend::Expiry{});
    } catch (const KalvoraError& e) {
        // A damaged file that could not be replaced has set the fault already.
        if (isOpen())
            holdRefused(e.message(), newest);
        return;
    }
    m_pending.clear();
    m_plantState.clear();
    if (last > 0)
        Q_EMIT recorded(last);
    if (!m_writeFault.isEmpty()) {
        qWarning().noquote() << QStringLiteral("Archive: writing works again; %1 held samples written, %2 dropped").arg(held).arg(m_dropped);
        m_writeFault.clear();
        m_retryAtMs = 0;
        Q_EMIT writeFaultChanged(QString());
    }
}

int ArchiveStore::removeExpired(qint64 nowMs)
{
    if (!isOpen() || m_trends.empty())
        return 0;
    return m_backend->expire(expiry(nowMs));
}

void ArchiveStore::beginBulk()
{
    if (!isOpen())
        throw KalvoraError(QStringLiteral("Archive: not open"));
    m_backend->beginBulk();
    m_bulk = true;
}

void ArchiveStore::bulkAdd(int trendIndex, qint64 timeMs, double value)
{
    checkIndex(trendIndex);
    if (std::isfinite(value))
        m_backend->bulkAdd(row(trendIndex, timeMs, value));
}

void ArchiveStore::endBulk(bool keep)
{
    if (!m_bulk)
        return;
    m_bulk = false;
    m_backend->endBulk(keep);
    if (keep)
        Q_EMIT recorded(lastSampleTime());
}

qint64 ArchiveStore::idOf(const QString& archive, const QString& trend) const
{
    const int index = trendIndex(archive, trend);
    return index < 0 || !isOpen() ? -1 : m_trends[static_cast<size_t>(index)].id;
}

QList<ArchiveSample> ArchiveStore::range(const QString& archive, const QString& trend, qint64 t0, qint64 t1) const
{
    QList<ArchiveSample> samples;
    const qint64 id = idOf(archive, trend);
    if (id < 0 || t1 < t0)
        return samples;
    // Recorded once per interval: a good guess of the size, capped for wide-open windows.
    samples.reserve(static_cast<qsizetype>(std::min<qint64>((t1 - t0) / std::max(1, m_settings.recordIntervalMs) + 1, 1 << 20)));
    if (!m_backend->range(id, t0, t1, [&](qint64 t, double v) { samples.append({t, v}); }))
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
    // The coarsest level usable has at least one cell per bucket; aggregates older than the oldest
    // sample may have lost samples to retention and are not used.
    const qint64 maxStep = static_cast<qint64>(span / buckets);
    std::vector<ArchiveRollups::Segment> plan;
    if (maxStep < ArchiveRollups::StepMs[0]) {
        plan.push_back({-1, t0, t1 + 1});
    } else {
        qint64 oldest = 0;
        if (!m_backend->oldest(id, &oldest))
            return points;
        std::vector<qint64> edges;
        edges.reserve(static_cast<size_t>(buckets) + 1);
        for (qint64 b = 0; b < buckets; ++b)
            edges.push_back(startOf(b));
        edges.push_back(t1 + 1);
        plan = ArchiveRollups::plan(edges, maxStep, oldest);
    }
    if (!m_backend->pieces(id, plan, feed))
        return {};
    flush();
    return points;
}
