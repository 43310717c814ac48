#include "ArchiveMigration.h"

#include "KalvoraError.h"
#include "PgAlarmJournal.h"
#include "PgAuditJournal.h"
#include "PgArchiveSchema.h"
#include "PgArchiveWriter.h"
#include "PgConnection.h"
#include "SqliteAlarmJournal.h"
#include "SqliteArchiveBackend.h"
#include "SqliteAuditJournal.h"
#include "SqliteDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <memory>

namespace {

/// The archive file read-only, through the C API: the copy never writes into its source.
class Source final {
public:
    explicit Source(const QString& path)
    {
        const QByteArray name = QFile::encodeName(path);
        if (sqlite3_open_v2(name.constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw KalvoraError(QStringLiteral("%1: %2").arg(path, QString::fromUtf8(sqlite3_errmsg(m_db))));
    }
    ~Source() { sqlite3_close_v2(m_db); }
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;

    /// Runs `sql` with integer parameters; `row` sees each row's statement.
    template <class Row>
    void query(const char* sql, std::initializer_list<qint64> params, Row&& row)
    {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            throw KalvoraError(QString::fromUtf8(sqlite3_errmsg(m_db)));
        int i = 0;
        for (const qint64 p : params)
            sqlite3_bind_int64(stmt, ++i, p);
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            row(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE)
            throw KalvoraError(QString::fromUtf8(sqlite3_errmsg(m_db)));
    }
    qint64 count(const char* sql, std::initializer_list<qint64> params)
    {
        qint64 n = 0;
        query(sql, params, [&](sqlite3_stmt* s) { n = sqlite3_column_int64(s, 0); });
        return n;
    }

private:
    sqlite3* m_db = nullptr;
};

QString text(sqlite3_stmt* s, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)));
}

qint64 pgNumber(PgConnection& c, const QByteArray& sql, const QList<QByteArray>& params)
{
    PgResult r = c.exec(sql, params);
    if (!r.ok())
        throw KalvoraError(r.error());
    return r.isNull(0, 0) ? 0 : r.int64(0, 0);
}

/// Opens a journal file to copy from. One found damaged is moved aside by opening it and a fresh one
/// takes its place: that is refused, or an empty copy would pass the count check.
template <class Journal>
QString openSource(Journal& journal, const QString& path)
{
    QString notice;
    if (QString e = journal.open(&notice); !e.isEmpty())
        return e;
    return notice.isEmpty() ? QString() : QStringLiteral("%1: not copied: %2").arg(path, notice);
}

} // namespace

QString ArchiveMigration::run()
{
    try {
        for (const QString& file : {m_o.archiveFile, m_o.journalFile, m_o.auditFile})
            if (!file.isEmpty() && !QFileInfo(file).isFile())
                return QStringLiteral("%1: no such file").arg(file);
        // Opening brings an archive of an older schema up to date, as the runtime would; the samples
        // are read through it, packed hours included (it packs nothing while the copy runs).
        SqliteArchiveBackend archive(m_o.archiveFile, SqliteArchiveBackend::Layout::Rows);
        if (QString e = archive.open(nullptr); !e.isEmpty())
            return e;
        PgConnection c;
        if (QString e = c.open(m_o.connection); !e.isEmpty())
            return e;
        if (QString e = PgArchiveSchema::open(c); !e.isEmpty())
            return e;
        QStringList mismatches;
        if (QString e = copyArchive(c, archive, mismatches); !e.isEmpty())
            return e;
        if (!m_o.journalFile.isEmpty())
            if (QString e = copyJournal(c, mismatches); !e.isEmpty())
                return e;
        if (!m_o.auditFile.isEmpty())
            if (QString e = copyAudit(c, mismatches); !e.isEmpty())
                return e;
        if (!mismatches.isEmpty())
            return QStringLiteral("The counts differ: %1").arg(mismatches.join(QStringLiteral("; ")));
        return {};
    } catch (const KalvoraError& e) {
        return e.message();
    }
}

QString ArchiveMigration::copyArchive(PgConnection& c, SqliteArchiveBackend& archive, QStringList& mismatches)
{
    Source source(m_o.archiveFile);
    QList<std::pair<QString, QString>> names;
    QList<qint64> fileIds;
    source.query("SELECT id, archive, trend FROM trends ORDER BY id", {}, [&](sqlite3_stmt* s) {
        fileIds.append(sqlite3_column_int64(s, 0));
        names.append({text(s, 1), text(s, 2)});
    });
    QString error;
    const QList<int> ids = PgArchiveSchema::bindTrends(c, names, &error);
    if (!error.isEmpty())
        return error;
    PgArchiveWriter writer(c);
    for (qsizetype i = 0; i < names.size(); ++i) {
        const qint64 fileId = fileIds[i];
        const QByteArray id = QByteArray::number(ids[i]);
        qint64 first = 0;
        const bool any = archive.oldest(fileId, &first);
        const qint64 last = any ? archive.newest({fileId}) : -1;
        // Where an earlier run stopped: the newest sample of the file's span already on the server.
        const QList<QByteArray> span{id, QByteArray::number(first), QByteArray::number(last)};
        qint64 after = pgNumber(c, "SELECT greatest((SELECT coalesce(max(t), $2::bigint - 1) FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3), "
                                   "(SELECT max(last_t) FROM sample_blocks WHERE trend = $1 AND start > $2::bigint - 3600000 AND start <= $3))",
            span);
        std::vector<PgSample> batch;
        const auto flush = [&] {
            if (batch.empty())
                return;
            if (QString e = writer.write(batch); !e.isEmpty())
                throw KalvoraError(e);
            m_report(QStringLiteral("%1/%2: copied up to %3").arg(names[i].first, names[i].second).arg(batch.back().timeMs));
            batch.clear();
        };
        // The newest copied sample is written again: a batch cut off mid-way is never assumed whole.
        if (any && !archive.range(fileId, after, last, [&](qint64 t, double v) {
                batch.push_back({ids[i], t, v});
                if (static_cast<int>(batch.size()) >= m_o.batch)
                    flush();
            }))
            return QStringLiteral("%1: the archive could not be read").arg(m_o.archiveFile);
        flush();
        const qint64 inFile = source.count("SELECT (SELECT count(*) FROM samples WHERE trend = ?1) + "
                                           "(SELECT coalesce(sum(count), 0) FROM sample_blocks WHERE trend = ?1)", {fileId});
        // Hours a runtime on the server has packed meanwhile count too.
        const qint64 onServer = pgNumber(c, "SELECT count(*) FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3", span) +
                                pgNumber(c, "SELECT coalesce(sum(n), 0) FROM sample_blocks WHERE trend = $1 AND start > $2::bigint - 3600000 AND start <= $3", span);
        m_report(QStringLiteral("%1/%2: %3 samples in the file, %4 on the server").arg(names[i].first, names[i].second).arg(inFile).arg(onServer));
        if (inFile != onServer)
            mismatches.append(QStringLiteral("%1/%2 has %3 samples in the file, %4 on the server").arg(names[i].first, names[i].second).arg(inFile).arg(onServer));
    }
    // The plant state only where the server has none of its own.
    QByteArray state;
    source.query("SELECT state FROM plant_state WHERE id = 1", {}, [&](sqlite3_stmt* s) { state = text(s, 0).toUtf8(); });
    if (!state.isEmpty() && pgNumber(c, "SELECT count(*) FROM plant_state", {}) == 0)
        if (QString e = writer.write({}, state); !e.isEmpty())
            return e;
    return {};
}

QString ArchiveMigration::copyJournal(PgConnection& c, QStringList& mismatches)
{
    SqliteAlarmJournal file(m_o.journalFile);
    if (QString e = openSource(file, m_o.journalFile); !e.isEmpty())
        return e;
    if (QString e = PgAlarmJournal::setUp(c); !e.isEmpty())
        return e;
    // The progress lives beside the rows and moves in the same transaction, so a killed run neither
    // loses nor repeats a row.
    const QByteArray key = "migrated_journal_id";
    qint64 done = pgNumber(c, "SELECT coalesce((SELECT value::bigint FROM kalvora_meta WHERE key = $1), 0)", {key});
    qint64 copied = pgNumber(c, "SELECT coalesce((SELECT value::bigint FROM kalvora_meta WHERE key = 'migrated_journal_rows'), 0)", {});
    for (;;) {
        const QList<AlarmJournalEntry> rows = file.after(done, m_o.batch);
        if (rows.isEmpty())
            break;
        PgTransaction transaction(c);
        if (!transaction.error().isEmpty())
            return transaction.error();
        if (QString e = PgAlarmJournal::insert(c, rows); !e.isEmpty())
            return e;
        done = rows.last().id;
        copied += rows.size();
        for (const auto& [name, value] : {std::pair{key, done}, std::pair{QByteArray("migrated_journal_rows"), copied}}) {
            PgResult r = c.exec("INSERT INTO kalvora_meta(key, value) VALUES($1, $2) ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value",
                {name, QByteArray::number(value)});
            if (!r.ok())
                return r.error();
        }
        if (QString e = transaction.commit(); !e.isEmpty())
            return e;
        m_report(QStringLiteral("alarm journal: copied up to entry %1").arg(done));
    }
    const qint64 inFile = file.count({});
    m_report(QStringLiteral("alarm journal: %1 entries in the file, %2 copied").arg(inFile).arg(copied));
    if (inFile != copied)
        mismatches.append(QStringLiteral("the alarm journal has %1 entries in the file, %2 copied").arg(inFile).arg(copied));
    return {};
}

QString ArchiveMigration::copyAudit(PgConnection& c, QStringList& mismatches)
{
    // Opening brings a journal of the first schema up to date (chained), as the runtime would.
    SqliteAuditJournal file(m_o.auditFile);
    if (QString e = openSource(file, m_o.auditFile); !e.isEmpty())
        return e;
    if (QString e = PgAuditJournal::setUp(c); !e.isEmpty())
        return e;
    // Rows keep their ids: an earlier run stopped after the newest row on the server, which must be
    // this file's own; rows of another journal are never chained into it.
    qint64 done = pgNumber(c, "SELECT coalesce(max(id), 0) FROM audit_journal", {});
    QString error;
    if (done > 0) {
        const QList<AuditRow> there = PgAuditJournal::after(c, done - 1, 1, &error);
        const QList<AuditRow> here = file.after(done - 1, 1);
        if (!error.isEmpty())
            return error;
        if (there.isEmpty() || here.isEmpty() || here.first().id != done || here.first().hash != there.first().hash)
            return QStringLiteral("%1: the audit journal on the server holds rows that are not this file's (row %2 differs); "
                                  "copy it into an empty database")
                .arg(m_o.auditFile)
                .arg(done);
    }
    for (;;) {
        const QList<AuditRow> rows = file.after(done, m_o.batch);
        if (rows.isEmpty())
            break;
        PgTransaction transaction(c);
        if (!transaction.error().isEmpty())
            return transaction.error();
        if (QString e = PgAuditJournal::insert(c, rows); !e.isEmpty())
            return e;
        if (QString e = PgAuditJournal::setHead(c, {rows.last().id, rows.last().hash}); !e.isEmpty())
            return e;
        if (QString e = transaction.commit(); !e.isEmpty())
            return e;
        done = rows.last().id;
        m_report(QStringLiteral("audit journal: copied up to row %1").arg(done));
    }
    // The file's own record of its newest row comes along, so rows cut off the file before the copy
    // are found on the server as in the file.
    AuditChain::Head head = file.head();
    if (head.hash.size() != AuditChain::genesis().size())
        head = {done, done > 0 ? file.after(done - 1, 1).value(0).hash : AuditChain::genesis()};
    PgTransaction transaction(c);
    if (QString e = transaction.error().isEmpty() ? PgAuditJournal::setHead(c, head) : transaction.error(); !e.isEmpty())
        return e;
    if (QString e = transaction.commit(); !e.isEmpty())
        return e;
    Source source(m_o.auditFile);
    const qint64 inFile = source.count("SELECT count(*) FROM audit", {});
    const qint64 onServer = pgNumber(c, "SELECT count(*) FROM audit_journal", {});
    m_report(QStringLiteral("audit journal: %1 rows in the file, %2 on the server").arg(inFile).arg(onServer));
    if (inFile != onServer)
        mismatches.append(QStringLiteral("the audit journal has %1 rows in the file, %2 on the server").arg(inFile).arg(onServer));
    return {};
}
