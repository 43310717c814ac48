#pragma once

#include "Project.h"
#include "SqliteDatabase.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

/// One archived value.
struct ArchiveSample {
    qint64 timeMs = 0;
    double value = 0.0;
    bool operator==(const ArchiveSample& other) const = default;
};

/// \brief The trend archives: definitions from the project and the samples in one SQLite file (WAL,
/// schema version in `meta`). Samples are collected and written in one transaction per commit; old
/// samples are removed a small batch at a time. Queries by archive and trend name, case-sensitive;
/// an unknown name gives no samples.
class ArchiveStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveStore)

public:
    static constexpr int SchemaVersion = 1;

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
    /// Writes what is pending and closes the file.
    void close();
    bool isOpen() const { return m_db != nullptr; }
    QString path() const;

    bool isEmpty() const;
    /// The newest sample time of any trend; 0 for an empty archive.
    qint64 lastSampleTime() const;

    /// Collects a sample for the next commit. Values that are not finite numbers are not archived.
    void add(int trendIndex, qint64 timeMs, double value);
    int pendingCount() const { return static_cast<int>(m_pending.size()); }
    /// The plant state to keep with the next commit, so a restart resumes where the plant was.
    void setPlantState(const QByteArray& state) { m_plantState = state; }
    QByteArray plantState() const;
    /// Writes the pending samples, the plant state and one retention batch in one transaction, then
    /// announces recorded(). Throws KalvoraError if the file refuses; nothing of the batch is kept then.
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

    /// Removes up to one batch of samples older than the retention period before `nowMs`, from one
    /// trend after the other. Returns how many went.
    int removeExpired(qint64 nowMs);

Q_SIGNALS:
    /// New samples are on disk, up to `lastTimeMs`; charts that follow the present redraw.
    void recorded(qint64 lastTimeMs);

private:
    struct TrendSlot {
        QString archive;
        TrendDefinition definition;
        qint64 id = -1;
    };
    struct Pending {
        qint64 id;
        qint64 timeMs;
        double value;
    };
    qint64 idOf(const QString& archive, const QString& trend) const;
    void checkIndex(int trendIndex) const;
    void bindTrendIds();
    void insert(qint64 id, qint64 timeMs, double value);
    template <class F>
    void scan(qint64 id, qint64 t0, qint64 t1, F&& onSample) const;

    ArchiveSettings m_settings;
    std::vector<TrendSlot> m_trends;
    QHash<QString, int> m_index;
    std::unique_ptr<SqliteDatabase> m_db;
    SqliteStatement m_insert;
    mutable SqliteStatement m_select;
    SqliteStatement m_expire;
    std::vector<Pending> m_pending;
    QByteArray m_plantState;
    bool m_bulk = false;
    int m_expireCursor = 0;
    bool m_warnedNotFinite = false;
};
