#include "SqliteAuditJournal.h"

#include <limits>

namespace {

AuditRow rowOf(const SqliteStatement& s)
{
    return {s.int64(0), s.int64(1), s.text(2), s.text(3), s.text(4), s.text(5), s.text(6), s.text(7), s.text(8), s.text(9),
        QByteArray::fromHex(s.text(10).toLatin1())};
}

void setHead(SqliteDatabase& db, const AuditChain::Head& head)
{
    db.setMetaValue(SqliteAuditJournal::headIdKey(), QString::number(head.id));
    db.setMetaValue(SqliteAuditJournal::headHashKey(), QString::fromLatin1(head.hash.toHex()));
}

AuditChain::Head recordedHead(SqliteDatabase& db)
{
    return {db.metaValue(SqliteAuditJournal::headIdKey()).toLongLong(), QByteArray::fromHex(db.metaValue(SqliteAuditJournal::headHashKey()).toLatin1())};
}

/// Chains the rows written before the journal had a chain, oldest first, so that from now on an edit
/// of them is found as well.
void chainExisting(SqliteDatabase& db)
{
    QList<AuditRow> rows;
    {
        SqliteStatement select = db.prepare("SELECT id, time, station, user, action, target, old_value, new_value, result, reason, '' FROM audit ORDER BY id");
        while (select.step())
            rows.append(rowOf(select));
    }
    QByteArray previous = AuditChain::genesis();
    SqliteStatement update = db.prepare("UPDATE audit SET hash = ?2 WHERE id = ?1");
    for (const AuditRow& row : std::as_const(rows)) {
        previous = AuditChain::hashOf(row, previous);
        update.bind(1, row.id).bind(2, QString::fromLatin1(previous.toHex())).run();
    }
    setHead(db, {rows.isEmpty() ? 0 : rows.last().id, previous});
}

void createSchema(SqliteDatabase& db, int fromVersion)
{
    if (fromVersion < 1) {
        db.exec("CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, station TEXT NOT NULL, user TEXT NOT NULL, "
                "action TEXT NOT NULL, target TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL, result TEXT NOT NULL, "
                "reason TEXT NOT NULL, hash TEXT NOT NULL)");
        db.exec("CREATE INDEX audit_time ON audit(time)");
        setHead(db, {0, AuditChain::genesis()});
        return;
    }
    if (fromVersion < 2) {
        // Schema 1 journalled operator writes only: its rows are writes, and its variable is the target.
        db.exec("ALTER TABLE audit RENAME COLUMN variable TO target");
        db.exec("ALTER TABLE audit ADD COLUMN action TEXT NOT NULL DEFAULT 'write'");
        db.exec("ALTER TABLE audit ADD COLUMN hash TEXT NOT NULL DEFAULT ''");
        chainExisting(db);
    }
}

constexpr const char* Insert = "INSERT INTO audit(id, time, station, user, action, target, old_value, new_value, result, reason, hash) "
                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)";
constexpr const char* Newest = "SELECT id, time, station, user, action, target, old_value, new_value, result, reason, hash "
                               "FROM audit WHERE id < ?1 ORDER BY id DESC LIMIT ?2";
constexpr const char* After = "SELECT id, time, station, user, action, target, old_value, new_value, result, reason, hash "
                              "FROM audit WHERE id > ?1 ORDER BY id LIMIT ?2";
constexpr const char* LastId = "SELECT coalesce(max(id), 0) FROM audit";

} // namespace

SqliteAuditJournal::SqliteAuditJournal(QString path)
    : m_path(std::move(path))
    , m_file(QStringLiteral("audit journal"), SchemaVersion, createSchema, {Insert, Newest, After, LastId})
{
}

void SqliteAuditJournal::write(const QList<AuditRow>& rows)
{
    m_file.write([&] {
        SqliteDatabase& db = m_file.db();
        SqliteTransaction transaction(db);
        // The chain goes on from the newest row the file holds, read inside the transaction: rows a
        // refused transaction did not write leave no trace in it.
        SqliteStatement last = db.prepare(LastId);
        QList<AuditRow> chained = rows;
        const AuditChain::Head head = AuditChain::extend(chained, AuditChain::continuation(recordedHead(db), last.step() ? last.int64(0) : 0));
        SqliteStatement insert = db.prepare(Insert);
        for (const AuditRow& row : std::as_const(chained)) {
            insert.bind(1, row.id).bind(2, row.timeMs).bind(3, row.station).bind(4, row.user).bind(5, row.action).bind(6, row.target);
            insert.bind(7, row.oldValue).bind(8, row.newValue).bind(9, row.result).bind(10, row.reason);
            insert.bind(11, QString::fromLatin1(row.hash.toHex()));
            insert.run();
        }
        setHead(db, head);
        transaction.commit();
    });
}

QList<AuditRow> SqliteAuditJournal::select(const char* sql, qint64 first, int limit)
{
    QList<AuditRow> result;
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(sql);
        select.bind(1, first).bind(2, limit);
        while (select.step())
            result.append(rowOf(select));
    });
    return ok ? result : QList<AuditRow>();
}

QList<AuditRow> SqliteAuditJournal::history(int limit)
{
    return select(Newest, std::numeric_limits<qint64>::max(), limit);
}

QList<AuditRow> SqliteAuditJournal::after(qint64 afterId, int limit)
{
    return select(After, afterId, limit);
}

AuditChain::Head SqliteAuditJournal::head()
{
    AuditChain::Head head;
    m_file.read([&] { head = recordedHead(m_file.db()); });
    return head;
}
