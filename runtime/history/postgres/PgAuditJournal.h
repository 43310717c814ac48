#pragma once

#include "AuditJournalStore.h"
#include "PgLink.h"

#include <memory>

/// \brief The audit journal on a PostgreSQL server: table `audit_journal` with the rows, ids and hashes
/// of the embedded journal file, and `audit_journal_head` with the newest row's id and hash, written in
/// the same transaction as the rows; a row chained in the file and copied here verifies here. The head
/// row is locked while rows are chained, so two servers writing into one journal take turns. A table
/// altered by hand is refused, naming table and column; a server that goes away refuses writes (the
/// journal holds the rows) and is connected again after a back-off.
class PgAuditJournal final : public AuditJournalStore {
public:
    explicit PgAuditJournal(QString conninfo);

    /// What RuntimeOptions::historyServer takes for the audit journal.
    static std::unique_ptr<AuditJournalStore> create(const QString& conninfo) { return std::make_unique<PgAuditJournal>(conninfo); }

    QString open(QString* notice) override;
    void close() override;
    bool isOpen() const override { return m_opened; }

    void write(const QList<AuditRow>& rows) override;
    QList<AuditRow> history(int limit) override;
    QList<AuditRow> after(qint64 afterId, int limit) override;
    AuditChain::Head head() override;

    /// Creates the tables unless there, then checks them; an empty text on success.
    static QString setUp(PgConnection& c);
    /// Checks the tables without creating anything, for a reader; an empty text on success.
    static QString check(PgConnection& c);
    /// Oldest first, at most `limit` rows after `afterId`; an empty list and `error` set on failure.
    static QList<AuditRow> after(PgConnection& c, qint64 afterId, int limit, QString* error);
    static AuditChain::Head head(PgConnection& c, QString* error);
    /// Inserts rows with the ids and hashes they carry, inside the caller's transaction.
    static QString insert(PgConnection& c, const QList<AuditRow>& rows);
    /// Records the newest row, inside the caller's transaction.
    static QString setHead(PgConnection& c, const AuditChain::Head& head);

private:
    static QList<AuditRow> select(PgConnection& c, const QByteArray& where, const QList<QByteArray>& params, QString* error);

    PgLink m_link;
    bool m_opened = false;
};
