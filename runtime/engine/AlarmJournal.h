#pragma once

#include "AlarmJournalEntry.h"
#include "AlarmJournalStore.h"
#include "JournalKeeper.h"

#include <QHash>
#include <QList>
#include <QString>

#include <limits>
#include <memory>

/// \brief The alarm journal: every alarm transition in a store (AlarmJournalStore: a SQLite file by
/// default, or a database server), so history and the alarms still waiting for acknowledgement survive
/// a restart. Rows the store refuses are held in memory in order and written later.
class AlarmJournal final {
public:
    static constexpr int SchemaVersion = 3;
    /// Rows held in memory while the store refuses them; beyond it the oldest are dropped.
    static constexpr int HoldLimit = 10000;

    AlarmJournal();
    ~AlarmJournal();
    AlarmJournal(const AlarmJournal&) = delete;
    AlarmJournal& operator=(const AlarmJournal&) = delete;

    /// Opens the journal file; empty on success, otherwise why not; `notice` as for ArchiveStore::open.
    QString open(const QString& path, QString* notice = nullptr);
    /// Opens the journal in `store`, as open(path) does.
    QString open(std::unique_ptr<AlarmJournalStore> store, QString* notice = nullptr);
    void close() { m_keeper.close(); }
    bool isOpen() const { return m_keeper.isOpen(); }
    /// Told when a damaged file was moved aside in operation.
    void setDamageHandler(AlarmJournalStore::DamageHandler handler) { m_keeper.setDamageHandler(std::move(handler)); }

    /// Writes the entries, after any still held, in one transaction. When the store refuses them (disk
    /// full, I/O error, server gone) they are held in memory in order and written by a later append()
    /// or retry().
    void append(const QList<AlarmJournalEntry>& entries) { m_keeper.write(entries); }
    /// Tries again to write what is held.
    void retry() { append({}); }
    int heldCount() const { return m_keeper.held().count(); }
    qint64 droppedCount() const { return m_keeper.held().dropped(); }
    /// Why the last write was refused; empty while writing works.
    QString writeFault() const { return m_keeper.held().fault(); }
    /// The newest entry of every alarm the journal knows.
    QHash<QString, AlarmJournalEntry> lastEntries() const;
    /// Newest first, at most `limit` entries.
    QList<AlarmJournalEntry> history(int limit) const;
    /// One page of the entries the filter picks, newest first: those older than `beforeId`
    /// (0: from the newest), at most `limit`. The next page starts before the last entry's id.
    QList<AlarmJournalEntry> page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) const;
    /// How many entries the filter picks.
    qint64 count(const AlarmJournalFilter& filter) const;
    /// Removes up to `batch` entries older than `cutoffMs`; returns how many went.
    int removeOlderThan(qint64 cutoffMs, int batch);

    static QString stateName(AlarmState state);
    static AlarmState stateFromName(const QString& name);

private:
    /// Reads of a file may replace a damaged one, so even the const ones change the store.
    JournalKeeper<AlarmJournalStore, AlarmJournalEntry> m_keeper{QStringLiteral("Alarm journal"), HoldLimit};
};
