#include "PgAlarmJournal.h"

#include "AlarmJournal.h"
#include "HistoryLog.h"
#include "KalvoraError.h"
#include "PgTable.h"

namespace {

const QList<PgTable::Column>& columns()
{
    static const QList<PgTable::Column> list{{"id", "bigint"}, {"time", "bigint"}, {"alarm", "text"}, {"alarm_group", "text"}, {"event", "text"},
        {"state", "text"}, {"came", "bigint"}, {"went", "bigint"}, {"acknowledged", "bigint"}, {"value", "double precision"},
        {"station", "text"}, {"shelved_until", "bigint"}};
    return list;
}

constexpr const char* Selected = "SELECT time, alarm, alarm_group, event, state, came, went, acknowledged, value, station, id, shelved_until "
                                 "FROM alarm_journal ";

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

/// The filter's terms over $1..$4, only those it uses, so the server takes the alarm's or group's index.
QByteArray filterClause(const AlarmJournalFilter& filter, QList<QByteArray>& params)
{
    // An empty name must reach the server as '' (a null QByteArray would be NULL).
    const auto text = [](const QString& name) { return name.isEmpty() ? QByteArray("") : name.toUtf8(); };
    params = {text(filter.alarm), text(filter.group), number(filter.fromMs), number(filter.untilMs)};
    QByteArray clause = "WHERE time >= $3 AND time <= $4";
    clause += filter.alarm.isEmpty() ? " AND $1 = ''" : " AND alarm = $1";
    clause += filter.group.isEmpty() ? " AND $2 = ''" : " AND alarm_group = $2";
    return clause;
}

} // namespace

PgAlarmJournal::PgAlarmJournal(QString conninfo)
    : m_link(std::move(conninfo), &PgAlarmJournal::setUp)
{
}

QString PgAlarmJournal::setUp(PgConnection& c)
{
    // Two servers starting at once: one creates, the other finds it done.
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        return transaction.error();
    for (const QByteArray& sql : {
             QByteArray("SELECT pg_advisory_xact_lock(7413021)"),
             QByteArray("CREATE TABLE IF NOT EXISTS alarm_journal(id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, time bigint NOT NULL, "
                        "alarm text NOT NULL, alarm_group text NOT NULL, event text NOT NULL, state text NOT NULL, came bigint NOT NULL, "
                        "went bigint NOT NULL, acknowledged bigint NOT NULL, value double precision, station text, shelved_until bigint)"),
             QByteArray("CREATE INDEX IF NOT EXISTS alarm_journal_alarm ON alarm_journal(alarm, id)"),
             QByteArray("CREATE INDEX IF NOT EXISTS alarm_journal_group ON alarm_journal(alarm_group, id)"),
             QByteArray("CREATE INDEX IF NOT EXISTS alarm_journal_time ON alarm_journal(time)")})
        if (QString e = c.exec(sql).error(); !e.isEmpty())
            return e;
    if (QString e = PgTable::checkColumns(c, QStringLiteral("Alarm journal"), "alarm_journal", columns()); !e.isEmpty())
        return e;
    return transaction.commit();
}

QString PgAlarmJournal::open(QString*)
{
    close();
    const QString error = m_link.open();
    m_opened = error.isEmpty();
    return error;
}

void PgAlarmJournal::close()
{
    m_link.close();
    m_opened = false;
}

void PgAlarmJournal::write(const QList<AlarmJournalEntry>& rows)
{
    m_link.ensure();
    PgConnection& c = m_link.connection();
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        m_link.fail(transaction.error());
    if (QString e = insert(c, rows); !e.isEmpty())
        m_link.fail(e);
    if (QString e = transaction.commit(); !e.isEmpty())
        m_link.fail(e);
}

QString PgAlarmJournal::insert(PgConnection& c, const QList<AlarmJournalEntry>& rows)
{
    // One statement for the whole list; ids rise in list order.
    QList<QList<QByteArray>> columnsOf(11);
    const auto text = &PgTable::text;
    for (const AlarmJournalEntry& e : rows) {
        const QList<QByteArray> values{number(e.timeMs), text(e.alarm), text(e.group), text(e.event), text(AlarmJournal::stateName(e.state)), number(e.cameMs), number(e.wentMs), number(e.acknowledgedMs),
            QByteArray::number(e.value, 'g', 17), e.station.isEmpty() ? QByteArray() : e.station.toUtf8(),
            e.shelvedUntilMs > 0 ? number(e.shelvedUntilMs) : QByteArray()};
        for (qsizetype k = 0; k < values.size(); ++k)
            columnsOf[k].append(values[k]);
    }
    QList<QByteArray> params;
    for (const QList<QByteArray>& column : std::as_const(columnsOf))
        params.append(PgTable::array(column));
    PgResult r = c.exec("INSERT INTO alarm_journal(time, alarm, alarm_group, event, state, came, went, acknowledged, value, station, shelved_until) "
                        "SELECT a, b, c, d, e, f, g, h, i, j, k FROM unnest($1::bigint[], $2::text[], $3::text[], $4::text[], $5::text[], $6::bigint[], $7::bigint[], "
                        "$8::bigint[], $9::double precision[], $10::text[], $11::bigint[]) WITH ORDINALITY AS x(a,b,c,d,e,f,g,h,i,j,k,n) ORDER BY n",
        params);
    return r.error();
}

QList<AlarmJournalEntry> PgAlarmJournal::select(const QByteArray& where, const QList<QByteArray>& params)
{
    QList<AlarmJournalEntry> out;
    if (!m_link.reachable())
        return out;
    PgResult r = m_link.connection().exec(Selected + where, params);
    if (!r.ok()) {
        qCWarning(historyLog).noquote() << "Alarm journal:" << r.error();
        return out;
    }
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        AlarmJournalEntry e;
        e.timeMs = r.int64(i, 0);
        e.alarm = QString::fromUtf8(r.text(i, 1));
        e.group = QString::fromUtf8(r.text(i, 2));
        e.event = QString::fromUtf8(r.text(i, 3));
        e.state = AlarmJournal::stateFromName(QString::fromUtf8(r.text(i, 4)));
        e.cameMs = r.int64(i, 5);
        e.wentMs = r.int64(i, 6);
        e.acknowledgedMs = r.int64(i, 7);
        e.value = r.isNull(i, 8) ? 0.0 : r.real(i, 8);
        e.station = r.isNull(i, 9) ? QString() : QString::fromUtf8(r.text(i, 9));
        e.id = r.int64(i, 10);
        e.shelvedUntilMs = r.isNull(i, 11) ? 0 : r.int64(i, 11);
        out.append(e);
    }
    return out;
}

QHash<QString, AlarmJournalEntry> PgAlarmJournal::lastEntries()
{
    QHash<QString, AlarmJournalEntry> result;
    for (const AlarmJournalEntry& e : select("WHERE id IN (SELECT max(id) FROM alarm_journal GROUP BY alarm)", {}))
        result.insert(e.alarm, e);
    return result;
}

QList<AlarmJournalEntry> PgAlarmJournal::history(int limit)
{
    return select("ORDER BY id DESC LIMIT $1", {number(limit)});
}

QList<AlarmJournalEntry> PgAlarmJournal::page(const AlarmJournalFilter& filter, qint64 beforeId, int limit)
{
    if (limit <= 0)
        return {};
    QList<QByteArray> params;
    const QByteArray clause = filterClause(filter, params);
    params << number(beforeId > 0 ? beforeId : std::numeric_limits<qint64>::max()) << number(limit);
    return select(clause + " AND id < $5 ORDER BY id DESC LIMIT $6", params);
}

qint64 PgAlarmJournal::count(const AlarmJournalFilter& filter)
{
    if (!m_link.reachable())
        return 0;
    QList<QByteArray> params;
    const QByteArray clause = filterClause(filter, params);
    PgResult r = m_link.connection().exec("SELECT count(*) FROM alarm_journal " + clause, params);
    return r.ok() ? r.int64(0, 0) : 0;
}

int PgAlarmJournal::removeOlderThan(qint64 cutoffMs, int batch)
{
    m_link.ensure();
    // The newest entry of an alarm stays: it is what a restart restores an unacknowledged alarm from.
    PgResult r = m_link.connection().exec("WITH gone AS (DELETE FROM alarm_journal WHERE id IN (SELECT id FROM alarm_journal WHERE time < $1 "
                                          "AND id NOT IN (SELECT max(id) FROM alarm_journal GROUP BY alarm) ORDER BY time LIMIT $2) RETURNING 1) "
                                          "SELECT count(*) FROM gone",
        {number(cutoffMs), number(batch)});
    if (!r.ok())
        m_link.fail(r.error());
    return static_cast<int>(r.int64(0, 0));
}
