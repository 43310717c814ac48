#pragma once

#include "AuditJournalStore.h"
#include "JournalFile.h"

/// \brief The audit journal in a SQLite file (table `audit`, the newest row's id and hash in `meta`),
/// kept as the archive is (JournalFile): a damaged one is moved aside and a fresh one, with a fresh
/// chain, takes the rows. Rows of a journal written before the chain are chained when the file is
/// upgraded: the chain then vouches for them from that moment on only.
class SqliteAuditJournal final : public AuditJournalStore {
public:
    static constexpr int SchemaVersion = 2;
    /// Meta keys of the newest row: its id and its hash (hex).
    static QString headIdKey() { return QStringLiteral("audit_head_id"); }
    static QString headHashKey() { return QStringLiteral("audit_head_hash"); }

    explicit SqliteAuditJournal(QString path);

    QString open(QString* notice) override { return m_file.open(m_path, notice); }
    void close() override { m_file.close(); }
    bool isOpen() const override { return m_file.isOpen(); }
    void setDamageHandler(DamageHandler handler) override { m_file.setDamageHandler(std::move(handler)); }

    void write(const QList<AuditRow>& rows) override;
    QList<AuditRow> history(int limit) override;
    QList<AuditRow> after(qint64 afterId, int limit) override;
    AuditChain::Head head() override;

private:
    QList<AuditRow> select(const char* sql, qint64 first, int limit);

    QString m_path;
    JournalFile m_file;
};
