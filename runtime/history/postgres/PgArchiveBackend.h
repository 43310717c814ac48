#pragma once

#include "ArchiveBackend.h"
#include "PgArchiveReader.h"
#include "PgArchiveWriter.h"
#include "PgConnection.h"

#include <QElapsedTimer>

/// \brief The archive on a PostgreSQL server, behind the same interface as the embedded file. A
/// server that goes away (stopped, network gone) refuses writes with the reason; the archive holds the
/// samples meanwhile, and each later write first reconnects, waiting 1 s after the first failed try and
/// twice as long after each further one, up to 30 s. Reads while the server is away give nothing.
class PgArchiveBackend final : public ArchiveBackend {
public:
    static constexpr qint64 FirstBackoffMs = 1000;
    static constexpr qint64 LastBackoffMs = 30'000;

    explicit PgArchiveBackend(QString conninfo);

    /// What RuntimeOptions::historyStore takes: the backend for a project's connection string.
    static std::unique_ptr<ArchiveBackend> create(const QString& conninfo) { return std::make_unique<PgArchiveBackend>(conninfo); }

    QString open(QString* notice) override;
    void close() override;
    bool isOpen() const override { return m_opened; }
    QString location() const override { return m_where; }
    qint64 retryMs() const override { return FirstBackoffMs; }

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

private:
    /// Throws when the server cannot be reached now; reconnects once the back-off has passed.
    void connect();
    /// Whether a read can go to the server; a lost one is tried again after the back-off.
    bool reachable();
    /// The error of a failed statement as a KalvoraError; a lost connection starts the back-off.
    [[noreturn]] void fail(const QString& error);
    QString reopen();

    QString m_conninfo;
    QString m_where;
    PgConnection m_c;
    PgArchiveWriter m_writer{m_c};
    PgArchiveReader m_reader{m_c};
    QList<std::pair<QString, QString>> m_names;
    std::vector<qint64> m_ids;
    std::vector<PgSample> m_bulk;
    bool m_inBulk = false;
    bool m_opened = false;
    qint64 m_droppedBefore = 0; ///< months before this are gone already
    qint64 m_backoffMs = 0;
    QElapsedTimer m_sinceFailure;
    QString m_lastError;
};
