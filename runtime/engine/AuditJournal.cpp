#include "AuditJournal.h"

#include <QVariant>

namespace {

void createSchema(SqliteDatabase& db, int fromVersion)
{
    if (fromVersion < 1) {
        db.exec("CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER NOT NULL, station TEXT NOT NULL, user TEXT NOT NULL, "
                "variable TEXT NOT NULL, old_value TEXT NOT NULL, new_value TEXT NOT NULL, result TEXT NOT NULL, reason TEXT NOT NULL)");
        db.exec("CREATE INDEX audit_time ON audit(time)");
    }
}

constexpr const char* Insert = "INSERT INTO audit(time, station, user, variable, old_value, new_value, result, reason) "
                               "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr const char* Select = "SELECT time, station, user, variable, old_value, new_value, result, reason FROM audit ORDER BY id DESC LIMIT ?1";

} // namespace

AuditJournal::AuditJournal()
    : m_file(QStringLiteral("audit journal"), SchemaVersion, createSchema, {Insert, Select})
{
}

AuditJournal::~AuditJournal() = default;

QString AuditJournal::open(const QString& path, QString* notice)
{
    return m_file.open(path, notice);
}

void AuditJournal::close()
{
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

void AuditJournal::append(const AuditEntry& e)
{
    if (!m_file.isOpen())
        return;
    m_file.write([&] {
        SqliteTransaction transaction(m_file.db());
        SqliteStatement insert = m_file.db().prepare(Insert);
        insert.bind(1, e.timeMs).bind(2, e.station).bind(3, e.user).bind(4, e.variable);
        insert.bind(5, e.oldValue).bind(6, e.newValue).bind(7, e.result).bind(8, e.reason);
        insert.run();
        transaction.commit();
    });
}

QList<AuditEntry> AuditJournal::history(int limit) const
{
    QList<AuditEntry> result;
    const bool ok = m_file.read([&] {
        SqliteStatement select = m_file.db().prepare(Select);
        select.bind(1, limit);
        while (select.step())
            result.append({select.int64(0), select.text(1), select.text(2), select.text(3), select.text(4), select.text(5),
                           select.text(6), select.text(7)});
    });
    return ok ? result : QList<AuditEntry>();
}
