#pragma once

#include "AuditChain.h"
#include "AuditJournalStore.h"
#include "JournalKeeper.h"

#include <QList>
#include <QString>

#include <memory>

/// One audit row: an operator write, an alarm command or an access event. The journal fills id and hash.
using AuditEntry = AuditRow;

/// \brief The audit journal: every operator action and access event (sign-in, sign-out, failed sign-in,
/// lock, unlock, session ended, write, acknowledge, shelve, unshelve, account change), accepted or not,
/// with station, user, target, old and new value, result and reason, in a store (AuditJournalStore: a
/// SQLite file beside the alarm journal by default, or a database server). Each row is chained to the
/// one before it (AuditChain); the newest id and hash are kept with the rows in the same transaction,
/// so rows cut off at the end are found too.
class AuditJournal final {
public:
    /// Entries held in memory while the store refuses them; beyond it the oldest are dropped.
    static constexpr int HoldLimit = 10000;

    AuditJournal();
    ~AuditJournal();
    AuditJournal(const AuditJournal&) = delete;
    AuditJournal& operator=(const AuditJournal&) = delete;

    /// Opens the journal file; empty on success, otherwise why not; `notice` as for ArchiveStore::open.
    QString open(const QString& path, QString* notice = nullptr);
    /// Opens the journal in `store`, as open(path) does.
    QString open(std::unique_ptr<AuditJournalStore> store, QString* notice = nullptr);
    void close() { m_keeper.close(); }
    bool isOpen() const { return m_keeper.isOpen(); }
    /// Told when a damaged file was moved aside in operation.
    void setDamageHandler(AuditJournalStore::DamageHandler handler) { m_keeper.setDamageHandler(std::move(handler)); }

    /// Writes the entry, after any still held, in one transaction. When the store refuses it (disk full,
    /// I/O error, server gone) it is held in memory in order and written by a later append() or retry();
    /// id and hash are given when a row is written, so the chain stays whole.
    void append(const AuditEntry& entry) { m_keeper.write({entry}); }
    void retry() { m_keeper.write({}); }
    int heldCount() const { return m_keeper.held().count(); }
    qint64 droppedCount() const { return m_keeper.held().dropped(); }
    /// Why the last write was refused; empty while writing works.
    QString writeFault() const { return m_keeper.held().fault(); }
    /// Newest first, at most `limit` entries, with id and hash.
    QList<AuditEntry> history(int limit) const;
    /// The newest row as the store records it apart from the rows (id 0 and the genesis when empty).
    AuditChain::Head head() const;

    /// How a value is written into the journal: plain text, "" for none.
    static QString valueText(const QVariant& value);

private:
    /// Reads of a file may replace a damaged one, so even the const ones change the store.
    JournalKeeper<AuditJournalStore, AuditEntry> m_keeper{QStringLiteral("Audit journal"), HoldLimit};
};
