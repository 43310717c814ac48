#pragma once

#include "ArchiveBackend.h"
#include "BulkSpanBuffer.h"
#include "PgArchiveReader.h"
#include "PgBlockPacker.h"
#include "PgArchiveWriter.h"
#include "PgLink.h"

/// \brief The archive on a PostgreSQL server, behind the same interface as the embedded file. A
/// server that goes away (stopped, network gone) refuses writes with the reason; the archive holds the
/// samples meanwhile, and each later write first reconnects, waiting 1 s after the first failed try and
/// twice as long after each further one, up to 30 s. Reads while the server is away give nothing.
///
/// Hours that have left the live window are packed into blocks by a PgBlockPacker on a connection
/// and thread of its own; `Layout::Rows` keeps every sample a row, as archives were before (for
/// comparisons).
class PgArchiveBackend final : public ArchiveBackend {
public:
    enum class Layout { Packed, Rows };
    explicit PgArchiveBackend(QString conninfo, Layout layout = Layout::Packed);
    ~PgArchiveBackend() override;

    /// What RuntimeOptions::historyStore takes: the backend for a project's connection string.
    static std::unique_ptr<ArchiveBackend> create(const QString& conninfo) { return std::make_unique<PgArchiveBackend>(conninfo); }

    QString open(QString* notice) override;
    void close() override;
    bool isOpen() const override { return m_opened; }
    QString location() const override { return m_link.where(); }
    qint64 retryMs() const override { return PgLink::FirstBackoffMs; }

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
    /// Waits until the packer has packed every hour due; false after `timeoutMs`. For tests and
    /// benchmarks.
    bool waitPacked(int timeoutMs) override { return m_packer.waitPacked(timeoutMs); }
    QByteArray plantState() override;

private:
    /// True when the archive has neither rows nor a block of `trend` in the hour from `start`.
    bool isHourEmpty(qint64 trend, qint64 start);
    void bulkRows(const BulkSpanBuffer::Span& span);

    /// Checks the schema and binds the trends again on a fresh connection.
    QString setUp(PgConnection& c);

    QString m_conninfo;
    Layout m_layout;
    PgBlockPacker m_packer;
    PgLink m_link;
    PgConnection& m_c = m_link.connection();
    PgArchiveWriter m_writer{m_c};
    PgArchiveReader m_reader{m_c};
    QList<std::pair<QString, QString>> m_names;
    std::vector<qint64> m_ids;
    std::vector<PgSample> m_bulk;
    /// A back-fill's hours that have left the live window go in as blocks, not as rows to pack later.
    BulkSpanBuffer m_bulkSpans;
    /// Kept until the bulk ends, so an abandoned bulk leaves nothing behind.
    std::vector<BulkSpanBuffer::Span> m_bulkBlocks;
    bool m_inBulk = false;
    bool m_opened = false;
    qint64 m_droppedBefore = 0; ///< months before this are gone already
};
