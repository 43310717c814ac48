#include "PgAuditJournal.h"

#include "HistoryLog.h"
#include "KalvoraError.h"
#include "PgTable.h"

namespace {

const QString What = QStringLiteral("Audit journal");

const QList<PgTable::Column>& rowColumns()
{
    static const QList<PgTable::Column> list{{"id", "bigint"}, {"time", "bigint"}, {"station", "text"}, {"user_name", "text"}, {"action", "text"},
        {"target", "text"}, {"old_value", "text"}, {"new_value", "text"}, {"result", "text"}, {"reason", "text"}, {"hash", "text"}};
    return list;
}

const QList<PgTable::Column>& headColumns()
{
    static const QList<PgTable::Column> list{{"slot", "smallint"}, {"id", "bigint"}, {"hash", "text"}};
    return list;
}

QByteArray number(qint64 n)
{
    return QByteArray::number(n);
}

AuditChain::Head headOf(const PgResult& r)
{
    return {r.int64(0, 0), QByteArray::fromHex(r.text(0, 1))};
}

} // namespace

PgAuditJournal::PgAuditJournal(QString conninfo)
    : m_link(std::move(conninfo), &PgAuditJournal::setUp)
{
}

QString PgAuditJournal::setUp(PgConnection& c)
{
    // Two servers starting at once: one creates, the other finds it done.
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        return transaction.error();
    for (const QByteArray& sql : {
             QByteArray("SELECT pg_advisory_xact_lock(7413022)"),
             QByteArray("CREATE TABLE IF NOT EXISTS audit_journal(id bigint PRIMARY KEY, time bigint NOT NULL, station text NOT NULL, "
                        "user_name text NOT NULL, action text NOT NULL, target text NOT NULL, old_value text NOT NULL, new_value text NOT NULL, "
                        "result text NOT NULL, reason text NOT NULL, hash text NOT NULL)"),
             QByteArray("CREATE INDEX IF NOT EXISTS audit_journal_time ON audit_journal(time)"),
             QByteArray("CREATE TABLE IF NOT EXISTS audit_journal_head(slot smallint PRIMARY KEY CHECK (slot = 1), id bigint NOT NULL, hash text NOT NULL)")})
        if (QString e = c.exec(sql).error(); !e.isEmpty())
            return e;
    if (QString e = check(c); !e.isEmpty())
        return e;
    // A fresh journal starts at the genesis; one whose head row was deleted by hand is not given a new one.
    PgResult r = c.exec("INSERT INTO audit_journal_head(slot, id, hash) SELECT 1, 0, $1 WHERE NOT EXISTS (SELECT 1 FROM audit_journal)"
                        " ON CONFLICT (slot) DO NOTHING",
        {AuditChain::genesis().toHex()});
    if (!r.ok())
        return r.error();
    return transaction.commit();
}

QString PgAuditJournal::check(PgConnection& c)
{
    if (QString e = PgTable::checkColumns(c, What, "audit_journal", rowColumns()); !e.isEmpty())
        return e;
    return PgTable::checkColumns(c, What, "audit_journal_head", headColumns());
}

QString PgAuditJournal::open(QString*)
{
    close();
    const QString error = m_link.open();
    m_opened = error.isEmpty();
    return error;
}

void PgAuditJournal::close()
{
    m_link.close();
    m_opened = false;
}

void PgAuditJournal::write(const QList<AuditRow>& rows)
{
    m_link.ensure();
    PgConnection& c = m_link.connection();
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        m_link.fail(transaction.error());
    // The head row locked first: another server's rows go before or after these, never between.
    PgResult recorded = c.exec("SELECT id, hash FROM audit_journal_head WHERE slot = 1 FOR UPDATE");
    if (!recorded.ok())
        m_link.fail(recorded.error());
    PgResult highest = c.exec("SELECT coalesce(max(id), 0) FROM audit_journal");
    if (!highest.ok())
        m_link.fail(highest.error());
    QList<AuditRow> chained = rows;
    const AuditChain::Head last = recorded.rows() > 0 ? headOf(recorded) : AuditChain::Head{};
    const AuditChain::Head head = AuditChain::extend(chained, AuditChain::continuation(last, highest.int64(0, 0)));
    if (QString e = insert(c, chained); !e.isEmpty())
        m_link.fail(e);
    if (QString e = setHead(c, head); !e.isEmpty())
        m_link.fail(e);
    if (QString e = transaction.commit(); !e.isEmpty())
        m_link.fail(e);
}

QString PgAuditJournal::insert(PgConnection& c, const QList<AuditRow>& rows)
{
    QList<QList<QByteArray>> columnsOf(11);
    for (const AuditRow& row : rows) {
        const QList<QByteArray> values{number(row.id), number(row.timeMs), PgTable::text(row.station), PgTable::text(row.user), PgTable::text(row.action),
            PgTable::text(row.target), PgTable::text(row.oldValue), PgTable::text(row.newValue), PgTable::text(row.result), PgTable::text(row.reason),
            row.hash.toHex()};
        for (qsizetype k = 0; k < values.size(); ++k)
            columnsOf[k].append(values[k]);
    }
    QList<QByteArray> params;
    for (const QList<QByteArray>& column : std::as_const(columnsOf))
        params.append(PgTable::array(column));
    return c.exec("INSERT INTO audit_journal(id, time, station, user_name, action, target, old_value, new_value, result, reason, hash) "
                  "SELECT * FROM unnest($1::bigint[], $2::bigint[], $3::text[], $4::text[], $5::text[], $6::text[], $7::text[], $8::text[], "
                  "$9::text[], $10::text[], $11::text[])",
                params)
        .error();
}

QString PgAuditJournal::setHead(PgConnection& c, const AuditChain::Head& head)
{
    return c.exec("INSERT INTO audit_journal_head(slot, id, hash) VALUES(1, $1, $2) ON CONFLICT (slot) DO UPDATE SET id = EXCLUDED.id, hash = EXCLUDED.hash",
                {number(head.id), head.hash.toHex()})
        .error();
}

QList<AuditRow> PgAuditJournal::select(PgConnection& c, const QByteArray& where, const QList<QByteArray>& params, QString* error)
{
    QList<AuditRow> out;
    PgResult r = c.exec("SELECT id, time, station, user_name, action, target, old_value, new_value, result, reason, hash FROM audit_journal " + where, params);
    if (!r.ok()) {
        *error = r.error();
        return out;
    }
    out.reserve(r.rows());
    for (int i = 0; i < r.rows(); ++i) {
        AuditRow row{r.int64(i, 0), r.int64(i, 1), {}, {}, {}, {}, {}, {}, {}, {}, QByteArray::fromHex(r.text(i, 10))};
        for (auto [field, column] : {std::pair{&row.station, 2}, {&row.user, 3}, {&row.action, 4}, {&row.target, 5}, {&row.oldValue, 6},
                 {&row.newValue, 7}, {&row.result, 8}, {&row.reason, 9}})
            *field = QString::fromUtf8(r.text(i, column));
        out.append(row);
    }
    return out;
}

QList<AuditRow> PgAuditJournal::after(PgConnection& c, qint64 afterId, int limit, QString* error)
{
    return select(c, "WHERE id > $1 ORDER BY id LIMIT $2", {number(afterId), number(limit)}, error);
}

AuditChain::Head PgAuditJournal::head(PgConnection& c, QString* error)
{
    PgResult r = c.exec("SELECT id, hash FROM audit_journal_head WHERE slot = 1");
    if (!r.ok())
        *error = r.error();
    return r.ok() && r.rows() > 0 ? headOf(r) : AuditChain::Head{};
}

QList<AuditRow> PgAuditJournal::history(int limit)
{
    QString error;
    QList<AuditRow> rows = m_link.reachable() ? select(m_link.connection(), "ORDER BY id DESC LIMIT $1", {number(limit)}, &error) : QList<AuditRow>();
    if (!error.isEmpty())
        qCWarning(historyLog).noquote() << "Audit journal:" << error;
    return rows;
}

QList<AuditRow> PgAuditJournal::after(qint64 afterId, int limit)
{
    QString error;
    QList<AuditRow> rows = m_link.reachable() ? after(m_link.connection(), afterId, limit, &error) : QList<AuditRow>();
    if (!error.isEmpty())
        qCWarning(historyLog).noquote() << "Audit journal:" << error;
    return rows;
}

AuditChain::Head PgAuditJournal::head()
{
    QString error;
    const AuditChain::Head h = m_link.reachable() ? head(m_link.connection(), &error) : AuditChain::Head{};
    if (!error.isEmpty())
        qCWarning(historyLog).noquote() << "Audit journal:" << error;
    return h;
}
