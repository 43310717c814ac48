#pragma once

#include "JournalFile.h"

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
/// value, in a SQLite file beside the alarm journal, kept as the archive is (JournalFile).
class AuditJournal final {
public:
    static constexpr int SchemaVersion = 1;

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

    /// Writes one entry in its own transaction; a damaged file is replaced first. Throws KalvoraError
    /// when the file refuses it.
    void append(const AuditEntry& entry);
    /// Newest first, at most `limit` entries.
    QList<AuditEntry> history(int limit) const;

    /// How a value is written into the journal: plain text, "" for none.
    static QString valueText(const QVariant& value);

private:
    /// Reads may replace a damaged file, so even the const ones change it.
    mutable JournalFile m_file;
};
