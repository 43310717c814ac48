#pragma once

#include "JournalFile.h"

#include <QHash>
#include <QList>
#include <QString>

#include <limits>
#include <memory>

enum class AlarmState { Normal, ActiveUnacknowledged, ActiveAcknowledged, ReturnedUnacknowledged };

/// One transition of one alarm, with the alarm's times after it.
struct AlarmJournalEntry {
    qint64 timeMs = 0;
    QString alarm;
    QString group;
    QString event; ///< "came", "went", "acknowledged", "shelved", "unshelved" or "shelve-expired"
    AlarmState state = AlarmState::Normal;
    qint64 cameMs = 0;
    qint64 wentMs = 0;
    qint64 acknowledgedMs = 0;
    double value = 0.0;
    QString station; ///< who acknowledged, shelved or unshelved ("host/user"); empty for the process and the clock
    qint64 id = 0;   ///< the entry's place in the journal, rising; set when read back
    qint64 shelvedUntilMs = 0; ///< when a shelved alarm comes back by itself; 0 while not shelved
};

/// Which journal entries a history asks for: one alarm or a whole group, within a time span.
struct AlarmJournalFilter {
    QString alarm;  ///< empty: every alarm of the group
    QString group;  ///< empty: every group
    qint64 fromMs = 0;
    qint64 untilMs = std::numeric_limits<qint64>::max();
};

/// \brief The alarm journal: every alarm transition in a SQLite file, so history and the alarms still
/// waiting for acknowledgement survive a restart. The file is kept as the archive is (JournalFile): a
/// damaged one is moved aside and a fresh one takes the rows; reads of a damaged file give nothing.
class AlarmJournal final {
public:
    static constexpr int SchemaVersion = 3;
    /// Rows held in memory while the file refuses them; beyond it the oldest are dropped.
    static constexpr int HoldLimit = 10000;

    AlarmJournal();
    ~AlarmJournal();
    AlarmJournal(const AlarmJournal&) = delete;
    AlarmJournal& operator=(const AlarmJournal&) = delete;

    /// Empty on success, otherwise why not; `notice` as for ArchiveStore::open.
    QString open(const QString& path, QString* notice = nullptr);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    /// Told when a damaged file was moved aside in operation.
    void setDamageHandler(JournalFile::DamageHandler handler) { m_file.setDamageHandler(std::move(handler)); }

    /// Writes the entries, after any still held, in one transaction. When the file refuses them (disk
    /// full, I/O error) they are held in memory in order and written by a later append() or retry().
    void append(const QList<AlarmJournalEntry>& entries);
    /// Tries again to write what is held.
    void retry() { append({}); }
    int heldCount() const { return static_cast<int>(m_held.size()); }
    qint64 droppedCount() const { return m_dropped; }
    /// Why the last write was refused; empty while writing works.
    QString writeFault() const { return m_writeFault; }
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
    static AlarmJournalEntry read(const SqliteStatement& row);
    /// Writes every held entry in one transaction.
    void writeHeld();

    /// Reads may replace a damaged file, so even the const ones change it.
    mutable JournalFile m_file;
    QList<AlarmJournalEntry> m_held;
    QString m_writeFault;
    qint64 m_dropped = 0;
};
