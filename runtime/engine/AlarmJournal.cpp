#include "AlarmJournal.h"

#include "SqliteAlarmJournal.h"

AlarmJournal::AlarmJournal() = default;

AlarmJournal::~AlarmJournal() = default;

QString AlarmJournal::open(const QString& path, QString* notice)
{
    return open(std::make_unique<SqliteAlarmJournal>(path), notice);
}

QString AlarmJournal::open(std::unique_ptr<AlarmJournalStore> store, QString* notice)
{
    return m_keeper.open(std::move(store), notice);
}

QString AlarmJournal::stateName(AlarmState state)
{
    switch (state) {
    case AlarmState::Normal: return QStringLiteral("normal");
    case AlarmState::ActiveUnacknowledged: return QStringLiteral("active");
    case AlarmState::ActiveAcknowledged: return QStringLiteral("active-acknowledged");
    case AlarmState::ReturnedUnacknowledged: return QStringLiteral("returned");
    }
    return QStringLiteral("normal");
}

AlarmState AlarmJournal::stateFromName(const QString& name)
{
    for (AlarmState s : {AlarmState::ActiveUnacknowledged, AlarmState::ActiveAcknowledged, AlarmState::ReturnedUnacknowledged})
        if (stateName(s) == name)
            return s;
    return AlarmState::Normal;
}

QHash<QString, AlarmJournalEntry> AlarmJournal::lastEntries() const
{
    return isOpen() ? m_keeper.store()->lastEntries() : QHash<QString, AlarmJournalEntry>();
}

QList<AlarmJournalEntry> AlarmJournal::history(int limit) const
{
    return isOpen() ? m_keeper.store()->history(limit) : QList<AlarmJournalEntry>();
}

QList<AlarmJournalEntry> AlarmJournal::page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) const
{
    return isOpen() && limit > 0 ? m_keeper.store()->page(filter, beforeId, limit) : QList<AlarmJournalEntry>();
}

qint64 AlarmJournal::count(const AlarmJournalFilter& filter) const
{
    return isOpen() ? m_keeper.store()->count(filter) : 0;
}

int AlarmJournal::removeOlderThan(qint64 cutoffMs, int batch)
{
    return isOpen() ? m_keeper.store()->removeOlderThan(cutoffMs, batch) : 0;
}
