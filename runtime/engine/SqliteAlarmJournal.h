#pragma once

#include "AlarmJournalStore.h"
#include "JournalFile.h"

/// \brief The alarm journal in a SQLite file, kept as the archive is (JournalFile): a damaged one is
/// moved aside and a fresh one takes the rows; reads of a damaged file give nothing.
class SqliteAlarmJournal final : public AlarmJournalStore {
public:
    static constexpr int SchemaVersion = 3;

    explicit SqliteAlarmJournal(QString path);

    QString open(QString* notice) override;
    void close() override { m_file.close(); }
    bool isOpen() const override { return m_file.isOpen(); }
    void setDamageHandler(DamageHandler handler) override { m_file.setDamageHandler(std::move(handler)); }

    void write(const QList<AlarmJournalEntry>& rows) override;
    QHash<QString, AlarmJournalEntry> lastEntries() override;
    QList<AlarmJournalEntry> history(int limit) override;
    QList<AlarmJournalEntry> page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) override;
    qint64 count(const AlarmJournalFilter& filter) override;
    int removeOlderThan(qint64 cutoffMs, int batch) override;
    /// Oldest first: at most `limit` entries after the one with id `afterId`; for copying the file.
    QList<AlarmJournalEntry> after(qint64 afterId, int limit);

private:
    static AlarmJournalEntry read(const SqliteStatement& row);
    void writeRows(const QList<AlarmJournalEntry>& rows);

    QString m_path;
    JournalFile m_file;
};
