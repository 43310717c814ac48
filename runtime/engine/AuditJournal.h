#pragma once

#include "AuditChain.h"
#include "HeldRows.h"
#include "JournalFile.h"

#include <QList>
#include <QString>

/// One audit row: an operator write, an alarm command or an access event. The journal fills id and hash.
using AuditEntry = AuditRow;

/// \brief The audit journal: every operator action and access event (sign-in, sign-out, failed sign-in,
/// lock, unlock, session ended, write, acknowledge, shelve, unshelve, account change), accepted or not,
/// with station, user, target, old and new value, result and reason, in a SQLite file beside the alarm
/// journal, kept as the archive is (JournalFile). Each row is chained to the one before it (AuditChain);
/// the newest id and hash are kept in the file's meta table in the same transaction, so rows cut off at
/// the end are found too. Rows of a journal written before the chain are chained when the file is
/// upgraded: the chain then vouches for them from that moment on only.
class AuditJournal final {
public:
    static constexpr int SchemaVersion = 2;
    /// Entries held in memory while the file refuses them; beyond it the oldest are dropped.
    static constexpr int HoldLimit = 10000;
    /// Meta keys of the newest row: its id and its hash (hex).
    static QString headIdKey() { return QStringLiteral("audit_head_id"); }
    static QString headHashKey() { return QStringLiteral("audit_head_hash"); }

    AuditJournal();
    ~AuditJournal();
    AuditJournal(const AuditJournal&) = delete;
    AuditJournal& operator=(const AuditJournal&) = delete;

    /// Empty on success, otherwise why not; `notice` as for ArchiveStore::open.
    QString open(const QString& path, QString* notice = nullptr);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    /// Told when a damaged file was moved aside in operation.
    void setDamageHandler(JournalFile::DamageHandler handler) { m_file.setDamageHandler(std::move(handler)); }

    /// Writes the entry, after any still held, in one transaction; a damaged file is replaced first.
    /// When the file refuses it (disk full, I/O error) it is held in memory in order and written by a
    /// later append() or retry(); id and hash are given when a row is written, so the chain stays whole.
    void append(const AuditEntry& entry);
    void retry();
    int heldCount() const { return m_held.count(); }
    qint64 droppedCount() const { return m_held.dropped(); }
    /// Why the last write was refused; empty while writing works.
    QString writeFault() const { return m_held.fault(); }
    /// Newest first, at most `limit` entries, with id and hash.
    QList<AuditEntry> history(int limit) const;

    /// The newest row as the file records it apart from the rows (id 0 and the genesis when empty).
    AuditChain::Head head() const;

    /// How a value is written into the journal: plain text, "" for none.
    static QString valueText(const QVariant& value);

private:
    void write(const QList<AuditEntry>& entries);
    /// Reads may replace a damaged file, so even the const ones change it.
    mutable JournalFile m_file;
    HeldRows<AuditEntry> m_held{QStringLiteral("Audit journal"), HoldLimit};
};
