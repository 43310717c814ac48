#include "SqliteAlarmJournal.h"

#include "AlarmJournal.h"

#include <sqlite3.h>

namespace {

void createSchema(SqliteDatabase& db, int fromVersion)
{
    if (fromVersion < 1) {
        db.exec("CREATE TABLE journal(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, alarm TEXT NOT NULL, alarm_group TEXT NOT NULL, "
                "event TEXT NOT NULL, state TEXT NOT NULL, came INTEGER NOT NULL, went INTEGER NOT NULL, acknowledged INTEGER NOT NULL, "
                "value REAL)");
        db.exec("CREATE INDEX journal_alarm ON journal(alarm, id)");
        db.exec("CREATE INDEX journal_time ON journal(time)");
    }
    if (fromVersion < 2) {
        // Who acknowledged; older entries simply have none.
        db.exec("ALTER TABLE journal ADD COLUMN station TEXT");
        db.exec("CREATE INDEX journal_group ON journal(alarm_group, id)");
    }
    if (fromVersion < 3) {
        // Until when an alarm is shelved, so a restart keeps it off the list for the rest of its time.
        db.exec("ALTER TABLE journal ADD COLUMN shelved_until INTEGER");
    }
}

constexpr const char* Columns = "time, alarm, alarm_group, event, state, came, went, acknowledged, value, station, id, shelved_until";
constexpr const char* Insert = "INSERT INTO journal(time, alarm, alarm_group, event, state, came, went, acknowledged, value, station, shelved_until) "
                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
// The newest entry of an alarm stays: it is what a restart restores an unacknowledged alarm from.
constexpr const char* Trim = "DELETE FROM journal WHERE id IN (SELECT id FROM journal WHERE time < ?1 "
                             "AND id NOT IN (SELECT max(id) FROM journal GROUP BY alarm) ORDER BY time LIMIT ?2)";

/// The WHERE clause of a filter, binding ?1 to ?4. Only the terms the filter uses are written: a term
/// such as "(?1 = '' OR alarm = ?1)" keeps SQLite off the alarm and group indexes, and a history of one
/// alarm among 100,000 rows would scan them all. With an alarm given, its group is only checked ("+"
/// keeps SQLite from walking the whole group's index instead of the alarm's few rows).
QByteArray filterClause(const AlarmJournalFilter& filter)
{
    QByteArray clause = " WHERE time >= ?3 AND time <= ?4";
    if (!filter.alarm.isEmpty())
        clause += " AND alarm = ?1";
    if (!filter.group.isEmpty())
        clause += filter.alarm.isEmpty() ? " AND alarm_group = ?2" : " AND +alarm_group = ?2";
    return clause;
}

void bindFilter(SqliteStatement& statement, const AlarmJournalFilter& filter)
{
    if (!filter.alarm.isEmpty())
        statement.bind(1, filter.alarm);
    if (!filter.group.isEmpty())
        statement.bind(2, filter.group);
    statement.bind(3, filter.fromMs).bind(4, filter.untilMs);
}

} // namespace

SqliteAlarmJournal::SqliteAlarmJournal(QString path)
    : m_path(std::move(path))
    // Every column the reads use, so a file whose table lacks one is refused at opening.
    , m_file(QStringLiteral("alarm journal"), SchemaVersion, createSchema,
          {Insert, Trim, QByteArrayLiteral("SELECT ") + Columns + " FROM journal WHERE alarm = ?1 AND alarm_group = ?2"})
{
}

QString SqliteAlarmJournal::open(QString* notice)
{
    return m_file.open(m_path, notice);
}

void SqliteAlarmJournal::write(const QList<AlarmJournalEntry>& rows)
{
    m_file.write([&] { writeRows(rows); });
}

void SqliteAlarmJournal::writeRows(const QList<AlarmJournalEntry>& rows)
{
    SqliteTransaction transaction(m_file.db());
    SqliteStatement insert = m_file.db().prepare(Insert);
    for (const AlarmJournalEntry& e : rows) {
        insert.bind(1, e.timeMs).bind(2, e.alarm).bind(3, e.group).bind(4, e.event).bind(5, AlarmJournal::stateName(e.state));
        insert.bind(6, e.cameMs).bind(7, e.wentMs).bind(8, e.acknowledgedMs).bind(9, e.value);
        if (e.station.isEmpty())
            insert.bindNull(10);
        else
            insert.bind(10, e.station);
        if (e.shelvedUntilMs > 0)
            insert.bind(11, e.shelvedUntilMs);
        else
            insert.bindNull(11);
        insert.run();
    }
    transaction.commit();
}

AlarmJournalEntry SqliteAlarmJournal::read(const SqliteStatement& row)
{
    AlarmJournalEntry e;
    e.timeMs = row.int64(0);
    e.alarm = row.text(1);
    e.group = row.text(2);
    e.event = row.text(3);
    e.state = AlarmJournal::stateFromName(row.text(4));
    e.cameMs = row.int64(5);
    e.wentMs = row.int64(6);
    e.acknowledgedMs = row.int64(7);
    e.value = row.real(8);
    e.station = row.isNull(9) ? QString() : row.text(9);
    e.id = row.int64(10);
    e.shelvedUntilMs = row.isNull(11) ? 0 : row.int64(11);
    return e;
}

QHash<QString, AlarmJournalEntry> SqliteAlarmJournal::lastEntries()
{
    QHash<QString, AlarmJournalEntry> result;
    const QByteArray sql = QByteArrayLiteral("SELECT ") + Columns + " FROM journal WHERE id IN (SELECT max(id) FROM journal GROUP BY alarm)";
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql.constData());
        while (select.step()) {
            AlarmJournalEntry e = read(select);
            result.insert(e.alarm, e);
        }
    });
    return ok ? result : QHash<QString, AlarmJournalEntry>();
}

QList<AlarmJournalEntry> SqliteAlarmJournal::history(int limit)
{
    QList<AlarmJournalEntry> result;
    const QByteArray sql = QByteArrayLiteral("SELECT ") + Columns + " FROM journal ORDER BY id DESC LIMIT ?1";
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql.constData());
        select.bind(1, limit);
        while (select.step())
            result.append(read(select));
    });
    return ok ? result : QList<AlarmJournalEntry>();
}

QList<AlarmJournalEntry> SqliteAlarmJournal::page(const AlarmJournalFilter& filter, qint64 beforeId, int limit)
{
    QList<AlarmJournalEntry> result;
    if (limit <= 0)
        return result;
    // Paged by id rather than OFFSET, so a late page costs what the first does.
    const QByteArray sql = QByteArrayLiteral("SELECT ") + Columns + " FROM journal" + filterClause(filter)
        + " AND id < ?5 ORDER BY id DESC LIMIT ?6";
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql.constData());
        bindFilter(select, filter);
        select.bind(5, beforeId > 0 ? beforeId : std::numeric_limits<qint64>::max()).bind(6, limit);
        result.reserve(limit);
        while (select.step())
            result.append(read(select));
    });
    return ok ? result : QList<AlarmJournalEntry>();
}

qint64 SqliteAlarmJournal::count(const AlarmJournalFilter& filter)
{
    qint64 n = 0;
    const QByteArray sql = QByteArrayLiteral("SELECT count(*) FROM journal") + filterClause(filter);
    m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql.constData());
        bindFilter(select, filter);
        n = select.step() ? select.int64(0) : 0;
    });
    return n;
}

int SqliteAlarmJournal::removeOlderThan(qint64 cutoffMs, int batch)
{
    if (!m_file.isOpen())
        return 0;
    int removed = 0;
    m_file.write([&] {
        SqliteStatement remove = m_file.db().prepare(Trim);
        remove.bind(1, cutoffMs).bind(2, batch).run();
        removed = sqlite3_changes(m_file.db().handle());
    });
    return removed;
}

QList<AlarmJournalEntry> SqliteAlarmJournal::after(qint64 afterId, int limit)
{
    QList<AlarmJournalEntry> result;
    const QByteArray sql = QByteArrayLiteral("SELECT ") + Columns + " FROM journal WHERE id > ?1 ORDER BY id LIMIT ?2";
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql.constData());
        select.bind(1, afterId).bind(2, limit);
        while (select.step())
            result.append(read(select));
    });
    return ok ? result : QList<AlarmJournalEntry>();
}
