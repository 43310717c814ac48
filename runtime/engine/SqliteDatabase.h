#pragma once

#include "KalvoraError.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

/// \brief A failure reported by SQLite, with its extended result code, so callers can tell a damaged
/// file from a full disk.
class SqliteError final : public KalvoraError {
public:
    SqliteError(const QString& message, int code)
        : KalvoraError(message)
        , m_code(code)
    {
    }
    int code() const noexcept { return m_code; }

private:
    int m_code;
};

/// \brief One prepared SQLite statement; resets itself before each new binding round.
class SqliteStatement final {
public:
    SqliteStatement() = default;
    SqliteStatement(sqlite3* db, const QString& file, const char* sql);
    ~SqliteStatement();
    SqliteStatement(SqliteStatement&& other) noexcept;
    SqliteStatement& operator=(SqliteStatement&& other) noexcept;
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    SqliteStatement& bind(int index, qint64 value);
    SqliteStatement& bind(int index, int value) { return bind(index, static_cast<qint64>(value)); }
    SqliteStatement& bind(int index, double value);
    SqliteStatement& bind(int index, const QString& value);
    SqliteStatement& bindNull(int index);

    /// Runs to the next row; false when done. Throws KalvoraError naming the file on failure.
    bool step();
    /// Runs a statement that returns no rows (or ignores them) and makes it ready for reuse.
    void run();
    void reset();

    qint64 int64(int column) const;
    double real(int column) const;
    QString text(int column) const;
    bool isNull(int column) const;

    sqlite3_stmt* handle() const { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
    sqlite3* m_db = nullptr;
    QString m_file;
    bool m_dirty = false;
};

/// \brief A SQLite file opened the way the runtime keeps its data: WAL with shared memory, so other
/// programs may read it live; one owner at a time, held by a lock on "<file>-lock"; versioned schema
/// in a `meta` table. A file that is not a database is moved aside and started anew.
class SqliteDatabase final {
public:
    /// Brings the schema from `fromVersion` (0: empty file) to the current version inside the open
    /// transaction; throws KalvoraError when it cannot.
    using Upgrade = std::function<void(SqliteDatabase& db, int fromVersion)>;

    struct OpenResult {
        std::unique_ptr<SqliteDatabase> database;
        /// Why the file could not be opened; empty on success.
        QString error;
        /// Something the operator should know although the open succeeded (a damaged file moved aside).
        QString notice;
    };

    /// Opens or creates `path`. `what` names the file in messages ("archive", "alarm journal").
    /// `checkNow` runs a quick_check before the file is handed out, for files small enough to check
    /// during the start; a damaged file is then moved aside as one found damaged at opening.
    static OpenResult open(const QString& path, const QString& what, int schemaVersion, const Upgrade& upgrade, bool checkNow = false);
    /// Moves the damaged file at `path` aside with its WAL (never overwriting anything) and starts a
    /// fresh one; `reason` says what was found. The notice names where the old file went.
    static OpenResult replaceDamaged(const QString& path, const QString& what, const QString& reason, int schemaVersion, const Upgrade& upgrade);
    /// Replaces the damaged file `db` holds by a fresh one in place: closed without a checkpoint, moved
    /// aside with its WAL, started anew (`db` is null when that failed). Statements prepared on it must
    /// be gone. Returns what the operator is told, naming the file and where it went.
    static QString replaceDamaged(std::unique_ptr<SqliteDatabase>& db, const QString& what, const QString& reason, int schemaVersion, const Upgrade& upgrade);
    /// Runs `work`; when it finds the file damaged, `onDamage` gets SQLite's reason and false is
    /// returned. Other failures go on to the caller.
    template <class Work, class OnDamage>
    static bool guarded(Work&& work, OnDamage&& onDamage)
    {
        try {
            work();
            return true;
        } catch (const SqliteError& e) {
            if (!isDamage(e.code()))
                throw;
            onDamage(e.message());
            return false;
        }
    }
    /// PRAGMA quick_check on `db`: empty for a sound file, else what was found. Stops early, with no
    /// finding, once `cancel` is set.
    static QString quickCheck(sqlite3* db, const std::atomic<bool>* cancel = nullptr);
    /// Why a file that opened cannot serve, from what preparing its work threw: a statement SQLite
    /// refuses (no such table or column) means tables of another schema, said so; else the fault as is.
    static QString unexpectedSchema(const QString& what, const QString& path, const KalvoraError& fault);
    /// SQLITE_CORRUPT or SQLITE_NOTADB, extended codes included.
    static bool isDamage(int code);

    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    const QString& path() const { return m_path; }
    sqlite3* handle() const { return m_db; }

    void exec(const char* sql);
    SqliteStatement prepare(const char* sql) const;

    void begin();
    void commit();
    void rollback() noexcept;
    bool inTransaction() const { return m_inTransaction; }

    /// Closing then leaves the main file as it is (no checkpoint), so a damaged file moved aside is
    /// the file as it was found; what was written since stays in its WAL.
    void keepFileOnClose();

    QString metaValue(const QString& key) const;
    void setMetaValue(const QString& key, const QString& value);

    /// Throws KalvoraError naming the file, the action and SQLite's reason.
    [[noreturn]] void raise(const QString& action) const;

private:
    SqliteDatabase(sqlite3* db, QString path);
    enum class Failure { None, Locked, Damaged, Other };
    static Failure classify(int code);
    static OpenResult tryOpen(const QString& path, const QString& what, int schemaVersion, const Upgrade& upgrade, bool checkNow, Failure& failure);
    /// Takes the owner's lock on "<path>-lock"; false when another holder has it.
    bool lockOwner(QString& error);
    static QString moveAside(const QString& path, QString& error);
    /// "not writable, owned by ..." for a file or folder the process may not write, else empty.
    static QString notWritable(const QString& path);

    sqlite3* m_db = nullptr;
    QString m_path;
    int m_lockFd = -1;
    bool m_inTransaction = false;
};

/// \brief Rolls a transaction back unless it was committed: a failed batch leaves no half of itself.
class SqliteTransaction final {
public:
    explicit SqliteTransaction(SqliteDatabase& db)
        : m_db(db)
    {
        m_db.begin();
    }
    ~SqliteTransaction()
    {
        if (!m_done)
            m_db.rollback();
    }
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    void commit()
    {
        m_db.commit();
        m_done = true;
    }

private:
    SqliteDatabase& m_db;
    bool m_done = false;
};
