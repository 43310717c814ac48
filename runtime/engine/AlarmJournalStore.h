#pragma once

#include "AlarmJournalEntry.h"

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

/// \brief Where the alarm journal keeps its rows: a SQLite file beside the runtime or a database
/// server. AlarmJournal keeps the rows the store refuses and tries them again.
///
/// write() and removeOlderThan() throw KalvoraError when the store refuses, and then nothing of the
/// call is kept. Reads of a store that cannot answer give nothing.
class AlarmJournalStore {
public:
    /// Told, with the store named, when a damaged store was replaced in operation (or could not be).
    using DamageHandler = std::function<void(const QString& notice)>;
    using Factory = std::function<std::unique_ptr<AlarmJournalStore>()>;

    virtual ~AlarmJournalStore() = default;

    /// Empty on success, otherwise why not; `notice` receives what the operator should know although
    /// it worked (a damaged file moved aside).
    virtual QString open(QString* notice) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void setDamageHandler(DamageHandler) {}

    /// Every row in one transaction, in order.
    virtual void write(const QList<AlarmJournalEntry>& rows) = 0;
    virtual QHash<QString, AlarmJournalEntry> lastEntries() = 0;
    virtual QList<AlarmJournalEntry> history(int limit) = 0;
    virtual QList<AlarmJournalEntry> page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) = 0;
    virtual qint64 count(const AlarmJournalFilter& filter) = 0;
    /// Removes up to `batch` entries older than `cutoffMs`, keeping every alarm's newest; how many went.
    virtual int removeOlderThan(qint64 cutoffMs, int batch) = 0;
};
