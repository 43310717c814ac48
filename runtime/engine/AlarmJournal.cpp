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
    close();
    store->setDamageHandler(m_onDamage);
    if (const QString error = store->open(notice); !error.isEmpty())
        return error;
    m_store = std::move(store);
    return {};
}

void AlarmJournal::setDamageHandler(AlarmJournalStore::DamageHandler handler)
{
    m_onDamage = std::move(handler);
    if (m_store)
        m_store->setDamageHandler(m_onDamage);
}

void AlarmJournal::close()
{
    if (isOpen())
        retry();
    m_held.clear();
    if (m_store)
        m_store->close();
    m_store.reset();
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

void AlarmJournal::append(const QList<AlarmJournalEntry>& entries)
{
    // A file lost to a damage that could not be replaced holds its rows like a full disk does.
    if (!isOpen() && m_held.fault().isEmpty())
        return;
    m_held.write(entries, [this](const QList<AlarmJournalEntry>& rows) {
        if (!m_store)
            throw KalvoraError(QStringLiteral("Alarm journal: not open"));
        m_store->write(rows);
    });
}

QHash<QString, AlarmJournalEntry> AlarmJournal::lastEntries() const
{
    return isOpen() ? m_store->lastEntries() : QHash<QString, AlarmJournalEntry>();
}

QList<AlarmJournalEntry> AlarmJournal::history(int limit) const
{
    return isOpen() ? m_store->history(limit) : QList<AlarmJournalEntry>();
}

QList<AlarmJournalEntry> AlarmJournal::page(const AlarmJournalFilter& filter, qint64 beforeId, int limit) const
{
    return isOpen() && limit > 0 ? m_store->page(filter, beforeId, limit) : QList<AlarmJournalEntry>();
}

qint64 AlarmJournal::count(const AlarmJournalFilter& filter) const
{
    return isOpen() ? m_store->count(filter) : 0;
}

int AlarmJournal::removeOlderThan(qint64 cutoffMs, int batch)
{
    return isOpen() ? m_store->removeOlderThan(cutoffMs, batch) : 0;
}
