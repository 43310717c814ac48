#include "AuditJournal.h"

#include <QVariant>

namespace {



AuditRow rowOf(const SqliteStatement& s)
{
    return {s.int64(0), s.int64(1), s.text(2), s.text(3), s.text(4), s.text(5), s.text(6), s.text(7), s.text(8), s.text(9),
        QByteArray::fromHex(s.text(10).toLatin1())};
}

void setHead(SqliteDatabase& db, qint64 id, const QByteArray& hash)
{
    db.setMetaValue(AuditJournal::headIdKey(), QString::number(id));
    db.setMetaValue(AuditJournal::headHashKey(), QString::fromLatin1(hash.toHex()));
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
    setHead(db, rows.isEmpty() ? 0 : rows.last().id, previous);
}

void createSchema(SqliteDatabase& db, int fromVersion)
{
    if (fromVersion < 1) {
        db.exec("CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, station TEXT NOT NULL, user TEXT NOT NULL, "
                "action TEXT NOT NULL, target TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL, result TEXT NOT NULL, "
                "reason TEXT NOT NULL, hash TEXT NOT NULL)");
        db.exec("CREATE INDEX audit_time ON audit(time)");
        setHead(db, 0, AuditChain::genesis());
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
constexpr const char* Select = "SELECT id, time, station, user, action, target, old_value, new_value, result, reason, hash "
                               "FROM audit ORDER BY id DESC LIMIT ?1";
constexpr const char* LastId = "SELECT coalesce(max(id), 0) FROM audit";

} // namespace

AuditJournal::AuditJournal()
    : m_file(QStringLiteral("audit journal"), SchemaVersion, createSchema, {Insert, Select, LastId})
{
}

AuditJournal::~AuditJournal() = default;

QString AuditJournal::open(const QString& path, QString* notice)
{
    return m_file.open(path, notice);
}

void AuditJournal::close()
{
    if (m_file.isOpen())
        retry();
    m_held.clear();
    m_file.close();
}

QString AuditJournal::valueText(const QVariant& value)
{
    if (!value.isValid())
        return {};
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

void AuditJournal::append(const AuditEntry& entry)
{
    write({entry});
}

void AuditJournal::retry()
{
    write({});
}

void AuditJournal::write(const QList<AuditEntry>& entries)
{
    // A file lost to a damage that could not be replaced holds its rows like a full disk does.
    if (!m_file.isOpen() && m_held.fault().isEmpty())
        return;
    m_held.write(entries, [this](const QList<AuditEntry>& rows) {
        m_file.write([&] {
            SqliteDatabase& db = m_file.db();
            SqliteTransaction transaction(db);
            // The chain goes on from the newest row the file holds, read inside the transaction: rows
            // a refused transaction did not write leave no trace in it.
            QByteArray previous = QByteArray::fromHex(db.metaValue(headHashKey()).toLatin1());
            if (previous.size() != AuditChain::genesis().size())
                previous = AuditChain::genesis();
            SqliteStatement last = db.prepare(LastId);
            qint64 id = std::max(last.step() ? last.int64(0) : 0, db.metaValue(headIdKey()).toLongLong());
            SqliteStatement insert = db.prepare(Insert);
            for (AuditRow row : rows) {
                row.id = ++id;
                row.hash = AuditChain::hashOf(row, previous);
                insert.bind(1, row.id).bind(2, row.timeMs).bind(3, row.station).bind(4, row.user).bind(5, row.action).bind(6, row.target);
                insert.bind(7, row.oldValue).bind(8, row.newValue).bind(9, row.result).bind(10, row.reason);
                insert.bind(11, QString::fromLatin1(row.hash.toHex()));
                insert.run();
                previous = row.hash;
            }
            setHead(db, id, previous);
            transaction.commit();
        });
    });
}

QList<AuditEntry> AuditJournal::history(int limit) const
{
    QList<AuditEntry> result;
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(Select);
        select.bind(1, limit);
        while (select.step())
            result.append(rowOf(select));
    });
    return ok ? result : QList<AuditEntry>();
}

AuditChain::Head AuditJournal::head() const
{
    AuditChain::Head head;
    m_file.read([&] {
        head.id = m_file.db().metaValue(headIdKey()).toLongLong();
        head.hash = QByteArray::fromHex(m_file.db().metaValue(headHashKey()).toLatin1());
    });
    return head;
}
