#pragma once

#include "ArchiveStoreRollups.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

/// One sample on its way to the store: its trend's place in the catalogue and its id in the store.
struct ArchiveRow {
    int slot = 0;
    qint64 id = 0;
    qint64 timeMs = 0;
    double value = 0.0;
};

/// \brief Where the archive keeps its samples, rollup cells and plant state: a SQLite file beside the
/// runtime or a database server. ArchiveStore keeps everything else (catalogue, pending samples, the
/// hold buffer, the reduction) and talks to the store only through this.
///
/// Writes throw KalvoraError when the store refuses them, and then nothing of the batch is kept. Reads
/// return false when they gave nothing (a damaged file replaced, a server gone); other failures throw.
class ArchiveBackend {
public:
    /// What the store tells its archive on its own, from the archive's thread.
    struct Events {
        /// A damaged store was replaced by a fresh one; `notice` says where the old one went.
        std::function<void(const QString& notice)> replaced;
        /// The store is gone for good (a damaged file that could not be replaced).
        std::function<void(const QString& reason)> lost;
        /// The check started by startCheck() is done; `problem` empty for a sound store.
        std::function<void(const QString& problem)> checked;
    };
    /// One retention batch: at most `batch` samples older than `cutoffMs`.
    struct Expiry {
        qint64 cutoffMs = 0;
        int batch = 0;
    };
    using OnSample = std::function<void(qint64 timeMs, double value)>;
    using OnCell = std::function<void(const ArchiveAggregate& cell)>;
    using Factory = std::function<std::unique_ptr<ArchiveBackend>()>;

    virtual ~ArchiveBackend() = default;
    void setEvents(Events events) { m_events = std::move(events); }

    /// Opens or creates the store; empty on success, otherwise what is wrong. `notice` receives what
    /// the operator should know although it worked.
    virtual QString open(QString* notice) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    /// The file's path or the server's database, for messages.
    virtual QString location() const = 0;
    /// How long, in sample time, the archive waits before it hands a refused batch over again.
    virtual qint64 retryMs() const = 0;

    /// The store's ids of (archive, trend), in the same order; unknown ones are added.
    virtual std::vector<qint64> bindTrends(const QList<std::pair<QString, QString>>& trends) = 0;
    /// In one transaction: the rows (a sample already stored takes the new value and its cells are
    /// computed afresh), the plant state unless empty, and one retention batch.
    virtual void write(const std::vector<ArchiveRow>& rows, const QByteArray& plantState, const Expiry& expiry) = 0;
    /// One retention batch on its own; returns how many samples went.
    virtual int expire(const Expiry& expiry) = 0;
    /// Everything between begin and end is one transaction.
    virtual void beginBulk() = 0;
    virtual void bulkAdd(const ArchiveRow& row) = 0;
    virtual void endBulk(bool keep) = 0;

    /// Samples of trend `id` with t0 <= time <= t1, oldest first.
    virtual bool range(qint64 id, qint64 t0, qint64 t1, const OnSample& onSample) = 0;
    /// The pieces in order: raw samples as aggregates of one sample each (level -1), cells otherwise.
    virtual bool pieces(qint64 id, const std::vector<ArchiveRollups::Segment>& plan, const OnCell& onCell) = 0;
    /// The oldest sample time of trend `id`; false when it has none (or the read gave nothing).
    virtual bool oldest(qint64 id, qint64* timeMs) = 0;
    /// The newest sample time of the trends `ids`; 0 when they have none.
    virtual qint64 newest(const std::vector<qint64>& ids) = 0;
    virtual bool isEmpty() = 0;
    virtual QByteArray plantState() = 0;

    /// Waits until every hour that left the live window is packed; false when that took longer than
    /// `timeoutMs`. A store that does not pack is always done.
    virtual bool waitPacked(int timeoutMs)
    {
        Q_UNUSED(timeoutMs);
        return true;
    }

    /// A check of the whole store on the side; Events::checked tells the result.
    virtual void startCheck() {}
    virtual void stopCheck() {}
    virtual bool isChecking() const { return false; }

protected:
    Events m_events;
};
