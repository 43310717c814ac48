#include "ArchiveMigration.h"

#include "KalvoraError.h"
#include "PgAlarmJournal.h"
#include "PgArchiveSchema.h"
#include "PgArchiveWriter.h"
#include "PgConnection.h"
#include "SampleBlockCodec.h"
#include "SqliteAlarmJournal.h"
#include "SqliteArchiveBackend.h"
#include "SqliteDatabase.h"

#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <deque>
#include <limits>
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

/// The packed hours of one trend in the file from a time on, unpacked one at a time as the rows
/// streamed beside them reach them, so a long archive is never held whole in memory.
class PackedSource final {
public:
    PackedSource(Source& source, const QString& where, qint64 trend, qint64 from)
        : m_where(where)
        , m_trend(trend)
    {
        if (source.count("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'sample_blocks'", {}) == 0)
            return;
        source.query("SELECT start, data FROM sample_blocks WHERE trend = ?1 AND end >= ?2 ORDER BY start", {trend, from}, [&](sqlite3_stmt* s) {
            m_blocks.push_back({sqlite3_column_int64(s, 0),
                QByteArray(static_cast<const char*>(sqlite3_column_blob(s, 1)), sqlite3_column_bytes(s, 1))});
        });
        m_from = from;
    }
    /// Hands every packed sample before `t` to `out`, and skips one at `t` (the row wins).
    template <class Out>
    void until(qint64 t, Out&& out)
    {
        for (;;) {
            while (!m_pending.empty() && m_pending.front().t < t) {
                out(m_pending.front());
                m_pending.pop_front();
            }
            if (!m_pending.empty() || m_next == m_blocks.size() || m_blocks[m_next].first > t)
                break;
            const SampleBlockCodec::Decoded d = SampleBlockCodec::decode(m_blocks[m_next].second);
            if (!d.ok())
                throw KalvoraError(QStringLiteral("%1: the packed hour of trend %2 from %3 is damaged: %4").arg(m_where).arg(m_trend).arg(m_blocks[m_next].first).arg(d.error));
            ++m_next;
            for (const PackedSample& p : d.samples)
                if (p.t >= m_from)
                    m_pending.push_back(p);
        }
        if (!m_pending.empty() && m_pending.front().t == t)
            m_pending.pop_front();
    }

private:
    QString m_where;
    qint64 m_trend;
    qint64 m_from = 0;
    std::vector<std::pair<qint64, QByteArray>> m_blocks;
    size_t m_next = 0;
    std::deque<PackedSample> m_pending;
};

qint64 pgNumber(PgConnection& c, const QByteArray& sql, const QList<QByteArray>& params)
{
    PgResult r = c.exec(sql, params);
    if (!r.ok())
        throw KalvoraError(r.error());
    return r.isNull(0, 0) ? 0 : r.int64(0, 0);
}

} // namespace

QString ArchiveMigration::run()
{
    try {
        for (const QString& file : {m_o.archiveFile, m_o.journalFile})
            if (!file.isEmpty() && !QFileInfo(file).isFile())
                return QStringLiteral("%1: no such file").arg(file);
        // Opening brings an archive of an older schema up to date, as the runtime would.
        SqliteArchiveBackend upgrade(m_o.archiveFile);
        if (QString e = upgrade.open(nullptr); !e.isEmpty())
            return e;
        upgrade.close();
        PgConnection c;
        if (QString e = c.open(m_o.connection); !e.isEmpty())
            return e;
        if (QString e = PgArchiveSchema::open(c); !e.isEmpty())
            return e;
        QStringList mismatches;
        if (QString e = copyArchive(c, mismatches); !e.isEmpty())
            return e;
        if (!m_o.journalFile.isEmpty())
            if (QString e = copyJournal(c, mismatches); !e.isEmpty())
                return e;
        if (!mismatches.isEmpty())
            return QStringLiteral("The counts differ: %1").arg(mismatches.join(QStringLiteral("; ")));
        return {};
    } catch (const KalvoraError& e) {
        return e.message();
    }
}

QString ArchiveMigration::copyArchive(PgConnection& c, QStringList& mismatches)
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
        // Rows and packed hours alike.
        const bool packed = source.count("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'sample_blocks'", {}) > 0;
        const qint64 first = source.count(packed ? "SELECT coalesce(min(m), 0) FROM (SELECT min(t) AS m FROM samples WHERE trend = ?1 "
                                                   "UNION ALL SELECT min(start) FROM sample_blocks WHERE trend = ?1)"
                                                 : "SELECT coalesce(min(t), 0) FROM samples WHERE trend = ?1",
            {fileId});
        const qint64 last = source.count(packed ? "SELECT coalesce(max(m), -1) FROM (SELECT max(t) AS m FROM samples WHERE trend = ?1 "
                                                  "UNION ALL SELECT max(end) FROM sample_blocks WHERE trend = ?1)"
                                                : "SELECT coalesce(max(t), -1) FROM samples WHERE trend = ?1",
            {fileId});
        // Where an earlier run stopped: the newest sample of the file's span already on the server.
        const QList<QByteArray> span{id, QByteArray::number(first), QByteArray::number(last)};
        qint64 after = pgNumber(c, "SELECT greatest((SELECT coalesce(max(t), $2::bigint - 1) FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3), "
                                   "(SELECT max(last_t) FROM sample_blocks WHERE trend = $1 AND start >= $2 AND start <= $3))",
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
        const auto add = [&](qint64 t, double v) {
            batch.push_back({ids[i], t, v});
            if (static_cast<int>(batch.size()) >= m_o.batch)
                flush();
        };
        PackedSource blocks(source, m_o.archiveFile, fileId, after);
        const auto addPacked = [&](const PackedSample& p) { add(p.t, p.v); };
        source.query("SELECT t, v FROM samples WHERE trend = ?1 AND t >= ?2 ORDER BY t", {fileId, after}, [&](sqlite3_stmt* s) {
            blocks.until(sqlite3_column_int64(s, 0), addPacked);
            add(sqlite3_column_int64(s, 0), sqlite3_column_double(s, 1));
        });
        blocks.until(std::numeric_limits<qint64>::max(), addPacked);
        flush();
        const qint64 inFile = source.count("SELECT count(*) FROM samples WHERE trend = ?1", {fileId}) +
                              (packed ? source.count("SELECT coalesce(sum(count), 0) FROM sample_blocks WHERE trend = ?1", {fileId}) : 0);
        const qint64 onServer = pgNumber(c, "SELECT count(*) FROM samples WHERE trend = $1 AND t >= $2 AND t <= $3", span) +
                                pgNumber(c, "SELECT coalesce(sum(n), 0) FROM sample_blocks WHERE trend = $1 AND start >= $2 AND start <= $3", span);
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
    if (QString e = file.open(nullptr); !e.isEmpty())
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
