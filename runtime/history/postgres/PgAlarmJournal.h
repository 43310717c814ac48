#pragma once

#include "AlarmJournalStore.h"
#include "PgLink.h"

/// \brief The alarm journal on a PostgreSQL server: table `alarm_journal` with the rows and queries of
/// the embedded journal file (ids rising in order of writing, pages by id, the newest entry of every
/// alarm kept by trimming). Refuses a table altered by hand, naming table and column; a server that
/// goes away refuses writes (the journal holds the rows) and is connected again after a back-off.
class PgAlarmJournal final : public AlarmJournalStore {
public:
    explicit PgAlarmJournal(QString conninfo);

    /// What RuntimeOptions::historyServer takes for the alarm journal.
    static std::unique_ptr<AlarmJournalStore> create(const QString& conninfo) { return std::make_unique<PgAlarmJournal>(conninfo); }

    QString open(QString* notice) override;
    void close() override;
    bool isOpen() const override { return m_opened; }

    void write(const QList<AlarmJournalEntry>& rows) override;
    QHash<QString, AlarmJournalEntry> lastEntries() override;
    QList<AlarmJournalEntry> history(int limit) override;
    QList<AlarmJournalEntry> page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) override;
    qint64 count(const AlarmJournalFilter& filter) override;
    int removeOlderThan(qint64 cutoffMs, int batch) override;

    /// Creates the table unless there, then checks its columns; an empty text on success.
    static QString setUp(PgConnection& c);
    /// Inserts the rows in order inside the caller's transaction; an empty text on success.
    static QString insert(PgConnection& c, const QList<AlarmJournalEntry>& rows);

private:
    QList<AlarmJournalEntry> select(const QByteArray& where, const QList<QByteArray>& params);

    PgLink m_link;
    bool m_opened = false;
};
