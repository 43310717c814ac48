#pragma once

#include "SqliteDatabase.h"

#include <QList>
#include <QString>

#include <memory>

/// One operator write as the audit journal keeps it.
struct AuditEntry {
    qint64 timeMs = 0;
    QString station;
    QString user;
    QString variable;
    QString oldValue;
    QString newValue;
    QString result; ///< "ok", "refused" or "failed"
    QString reason; ///< why it was refused or failed; empty for "ok"
};

/// \brief The audit journal: every operator write, accepted or not, with station, user, old and new
/// value, in a SQLite file beside the alarm journal.
class AuditJournal final {
public:
    static constexpr int SchemaVersion = 1;

    AuditJournal() = default;
    ~AuditJournal();
    AuditJournal(const AuditJournal&) = delete;
    AuditJournal& operator=(const AuditJournal&) = delete;

    /// Empty on success, otherwise why not; `notice` as for ArchiveStore::open.
    QString open(const QString& path, QString* notice = nullptr);
    void close();
    bool isOpen() const { return m_db != nullptr; }

    /// Writes one entry in its own transaction. Throws KalvoraError when the file refuses it.
    void append(const AuditEntry& entry);
    /// Newest first, at most `limit` entries.
    QList<AuditEntry> history(int limit) const;

    /// How a value is written into the journal: plain text, "" for none.
    static QString valueText(const QVariant& value);

private:
    std::unique_ptr<SqliteDatabase> m_db;
};
