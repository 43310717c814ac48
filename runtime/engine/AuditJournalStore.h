#pragma once

#include "AuditChain.h"

#include <QList>
#include <QString>

#include <functional>

/// \brief Where the audit journal keeps its rows: a SQLite file beside the runtime or a database
/// server. The store chains what it writes: inside the transaction that writes the rows it reads its
/// newest row, gives the new rows their ids and hashes after it (AuditChain) and records the new newest
/// row apart from the rows, so rows cut off at the end are found. AuditJournal keeps the rows a store
/// refuses and hands them over again.
///
/// write() throws KalvoraError when the store refuses, and then nothing of the call is kept. Reads of a
/// store that cannot answer give nothing.
class AuditJournalStore {
public:
    /// Told, with the store named, when a damaged store was replaced in operation (or could not be).
    using DamageHandler = std::function<void(const QString& notice)>;

    virtual ~AuditJournalStore() = default;

    /// Empty on success, otherwise why not; `notice` receives what the operator should know although
    /// it worked (a damaged file moved aside).
    virtual QString open(QString* notice) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    virtual void setDamageHandler(DamageHandler) {}

    /// Chains `rows` (their ids and hashes are ignored) after the newest row and writes them, in order,
    /// in one transaction with the record of the new newest row.
    virtual void write(const QList<AuditRow>& rows) = 0;
    /// Newest first, at most `limit` rows, with id and hash.
    virtual QList<AuditRow> history(int limit) = 0;
    /// Oldest first, at most `limit` rows after the one with id `afterId`; for checking and copying.
    virtual QList<AuditRow> after(qint64 afterId, int limit) = 0;
    /// The newest row as the store records it apart from the rows (id 0 and the genesis when empty).
    virtual AuditChain::Head head() = 0;
};
