#include "AuditFile.h"

#include "PgAuditJournal.h"
#include "PgConnection.h"
#include "SqliteAuditJournal.h"

#include <QFileInfo>

#include <sqlite3.h>

#include <memory>

namespace {

struct CloseDatabase {
    void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct FinishStatement {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinishStatement>;

Statement prepare(sqlite3* db, const QByteArray& sql)
{
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
    return Statement(statement);
}

QString text(sqlite3_stmt* statement, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)), sqlite3_column_bytes(statement, column));
}

/// A hash column may hold the 32 bytes themselves or their 64 hex digits.
QByteArray hashOf(sqlite3_stmt* statement, int column)
{
    const QByteArray raw(static_cast<const char*>(sqlite3_column_blob(statement, column)), sqlite3_column_bytes(statement, column));
    return sqlite3_column_type(statement, column) == SQLITE_TEXT && raw.size() == 64 ? QByteArray::fromHex(raw) : raw;
}

} // namespace

QStringList AuditFile::columns()
{
    return {QStringLiteral("id"), QStringLiteral("time"), QStringLiteral("station"), QStringLiteral("user"), QStringLiteral("action"),
        QStringLiteral("target"), QStringLiteral("old_value"), QStringLiteral("new_value"), QStringLiteral("result"), QStringLiteral("reason"),
        QStringLiteral("hash")};
}

AuditFile::Rows AuditFile::read(const QString& path)
{
    Rows result;
    if (!QFileInfo(path).isFile()) {
        result.error = QStringLiteral("%1: %2").arg(path, QFileInfo::exists(path) ? QStringLiteral("not a regular file") : QStringLiteral("the file is missing"));
        return result;
    }
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(path.toUtf8().constData(), &raw, SQLITE_OPEN_READONLY, nullptr);
    const std::unique_ptr<sqlite3, CloseDatabase> db(raw);
    if (opened != SQLITE_OK) {
        result.error = QStringLiteral("%1: cannot open: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(raw)));
        return result;
    }
    // Rows and head from one snapshot, so a row the runtime writes meanwhile is not taken for one cut off.
    sqlite3_exec(db.get(), "BEGIN", nullptr, nullptr, nullptr);
    QStringList present;
    {
        const Statement info = prepare(db.get(), "PRAGMA table_info(audit)");
        while (info && sqlite3_step(info.get()) == SQLITE_ROW)
            present.append(text(info.get(), 1));
    }
    if (present.isEmpty()) {
        result.error = QStringLiteral("%1: not an audit journal (no table audit): %2").arg(path, QString::fromUtf8(sqlite3_errmsg(db.get())));
        return result;
    }
    if (!present.contains(QStringLiteral("hash"))) {
        result.noChain = true;
        return result;
    }
    QStringList missing;
    for (const QString& column : columns()) {
        if (!present.contains(column))
            missing.append(column);
    }
    if (!missing.isEmpty()) {
        result.error = QStringLiteral("%1: the table audit lacks the columns %2").arg(path, missing.join(QStringLiteral(", ")));
        return result;
    }
    const Statement rows = prepare(db.get(), "SELECT " + columns().join(QStringLiteral(", ")).toUtf8() + " FROM audit ORDER BY id");
    int step = SQLITE_DONE;
    while (rows && (step = sqlite3_step(rows.get())) == SQLITE_ROW) {
        sqlite3_stmt* s = rows.get();
        result.rows.append(AuditRow{sqlite3_column_int64(s, 0), sqlite3_column_int64(s, 1), text(s, 2), text(s, 3), text(s, 4), text(s, 5),
            text(s, 6), text(s, 7), text(s, 8), text(s, 9), hashOf(s, 10)});
    }
    if (!rows || step != SQLITE_DONE) {
        result.error = QStringLiteral("%1: cannot read the rows: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(db.get())));
        return result;
    }
    const Statement meta = prepare(db.get(), "SELECT key, value FROM meta WHERE key IN ('" + SqliteAuditJournal::headIdKey().toUtf8() + "', '"
            + SqliteAuditJournal::headHashKey().toUtf8() + "')");
    AuditChain::Head head;
    int found = 0;
    while (meta && sqlite3_step(meta.get()) == SQLITE_ROW) {
        ++found;
        if (text(meta.get(), 0) == SqliteAuditJournal::headIdKey())
            head.id = text(meta.get(), 1).toLongLong();
        else
            head.hash = QByteArray::fromHex(text(meta.get(), 1).toLatin1());
    }
    if (found == 2)
        result.head = head;
    return result;
}

AuditFile::Rows AuditFile::readServer(const QString& conninfo, QString* where)
{
    Rows result;
    PgConnection c;
    *where = QStringLiteral("the server");
    if (result.error = c.open(conninfo); !result.error.isEmpty())
        return result;
    *where = c.describe();
    if (result.error = PgAuditJournal::check(c); !result.error.isEmpty())
        return result;
    // Rows and head from one snapshot: a row the runtime writes meanwhile is neither half seen nor
    // taken for one cut off.
    if (PgResult r = c.exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"); !r.ok()) {
        result.error = r.error();
        return result;
    }
    const AuditChain::Head head = PgAuditJournal::head(c, &result.error);
    constexpr int page = 50'000;
    for (QList<AuditRow> rows; result.error.isEmpty(); result.rows += rows) {
        rows = PgAuditJournal::after(c, result.rows.isEmpty() ? 0 : result.rows.last().id, page, &result.error);
        if (rows.isEmpty())
            break;
    }
    if (result.error.isEmpty() && head.hash.size() == AuditChain::genesis().size())
        result.head = head;
    return result;
}
