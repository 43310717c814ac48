#include "PgArchiveSchema.h"

#include "HistoryLog.h"
#include "PgBlockColumns.h"
#include "PgConnection.h"

#include <QDateTime>

namespace {

struct Column {
    const char* name;
    const char* type;
};
struct Table {
    const char* name;
    QList<Column> columns;
};

/// What the program reads and writes; a table that differs was altered by hand.
const QList<Table>& expectedTables()
{
    static const QList<Table> tables{
        {"kalvora_meta", {{"key", "text"}, {"value", "text"}}},
        {"trends", {{"id", "integer"}, {"archive", "text"}, {"trend", "text"}}},
        {"samples", {{"trend", "integer"}, {"t", "bigint"}, {"v", "double precision"}}},
        {"rollups", {{"level", "smallint"}, {"trend", "integer"}, {"t", "bigint"}, {"first_t", "bigint"}, {"first_v", "double precision"},
                        {"min_t", "bigint"}, {"min_v", "double precision"}, {"max_t", "bigint"}, {"max_v", "double precision"},
                        {"last_t", "bigint"}, {"last_v", "double precision"}}},
        {"plant_state", {{"id", "integer"}, {"saved", "bigint"}, {"state", "text"}}},
        {"sample_blocks", {{"trend", "integer"}, {"start", "bigint"}, {"first_t", "bigint"}, {"last_t", "bigint"}, {"n", "integer"},
                              {"dt", "integer[]"}, {"step", "double precision"}, {"k0", "bigint"}, {"dk", "integer[]"},
                              {"vals", "double precision[]"}, {"cell_t", "integer[]"}, {"cell_k", "integer[]"}, {"cell_v", "double precision[]"}}},
    };
    return tables;
}

QString upgrade(PgConnection& c, int from)
{
    const QList<QByteArray> steps1{
        "CREATE TABLE kalvora_meta(key text PRIMARY KEY, value text NOT NULL)",
        "CREATE TABLE trends(id integer GENERATED ALWAYS AS IDENTITY PRIMARY KEY, archive text NOT NULL, trend text NOT NULL, "
        "UNIQUE(archive, trend))",
        // The key serves both the upsert of a value written twice and every read of one trend's range.
        "CREATE TABLE samples(trend integer NOT NULL, t bigint NOT NULL, v double precision NOT NULL, PRIMARY KEY(trend, t)) "
        "PARTITION BY RANGE (t)",
        "CREATE TABLE rollups(level smallint NOT NULL, trend integer NOT NULL, t bigint NOT NULL, "
        "first_t bigint NOT NULL, first_v double precision NOT NULL, min_t bigint NOT NULL, min_v double precision NOT NULL, "
        "max_t bigint NOT NULL, max_v double precision NOT NULL, last_t bigint NOT NULL, last_v double precision NOT NULL, "
        "PRIMARY KEY(level, trend, t)) PARTITION BY RANGE (t)",
        "CREATE TABLE plant_state(id integer PRIMARY KEY CHECK (id = 1), saved bigint NOT NULL, state text NOT NULL)",
        "CREATE OR REPLACE VIEW history AS SELECT tr.archive, tr.trend, to_timestamp(s.t / 1000.0) AS time, s.v AS value "
        "FROM samples s JOIN trends tr ON tr.id = s.trend",
    };
    // Version 2: the keys' pages filled up to the brim. Rows come in by trend and time, so a page that
    // splits never takes another row in its middle; a late value written again splits one page, no more.
    // The key of a partitioned table takes no new storage options in place: it is made afresh.
    const QList<QByteArray> steps2{
        "ALTER TABLE samples DROP CONSTRAINT samples_pkey, ADD CONSTRAINT samples_pkey PRIMARY KEY (trend, t) WITH (fillfactor = 100)",
        "ALTER TABLE rollups DROP CONSTRAINT rollups_pkey, ADD CONSTRAINT rollups_pkey PRIMARY KEY (level, trend, t) WITH (fillfactor = 100)",
    };
    // Version 3: a trend's samples of an hour that has left the live window are packed into one row
    // (PgBlockColumns); the views unpack them, so tools still see every sample.
    const QList<QByteArray> steps3{
        "CREATE TABLE IF NOT EXISTS sample_blocks(trend integer NOT NULL, start bigint NOT NULL, first_t bigint NOT NULL, last_t bigint NOT NULL, "
        "n integer NOT NULL, dt integer[] COMPRESSION lz4 NOT NULL, step double precision, k0 bigint, dk integer[] COMPRESSION lz4, "
        "vals double precision[] COMPRESSION lz4, PRIMARY KEY(trend, start) WITH (fillfactor = 100))",
        PgBlockColumns::functionSql(),
        "CREATE OR REPLACE VIEW history AS SELECT tr.archive, tr.trend, to_timestamp(s.t / 1000.0) AS time, s.v AS value "
        "FROM (SELECT trend, t, v FROM samples UNION ALL SELECT b.trend, x.t, x.v FROM sample_blocks b CROSS JOIN LATERAL "
            + PgBlockColumns::unpackCall("b") + " x) s JOIN trends tr ON tr.id = s.trend",
    };
    // Version 4: a packed hour's minute cells move into its block (PgBlockColumns); blocks packed
    // before keep theirs in the rollups, where readers still find them.
    const QList<QByteArray> steps4{
        "ALTER TABLE sample_blocks ADD COLUMN IF NOT EXISTS cell_t integer[] COMPRESSION lz4, "
        "ADD COLUMN IF NOT EXISTS cell_k integer[] COMPRESSION lz4, ADD COLUMN IF NOT EXISTS cell_v double precision[] COMPRESSION lz4",
    };
    for (const auto& [version, steps] : {std::pair{1, &steps1}, std::pair{2, &steps2}, std::pair{3, &steps3}, std::pair{4, &steps4}})
        if (from < version)
            for (const QByteArray& sql : *steps)
                if (QString e = c.exec(sql).error(); !e.isEmpty())
                    return e;
    return c.exec("INSERT INTO kalvora_meta(key, value) VALUES('schema_version', $1) "
                  "ON CONFLICT (key) DO UPDATE SET value = EXCLUDED.value",
                  {QByteArray::number(PgArchiveSchema::SchemaVersion)})
        .error();
}

QString checkTables(PgConnection& c)
{
    for (const Table& table : expectedTables()) {
        PgResult r = c.exec("SELECT attname, format_type(atttypid, atttypmod) FROM pg_attribute "
                            "WHERE attrelid = to_regclass(quote_ident(current_schema()) || '.' || $1) AND attnum > 0 AND NOT attisdropped",
                            {QByteArray(table.name)});
        if (!r.ok())
            return r.error();
        if (r.rows() == 0)
            return QStringLiteral("Archive table %1 is missing").arg(QString::fromLatin1(table.name));
        for (const Column& column : table.columns) {
            int found = -1;
            for (int i = 0; i < r.rows() && found < 0; ++i)
                if (r.text(i, 0) == column.name)
                    found = i;
            if (found < 0)
                return QStringLiteral("Archive table %1: column %2 is missing").arg(QString::fromLatin1(table.name), QString::fromLatin1(column.name));
            if (r.text(found, 1) != column.type)
                return QStringLiteral("Archive table %1: column %2 is %3, expected %4")
                    .arg(QString::fromLatin1(table.name), QString::fromLatin1(column.name), QString::fromUtf8(r.text(found, 1)),
                        QString::fromLatin1(column.type));
        }
    }
    return {};
}

QString grantReader(PgConnection& c, const QByteArray& view)
{
    const QByteArray role = PgArchiveSchema::ReaderRole;
    const QString e = c.exec("DO $$BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '" + role + "') THEN CREATE ROLE " + role
                         + " NOLOGIN; END IF; END$$")
                          .error();
    if (!e.isEmpty())
        return e;
    if (QString g = c.exec("DO $$BEGIN EXECUTE format('GRANT USAGE ON SCHEMA %I TO " + role + "', current_schema()); END$$").error(); !g.isEmpty())
        return g;
    return c.exec("GRANT SELECT ON " + view + " TO " + role).error();
}

} // namespace

QString PgArchiveSchema::open(PgConnection& c)
{
    PgTransaction transaction(c);
    if (!transaction.error().isEmpty())
        return transaction.error();
    // Two servers opening one database at once: one upgrades, the other then finds it done.
    if (QString e = c.exec("SELECT pg_advisory_xact_lock(7413020)").error(); !e.isEmpty())
        return e;
    PgResult exists = c.exec("SELECT to_regclass('kalvora_meta') IS NOT NULL");
    if (!exists.ok())
        return exists.error();
    int version = 0;
    if (exists.text(0, 0) == "t") {
        PgResult r = c.exec("SELECT value FROM kalvora_meta WHERE key = 'schema_version'");
        if (!r.ok())
            return r.error();
        version = r.rows() ? r.text(0, 0).toInt() : 0;
    }
    if (version > SchemaVersion)
        return QStringLiteral("The archive in %1 has schema version %2, newer than this program's %3; it needs a newer program")
            .arg(c.describe())
            .arg(version)
            .arg(SchemaVersion);
    if (version < SchemaVersion)
        if (QString e = upgrade(c, version); !e.isEmpty())
            return QStringLiteral("Upgrading the archive in %1 failed: %2").arg(c.describe(), e);
    if (QString e = checkTables(c); !e.isEmpty())
        return QStringLiteral("%1 in %2").arg(e, c.describe());
    if (QString e = grantReader(c, "history"); !e.isEmpty())
        qCWarning(historyLog).noquote() << "The read-only role" << ReaderRole << "could not be set up:" << e;
    return transaction.commit();
}

QList<int> PgArchiveSchema::bindTrends(PgConnection& c, const QList<std::pair<QString, QString>>& trends, QString* error)
{
    QList<int> ids;
    QStringList archives;
    for (const auto& [archive, trend] : trends) {
        PgResult r = c.exec("WITH added AS (INSERT INTO trends(archive, trend) VALUES($1, $2) ON CONFLICT DO NOTHING RETURNING id) "
                            "SELECT id FROM added UNION ALL SELECT id FROM trends WHERE archive = $1 AND trend = $2",
                            {archive.toUtf8(), trend.toUtf8()});
        if (!r.ok() || r.rows() == 0) {
            *error = r.error();
            return {};
        }
        ids.append(static_cast<int>(r.int64(0, 0)));
        if (!archives.contains(archive))
            archives.append(archive);
    }
    for (const QString& archive : std::as_const(archives)) {
        const QByteArray view = c.identifier(QStringLiteral("history_") + archive);
        PgResult r = c.exec("SELECT format('CREATE OR REPLACE VIEW %I AS SELECT archive, trend, time, value FROM history WHERE archive = %L', "
                            "'history_' || $1::text, $1::text)",
            {archive.toUtf8()});
        if (!r.ok() || !(r = c.exec(r.text(0, 0))).ok()) {
            *error = r.error();
            return {};
        }
        if (QString e = grantReader(c, view); !e.isEmpty())
            qCWarning(historyLog).noquote() << "The read-only role" << ReaderRole << "could not read" << view << ":" << e;
    }
    error->clear();
    return ids;
}

qint64 PgArchiveSchema::monthStart(qint64 t)
{
    const QDate d = QDateTime::fromMSecsSinceEpoch(t, Qt::UTC).date();
    return QDateTime(QDate(d.year(), d.month(), 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
}

qint64 PgArchiveSchema::nextMonth(qint64 t)
{
    return QDateTime::fromMSecsSinceEpoch(monthStart(t), Qt::UTC).addMonths(1).toMSecsSinceEpoch();
}

QString PgArchiveSchema::monthKey(qint64 monthStartMs)
{
    return QDateTime::fromMSecsSinceEpoch(monthStartMs, Qt::UTC).toString(QStringLiteral("yyyyMM"));
}

QString PgArchiveSchema::ensurePartitions(PgConnection& c, qint64 t0, qint64 t1)
{
    for (qint64 m = monthStart(t0); m <= t1; m = nextMonth(m)) {
        const QByteArray key = monthKey(m).toLatin1();
        const QByteArray bounds = " FOR VALUES FROM (" + QByteArray::number(m) + ") TO (" + QByteArray::number(nextMonth(m)) + ")";
        for (const char* table : {"samples", "rollups"})
            if (QString e = c.exec("CREATE TABLE IF NOT EXISTS " + QByteArray(table) + "_" + key + " PARTITION OF " + QByteArray(table) + bounds).error(); !e.isEmpty())
                return e;
    }
    return {};
}

QList<std::pair<QString, qint64>> PgArchiveSchema::partitions(PgConnection& c, QString* error)
{
    QList<std::pair<QString, qint64>> out;
    PgResult r = c.exec("SELECT child.relname FROM pg_inherits i JOIN pg_class child ON child.oid = i.inhrelid "
                        "WHERE i.inhparent = 'samples'::regclass ORDER BY child.relname");
    *error = r.error();
    for (int i = 0; i < r.rows(); ++i) {
        const QString name = QString::fromUtf8(r.text(i, 0));
        const QDate month = QDate::fromString(name.mid(8), QStringLiteral("yyyyMM"));
        if (name.startsWith(QLatin1String("samples_")) && month.isValid())
            out.append({name, nextMonth(QDateTime(month, QTime(0, 0), Qt::UTC).toMSecsSinceEpoch())});
    }
    return out;
}
