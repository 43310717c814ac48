#pragma once

// What the archive's tests share: a small archive in a temporary folder and the reduction worked out
// by brute force.
#include "ArchiveStore.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <functional>

#include <sqlite3.h>

inline ArchiveSettings settings(int deleteBatch = 1000)
{
    ArchiveSettings s;
    s.retentionDays = 30;
    s.deleteBatch = deleteBatch;
    s.archives = {
        {QStringLiteral("A"), {{QStringLiteral("t1"), QStringLiteral("v1"), 0, 100, {}}, {QStringLiteral("T1"), QStringLiteral("v2"), 0, 100, {}}}},
        {QStringLiteral("B"), {{QStringLiteral("t1"), QStringLiteral("v3"), 0, 1500, {}}}},
    };
    return s;
}

struct Store {
    QTemporaryDir dir;
    ArchiveStore store{nullptr};
    QString path = QDir(dir.path()).filePath(QStringLiteral("archive.sqlite"));
    /// Makes the store on a database server; empty: the file at `path`.
    ArchiveBackend::Factory server;
    QString connection; ///< the server's connection string, for counts of its own

    explicit Store(int deleteBatch = 1000, ArchiveBackend::Factory onServer = {})
        : server(std::move(onServer))
    {
        store.setSettings(settings(deleteBatch));
        const QString error = open();
        if (!error.isEmpty())
            qFatal("%s", qPrintable(error));
    }
    /// The file's backend while the store has it open; null on a server.
    SqliteArchiveBackend* file = nullptr;
    /// Opens the same archive (again).
    QString open(QString* notice = nullptr)
    {
        if (server)
            return store.open(server(), notice);
        auto backend = std::make_unique<SqliteArchiveBackend>(path);
        file = backend.get();
        return store.open(std::move(backend), notice);
    }
    /// Waits on a server's packer the same way; set by whoever makes the server's store.
    std::function<bool()> serverPacked;
    /// Waits until the file's packer has packed every hour that left the live window.
    bool packed() { return file ? file->waitPacked(20000) : !serverPacked || serverPacked(); }
};

/// The reduction worked out the slow way from the samples themselves.
inline QList<ArchiveSample> bruteForce(const QList<ArchiveSample>& all, qint64 t0, qint64 t1, int buckets)
{
    QMap<qint64, QList<ArchiveSample>> byBucket;
    for (const ArchiveSample& s : all)
        if (s.timeMs >= t0 && s.timeMs <= t1)
            byBucket[static_cast<qint64>((static_cast<long double>(s.timeMs) - t0) * buckets / (static_cast<long double>(t1) - t0 + 1))].append(s);
    QList<ArchiveSample> result;
    for (const QList<ArchiveSample>& bucket : std::as_const(byBucket)) {
        ArchiveSample low = bucket.first();
        ArchiveSample high = bucket.first();
        for (const ArchiveSample& s : bucket) {
            if (s.value < low.value)
                low = s;
            if (s.value > high.value)
                high = s;
        }
        QMap<qint64, ArchiveSample> picked{{bucket.first().timeMs, bucket.first()}, {low.timeMs, low}, {high.timeMs, high}, {bucket.last().timeMs, bucket.last()}};
        result += picked.values();
    }
    return result;
}

inline qint64 sqliteCount(const QString& path, const char* sql)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    const qint64 n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return n;
}

