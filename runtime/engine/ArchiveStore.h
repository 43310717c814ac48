#pragma once

#include "ArchiveBackend.h"
#include "Project.h"
#include "SqliteArchiveBackend.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <algorithm>
#include <deque>
#include <memory>
#include <vector>

/// One archived value.
struct ArchiveSample {
    qint64 timeMs = 0;
    double value = 0.0;
    bool operator==(const ArchiveSample& other) const = default;
};

/// \brief The trend archives: definitions from the project and their samples in a store
/// (ArchiveBackend: a SQLite file by default, or a database server). Samples are collected and handed
/// to the store in one transaction per commit, together with their 10 s, 1 min, 10 min and 1 h
/// aggregates and one small retention batch. Queries by archive and trend name, case-sensitive; an
/// unknown name gives no samples.
///
/// A commit the store refuses (disk full, I/O error, server gone) keeps its samples in memory, up to
/// holdLimit(), and is tried again after the store's retry time in sample time; writeFault() names the
/// reason meanwhile. A file found damaged, at any time, is moved aside with its WAL and a fresh archive
/// takes its place.
class ArchiveStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveStore)

public:
    /// The embedded file's schema version.
    static constexpr int SchemaVersion = SqliteArchiveBackend::SchemaVersion;
    /// How long refused samples are held, as sample time of every trend.
    static constexpr qint64 HoldMs = 3600 * 1000;
    /// How often, in sample time, a commit the file refused is tried again.
    static constexpr qint64 RetryMs = SqliteArchiveBackend::RetryMs;

    explicit ArchiveStore(QObject* parent = nullptr);
    ~ArchiveStore() override;

    void setSettings(const ArchiveSettings& settings);
    const ArchiveSettings& settings() const { return m_settings; }
    const QList<ArchiveDefinition>& archives() const { return m_settings.archives; }
    QStringList archiveNames() const;
    /// Empty for an unknown archive.
    QStringList trendNames(const QString& archive) const;
    /// Null for an unknown archive or trend.
    const TrendDefinition* trend(const QString& archive, const QString& trend) const;

    /// Every trend of every archive, in project order; the index is what add() takes.
    int trendCount() const { return static_cast<int>(m_trends.size()); }
    int trendIndex(const QString& archive, const QString& trend) const;
    const TrendDefinition& trendAt(int index) const { return m_trends[static_cast<size_t>(index)].definition; }
    const QString& archiveOf(int index) const { return m_trends[static_cast<size_t>(index)].archive; }

    /// Opens or creates the archive file. Returns an empty text on success, otherwise why not; `notice`
    /// receives what the operator should know although it worked (a damaged file moved aside).
    QString open(const QString& path, QString* notice = nullptr);
    /// Opens the archive in `backend`, as open(path) does.
    QString open(std::unique_ptr<ArchiveBackend> backend, QString* notice = nullptr);
    /// Writes what is pending and closes the store.
    void close();
    /// Starts a check of the store just opened on a worker thread; checked() reports it. A damaged
    /// file is then replaced as if found damaged in use.
    void startCheck();
    bool isChecking() const { return m_backend && m_backend->isChecking(); }
    bool isOpen() const { return m_backend && m_backend->isOpen(); }
    /// The file's path, or the server's database.
    QString path() const;

    bool isEmpty() const;
    /// The newest sample time of any trend; 0 for an empty archive.
    qint64 lastSampleTime() const;

    /// Collects a sample for the next commit. Values that are not finite numbers are not archived.
    void add(int trendIndex, qint64 timeMs, double value);
    int pendingCount() const { return static_cast<int>(m_pending.size()); }
    /// Samples held at most while the store refuses them; the oldest beyond it are dropped.
    int holdLimit() const { return m_holdLimit; }
    void setHoldLimit(int samples) { m_holdLimit = std::max(1, samples); }
    /// Why the last commit was refused; empty while writing works.
    QString writeFault() const { return m_writeFault; }
    /// Samples dropped because the hold buffer was full, since open().
    qint64 droppedCount() const { return m_dropped; }
    /// The plant state to keep with the next commit, so a restart resumes where the plant was.
    void setPlantState(const QByteArray& state) { m_plantState = state; }
    QByteArray plantState() const;
    /// Writes the pending samples, the plant state and one retention batch in one transaction, then
    /// announces recorded(). If the store refuses, nothing of the batch is written, the samples stay
    /// pending and writeFaultChanged() tells; throws KalvoraError only while bulk writing.
    void commit();

    /// Bulk writing for generated history: everything between begin and end is one transaction, so an
    /// interrupted fill leaves no partial history behind.
    void beginBulk();
    void bulkAdd(int trendIndex, qint64 timeMs, double value);
    void endBulk(bool keep);
    bool inBulk() const { return m_bulk; }

    /// Samples of one trend with t0 <= time <= t1, oldest first.
    QList<ArchiveSample> range(const QString& archive, const QString& trend, qint64 t0, qint64 t1) const;
    /// [t0, t1] cut into `buckets` equal spans; per span that holds samples, its first, minimum, maximum
    /// and last sample (at most four, each once, oldest first). For charts: never more than 4 points a
    /// pixel column, and every peak survives.
    QList<ArchiveSample> reduced(const QString& archive, const QString& trend, qint64 t0, qint64 t1, int buckets) const;
    /// A bucket length of at least `wantedMs` and at most a quarter more that whole cells of one coarse
    /// level tile: buckets on its grid are then read as one run of cells instead of cells plus raw
    /// samples at every bucket edge (a month on a chart: one query per curve instead of thousands).
    static qint64 alignedBucketMs(qint64 wantedMs);

    /// Waits until the store has packed every hour that left the live window (benchmarks, tools).
    bool waitPacked(int timeoutMs) { return !m_backend || m_backend->waitPacked(timeoutMs); }

    /// Removes up to one batch of samples older than the retention period before `nowMs`, from one
    /// trend after the other. Returns how many went.
    int removeExpired(qint64 nowMs);

Q_SIGNALS:
    /// New samples are stored, up to `lastTimeMs`; charts that follow the present redraw.
    void recorded(qint64 lastTimeMs);
    /// Writing began to fail (`reason` not empty) or works again.
    void writeFaultChanged(const QString& reason);
    /// The file was found damaged and replaced; `notice` says where the old one went.
    void damagedReplaced(const QString& notice);
    /// The check started by startCheck() is done; `problem` is empty for a sound store.
    void checked(const QString& problem);

private:
    struct TrendSlot {
        QString archive;
        TrendDefinition definition;
        qint64 id = -1;
    };
    struct Pending {
        int slot;
        qint64 timeMs;
        double value;
    };
    qint64 idOf(const QString& archive, const QString& trend) const;
    void checkIndex(int trendIndex) const;
    void bindTrendIds();
    ArchiveRow row(int slot, qint64 timeMs, double value) const;
    ArchiveBackend::Expiry expiry(qint64 nowMs) const;
    void holdRefused(const QString& reason, qint64 newest);
    void forgetIds();

    ArchiveSettings m_settings;
    std::vector<TrendSlot> m_trends;
    QHash<QString, int> m_index;
    /// Reads may replace a damaged file, so even the const ones change the store.
    std::unique_ptr<ArchiveBackend> m_backend;
    std::deque<Pending> m_pending;
    QByteArray m_plantState;
    bool m_bulk = false;
    bool m_warnedNotFinite = false;
    int m_holdLimit = 0;
    QString m_writeFault;
    qint64 m_retryAtMs = 0;
    qint64 m_dropped = 0;
};
