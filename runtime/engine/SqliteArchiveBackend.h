#pragma once

#include "ArchiveBackend.h"
#include "BulkSpanBuffer.h"
#include "PackedWindow.h"
#include "SqliteDatabase.h"

#include <QObject>

#include <memory>
#include <set>
#include <utility>

class ArchivePackWorker;
class SqliteSpanPacker;

/// \brief The archive in one SQLite file beside the runtime (WAL, schema version in `meta`): samples
/// clustered by trend and time, their rollup cells written in the same transaction (ArchiveRollups),
/// old samples removed a small batch at a time. A file found damaged, at any time, is moved aside with
/// its WAL and a fresh one takes its place; a write that met the damage goes into the fresh file.
///
/// Raw samples older than the live window are packed per trend and hour into blocks (PackedSpans), by
/// a worker with its own connection; a back-fill packs its old hours before it commits. Reads merge
/// blocks and rows and derive the 10 s cells of packed hours, so they answer as if nothing were packed.
class SqliteArchiveBackend final : public ArchiveBackend {
public:
    /// 2: the rollups table. 3: the 10-minute level. 4: packed blocks.
    static constexpr int SchemaVersion = 5;
    /// How long a refused commit waits, in sample time, before it is tried again.
    static constexpr qint64 RetryMs = 10 * 1000;

    /// Whether old raw samples are packed into blocks; Rows keeps one row per sample (blocks already
    /// in the file are still read), for comparing both layouts.
    enum class Layout { Packed, Rows };

    explicit SqliteArchiveBackend(QString path, Layout layout = Layout::Packed);
    ~SqliteArchiveBackend() override;

    QString open(QString* notice) override;
    void close() override;
    bool isOpen() const override { return m_db != nullptr; }
    QString location() const override { return m_db ? m_db->path() : m_path; }
    qint64 retryMs() const override { return RetryMs; }

    std::vector<qint64> bindTrends(const QList<std::pair<QString, QString>>& trends) override;
    void write(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry) override;
    int expire(const Expiry& expiry) override;
    void beginBulk() override;
    void bulkAdd(const ArchiveRow& row) override;
    void endBulk(bool keep) override;

    bool range(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample) override;
    bool pieces(qint64 id, const std::vector<ArchiveRollups::Segment>& plan, const OnCell& onCell) override;
    bool oldest(qint64 id, qint64* timeMs) override;
    qint64 newest(const std::vector<qint64>& ids) override;
    bool isEmpty() override;
    QByteArray plantState() override;

    void startCheck() override;
    void stopCheck() override;
    bool isChecking() const override { return m_check != nullptr; }

    /// Waits until the worker has packed every span due; false after `timeoutMs`. For tests and
    /// benchmarks.
    bool waitPacked(int timeoutMs) override;

private:
    struct Check;
    void prepareStatements();
    void resetStatements();
    void insert(const ArchiveRow& row);
    /// Before a row goes into a packed hour, the hour becomes rows again (once per transaction).
    void unpackFor(const ArchiveRow& row);
    void packDue();
    void startPacking();
    void stopPacking();
    void writeOnce(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry);
    void replaceDamaged(const QString& reason);
    /// Runs `read`; a damaged file found on the way is replaced and `read` gives nothing.
    template <class F>
    bool guardedRead(F&& read);
    void finishCheck(quint64 generation, const QString& problem);
    /// The packed hours of trend `id` that the ranges touch, decoded: samples for `raw`, cells of
    /// 10 s for `cells` (both ascending).
    PackedWindow packedFor(qint64 id, const PackedWindow::Ranges& raw, const PackedWindow::Ranges& cells);
    void scan(qint64 id, qint64 t0, qint64 t1, const PackedWindow& packed, const OnSample& onSample);
    void scanLevel(int level, qint64 id, qint64 from, qint64 to, const OnCell& onCell);
    void scanRows(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample);
    /// The cells of one piece; `whole` holds the level's table cells of the whole read when it was
    /// read in one scan, else the piece is read from the table.
    void scanCells(int level, qint64 id, qint64 from, qint64 to, const PackedWindow& packed, const std::vector<ArchiveAggregate>* whole,
        const OnCell& onCell);
    int expireBlocks(qint64 id, qint64 cutoff, int batch);

    QString m_path;
    Layout m_layout;
    std::unique_ptr<SqliteDatabase> m_db;
    std::unique_ptr<SqliteSpanPacker> m_packer;
    std::unique_ptr<ArchivePackWorker> m_worker;
    BulkSpanBuffer m_bulkSpans;
    /// Hours (trend id, start) found free of blocks in the open transaction.
    std::set<std::pair<qint64, qint64>> m_rowSpans;
    std::vector<qint64> m_ids; ///< the trends bound last, for retention's round through them
    std::vector<std::pair<QString, QString>> m_names;
    SqliteStatement m_insert;
    SqliteStatement m_update;
    SqliteStatement m_select;
    SqliteStatement m_selectRollup;
    SqliteStatement m_expire;
    ArchiveRollups::Collector m_rollups;
    bool m_bulk = false;
    size_t m_expireCursor = 0;
    std::unique_ptr<Check> m_check;
    quint64 m_checkGeneration = 0;
    /// Where the check's result is delivered, on this object's thread.
    QObject m_context;
};
