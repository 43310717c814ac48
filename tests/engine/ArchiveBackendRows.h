#pragma once

// The archive's behaviour tests run against every backend from one table: a `backend` column names
// it, and archiveOn() makes the Store for the row, on a fresh database of the run's throwaway cluster
// for PostgreSQL.
#include "ArchiveTestSupport.h"
#include "PgAlarmJournal.h"
#include "PgArchiveBackend.h"
#include "PostgresCluster.h"

#include <QTest>

inline const QStringList& archiveBackends()
{
    static const QStringList names{QStringLiteral("sqlite"), QStringLiteral("postgresql")};
    return names;
}

/// One cluster for the whole run, started on first use; stopped as the test program ends.
inline PostgresCluster& testCluster()
{
    static PostgresCluster cluster;
    static const QString error = cluster.start();
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    return cluster;
}

/// The connection to a fresh database on the cluster.
inline QString freshDatabase()
{
    static int made = 0;
    const QString db = QStringLiteral("behaviour%1").arg(++made);
    PgConnection admin;
    if (!admin.open(testCluster().conninfo()).isEmpty() || !admin.exec("CREATE DATABASE " + db.toUtf8()).ok())
        qFatal("cannot create database %s", qPrintable(db));
    return testCluster().conninfo(db);
}

/// The store of the row's backend.
inline std::unique_ptr<Store> archiveOn(const QString& backend, int deleteBatch = 1000)
{
    if (backend == u"sqlite")
        return std::make_unique<Store>(deleteBatch);
    const QString conninfo = freshDatabase();
    auto latest = std::make_shared<PgArchiveBackend*>(nullptr);
    auto store = std::make_unique<Store>(deleteBatch, [conninfo, latest] {
        auto backend = std::make_unique<PgArchiveBackend>(conninfo);
        *latest = backend.get();
        return backend;
    });
    store->connection = conninfo;
    store->serverPacked = [latest] { return *latest && (*latest)->waitPacked(20000); };
    return store;
}

/// A count over the store's own tables.
inline qint64 countIn(const Store& s, const char* sql)
{
    if (!s.server)
        return sqliteCount(s.path, sql);
    PgConnection c;
    if (!c.open(s.connection).isEmpty())
        return -1;
    PgResult r = c.exec(sql);
    return r.ok() ? r.int64(0, 0) : -1;
}

/// A `backend` column with one row per backend; for tests that have no other columns.
inline void backendRows()
{
    QTest::addColumn<QString>("backend");
    for (const QString& b : archiveBackends())
        QTest::newRow(qPrintable(b)) << b;
}

/// Opens the alarm journal of `engine` in the row's backend: the file `path`, or a database of its own
/// made on first use and kept for the row, so a second open finds what the first wrote.
struct JournalOn {
    QString backend;
    QString path;
    QString conninfo;

    template <class Engine>
    QString open(Engine& engine)
    {
        if (backend == u"sqlite")
            return engine.openJournal(path);
        if (conninfo.isEmpty())
            conninfo = freshDatabase();
        return engine.openJournal(std::make_unique<PgAlarmJournal>(conninfo));
    }
};
