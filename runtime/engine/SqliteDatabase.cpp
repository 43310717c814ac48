#include "SqliteDatabase.h"

#include "KalvoraError.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString sqliteMessage(sqlite3* db, int code)
{
    const char* message = db && sqlite3_errcode(db) != SQLITE_OK ? sqlite3_errmsg(db) : sqlite3_errstr(code);
    return QString::fromUtf8(message ? message : sqlite3_errstr(code));
}

// Long enough for a runtime that is just closing the same file to let go of it.
constexpr int BusyTimeoutMs = 1000;

} // namespace

SqliteStatement::SqliteStatement(sqlite3* db, const QString& file, const char* sql)
    : m_db(db)
    , m_file(file)
{
    const int rc = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr);
    if (rc != SQLITE_OK)
        throw SqliteError(QStringLiteral("%1: cannot prepare \"%2\": %3").arg(nativePath(file), QString::fromUtf8(sql), sqliteMessage(db, rc)), rc);
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : m_stmt(std::exchange(other.m_stmt, nullptr))
    , m_db(other.m_db)
    , m_file(std::move(other.m_file))
    , m_dirty(other.m_dirty)
{
}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept
{
    if (this != &other) {
        sqlite3_finalize(m_stmt);
        m_stmt = std::exchange(other.m_stmt, nullptr);
        m_db = other.m_db;
        m_file = std::move(other.m_file);
        m_dirty = other.m_dirty;
    }
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, qint64 value)
{
    if (m_dirty)
        reset();
    sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, double value)
{
    if (m_dirty)
        reset();
    sqlite3_bind_double(m_stmt, index, value);
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, const QString& value)
{
    if (m_dirty)
        reset();
    const QByteArray utf8 = value.toUtf8();
    sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index)
{
    if (m_dirty)
        reset();
    sqlite3_bind_null(m_stmt, index);
    return *this;
}

bool SqliteStatement::step()
{
    m_dirty = true;
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    const QString message = sqliteMessage(m_db, rc);
    const int code = sqlite3_extended_errcode(m_db);
    sqlite3_reset(m_stmt);
    m_dirty = false;
    throw SqliteError(QStringLiteral("%1: \"%2\" failed: %3").arg(nativePath(m_file), QString::fromUtf8(sqlite3_sql(m_stmt)), message), code != SQLITE_OK ? code : rc);
}

void SqliteStatement::run()
{
    while (step()) {
    }
    reset();
}

void SqliteStatement::reset()
{
    sqlite3_reset(m_stmt);
    m_dirty = false;
}

qint64 SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double SqliteStatement::real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

QString SqliteStatement::text(int column) const
{
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
    return QString::fromUtf8(data, sqlite3_column_bytes(m_stmt, column));
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

SqliteDatabase::SqliteDatabase(sqlite3* db, QString path)
    : m_db(db)
    , m_path(std::move(path))
{
}

SqliteDatabase::~SqliteDatabase()
{
    if (m_inTransaction)
        rollback();
    // Closing the last connection checkpoints the WAL into the main file.
    sqlite3_close_v2(m_db);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

bool SqliteDatabase::lockOwner(QString& error)
{
    // A lock of its own rather than SQLite's exclusive locking mode: readers stay welcome, a second
    // writer is turned away. flock belongs to the open file, so a second open in this process is
    // turned away too, and the kernel lets go of it when the process dies, however it dies.
    const QByteArray lockPath = QFile::encodeName(m_path + QStringLiteral("-lock"));
    // Opened for reading: flock needs no more, and a lock file left by another user does not get in
    // the way of saying what is wrong with the data file itself.
    m_lockFd = ::open(lockPath.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
        return true;
    const int code = errno;
    error = QString::fromLocal8Bit(std::strerror(code));
    ::close(m_lockFd);
    m_lockFd = -1;
    errno = code;
    return false;
}

bool SqliteDatabase::isDamage(int code)
{
    return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB;
}

void SqliteDatabase::keepFileOnClose()
{
    sqlite3_db_config(m_db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
}

QString SqliteDatabase::notWritable(const QString& path)
{
    // Tried on the file if it exists, else on its folder, where SQLite has to create it and its WAL.
    const QFileInfo file(path);
    const QFileInfo target = file.exists() ? file : QFileInfo(file.absolutePath());
    const QByteArray native = QFile::encodeName(target.absoluteFilePath());
    struct statvfs fs {};
    if (statvfs(native.constData(), &fs) == 0 && (fs.f_flag & ST_RDONLY))
        return QStringLiteral("%1 lies on a read-only file system").arg(nativePath(target.absoluteFilePath()));
    const bool folderOk = ::access(QFile::encodeName(file.absolutePath()).constData(), W_OK) == 0;
    if (::access(native.constData(), W_OK) == 0 && folderOk)
        return {};
    const QFileInfo blocker = ::access(native.constData(), W_OK) == 0 ? QFileInfo(file.absolutePath()) : target;
    // The mode as ls and chmod write it (0444); Qt's permission flags are no file mode.
    struct stat st {};
    const QString mode = ::stat(QFile::encodeName(blocker.absoluteFilePath()).constData(), &st) == 0
        ? QStringLiteral("0%1").arg(st.st_mode & 07777, 3, 8, QLatin1Char('0'))
        : QStringLiteral("mode unknown");
    return QStringLiteral("%1 is not writable for this program (user %2); it is owned by %3 (%4)")
        .arg(nativePath(blocker.absoluteFilePath()), QString::fromLocal8Bit(qgetenv("USER")).isEmpty() ? QString::number(::geteuid()) : QString::fromLocal8Bit(qgetenv("USER")),
            blocker.owner().isEmpty() ? QString::number(blocker.ownerId()) : blocker.owner(), mode);
}

SqliteDatabase::Failure SqliteDatabase::classify(int code)
{
    switch (code & 0xff) {
    case SQLITE_OK:
        return Failure::None;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Failure::Locked;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return Failure::Damaged;
    default:
        return Failure::Other;
    }
}

SqliteDatabase::OpenResult SqliteDatabase::tryOpen(const QString& path, const QString& what, int schemaVersion, const Upgrade& upgrade, bool checkNow, Failure& failure)
{
    OpenResult result;
    failure = Failure::None;
    std::unique_ptr<SqliteDatabase> db(new SqliteDatabase(nullptr, path));
    if (QString why; !db->lockOwner(why)) {
        failure = errno == EWOULDBLOCK ? Failure::Locked : Failure::Other;
        if (failure == Failure::Locked)
            result.error = QStringLiteral("The %1 %2 is locked by another program (is a second Kalvora running?)").arg(what, nativePath(path));
        else if (const QString blocked = notWritable(path + QStringLiteral("-lock")); !blocked.isEmpty())
            result.error = QStringLiteral("Cannot open the %1 %2: %3").arg(what, nativePath(path), blocked);
        else
            result.error = QStringLiteral("Cannot open the %1 %2: its lock file cannot be made (%3)").arg(what, nativePath(path), why);
        return result;
    }
    sqlite3*& raw = db->m_db;
    const int openCode = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    const auto fail = [&](int code, const QString& action) {
        failure = classify(code);
        switch (failure) {
        case Failure::Locked:
            result.error = QStringLiteral("The %1 %2 is locked by another program (is a second Kalvora running?)").arg(what, nativePath(path));
            break;
        case Failure::Damaged:
            result.error = QStringLiteral("The %1 %2 is damaged: %3").arg(what, nativePath(path), sqliteMessage(raw, code));
            break;
        default:
            if (const QString why = notWritable(path); !why.isEmpty())
                result.error = QStringLiteral("Cannot %1 the %2 %3: %4").arg(action, what, nativePath(path), why);
            else
                result.error = QStringLiteral("Cannot %1 the %2 %3: %4").arg(action, what, nativePath(path), sqliteMessage(raw, code));
            break;
        }
        return std::move(result);
    };
    if (openCode != SQLITE_OK)
        return fail(openCode, QStringLiteral("open"));
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, BusyTimeoutMs);

    // A file SQLite could only open for reading is refused here, before anything tries to write it.
    if (sqlite3_db_readonly(raw, "main") == 1)
        return fail(SQLITE_READONLY, QStringLiteral("open"));
    // Normal locking: other programs read the file live through the WAL and its shared-memory index;
    // the owner's lock above keeps out a second writer.
    const auto exec = [&](const char* sql) { return sqlite3_exec(raw, sql, nullptr, nullptr, nullptr); };
    {
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(raw, "PRAGMA journal_mode=WAL", -1, &stmt, nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(stmt);
        const QString mode = rc == SQLITE_ROW ? QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))) : QString();
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW)
            return fail(rc, QStringLiteral("open"));
        if (mode.compare(QStringLiteral("wal"), Qt::CaseInsensitive) != 0) {
            failure = Failure::Other;
            result.error = QStringLiteral("Cannot switch the %1 %2 to write-ahead logging (journal mode stays \"%3\")").arg(what, nativePath(path), mode);
            return result;
        }
    }
    // NORMAL in WAL mode loses nothing committed when the process dies (a commit is in the WAL, in the
    // kernel's hands, before COMMIT returns); only a power cut can cost the last transactions, never
    // the file's consistency.
    if (const int rc = exec("PRAGMA synchronous=NORMAL"); rc != SQLITE_OK)
        return fail(rc, QStringLiteral("configure"));
    exec("PRAGMA cache_size=-16384");
    if (const int rc = exec("BEGIN IMMEDIATE"); rc != SQLITE_OK)
        return fail(rc, QStringLiteral("lock"));
    db->m_inTransaction = true;
    if (const int rc = exec("CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID"); rc != SQLITE_OK)
        return fail(rc, QStringLiteral("read"));
    try {
        const QString stored = db->metaValue(QStringLiteral("schema_version"));
        bool understood = true;
        const int version = stored.isEmpty() ? 0 : stored.toInt(&understood);
        // Anything but a whole number from 1 up was not written by this program; taking it for an
        // empty file would build the schema over tables that exist.
        if (!understood || (!stored.isEmpty() && version < 1)) {
            failure = Failure::Other;
            result.error = QStringLiteral("The %1 %2 has a schema version this program does not understand (\"%3\"); it is left as it is")
                               .arg(what, nativePath(path), stored.left(40));
            return result;
        }
        if (version > schemaVersion) {
            failure = Failure::Other;
            result.error = QStringLiteral("The %1 %2 was written by a newer Kalvora (schema version %3; this program knows up to %4)")
                               .arg(what, nativePath(path))
                               .arg(version)
                               .arg(schemaVersion);
            return result;
        }
        if (version < schemaVersion) {
            upgrade(*db, version);
            db->setMetaValue(QStringLiteral("schema_version"), QString::number(schemaVersion));
            if (version == 0)
                db->setMetaValue(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
        }
        db->commit();
        if (checkNow) {
            if (const QString problem = quickCheck(raw); !problem.isEmpty()) {
                failure = Failure::Damaged;
                result.error = QStringLiteral("The %1 %2 is damaged: %3").arg(what, nativePath(path), problem);
                db->keepFileOnClose();
                return result;
            }
        }
    } catch (const KalvoraError& e) {
        const auto* sqlite = dynamic_cast<const SqliteError*>(&e);
        const int code = sqlite ? sqlite->code() : sqlite3_extended_errcode(raw);
        failure = classify(code) == Failure::Damaged ? Failure::Damaged : Failure::Other;
        const QString why = failure == Failure::Damaged ? QString() : notWritable(path);
        result.error = failure == Failure::Damaged ? QStringLiteral("The %1 %2 is damaged: %3").arg(what, nativePath(path), e.message())
            : why.isEmpty()                         ? e.message()
                                                    : QStringLiteral("Cannot write the %1 %2: %3").arg(what, nativePath(path), why);
        return result;
    }
    result.database = std::move(db);
    return result;
}

QString SqliteDatabase::moveAside(const QString& path, QString& error)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString target = QStringLiteral("%1.damaged-%2").arg(path, stamp);
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = QStringLiteral("%1.damaged-%2-%3").arg(path, stamp).arg(n);
    if (!QFile::rename(path, target)) {
        error = QStringLiteral("cannot move it aside to %1").arg(nativePath(target));
        return {};
    }
    // The write-ahead log belongs to the damaged file; a fresh file must not pick it up.
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString side = path + QLatin1String(suffix);
        if (QFileInfo::exists(side) && !QFile::rename(side, target + QLatin1String(suffix))) {
            error = QStringLiteral("cannot move %1 aside").arg(nativePath(side));
            return {};
        }
    }
    return target;
}

SqliteDatabase::OpenResult SqliteDatabase::open(const QString& path, const QString& what, int schemaVersion, const Upgrade& upgrade, bool checkNow)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return {nullptr, QStringLiteral("Cannot create the data folder %1 for the %2").arg(nativePath(folder), what), {}};
    Failure failure = Failure::None;
    OpenResult first = tryOpen(path, what, schemaVersion, upgrade, checkNow, failure);
    if (failure != Failure::Damaged)
        return first;
    first.database.reset();
    return replaceDamaged(path, what, first.error, schemaVersion, upgrade);
}

SqliteDatabase::OpenResult SqliteDatabase::replaceDamaged(const QString& path, const QString& what, const QString& reason, int schemaVersion, const Upgrade& upgrade)
{
    QString moveError;
    const QString movedTo = moveAside(path, moveError);
    if (movedTo.isEmpty())
        return {nullptr, QStringLiteral("%1; %2").arg(reason, moveError), {}};
    Failure failure = Failure::None;
    OpenResult fresh = tryOpen(path, what, schemaVersion, upgrade, false, failure);
    if (fresh.database)
        fresh.notice = QStringLiteral("%1. It was moved to %2 and a new %3 was started.").arg(reason, nativePath(movedTo), what);
    return fresh;
}

QString SqliteDatabase::replaceDamaged(std::unique_ptr<SqliteDatabase>& db, const QString& what, const QString& reason, int schemaVersion, const Upgrade& upgrade)
{
    const QString path = db->path();
    db->rollback();
    db->keepFileOnClose();
    db.reset();
    const QString why = QStringLiteral("The %1 %2 is damaged: %3").arg(what, nativePath(path), reason);
    OpenResult fresh = replaceDamaged(path, what, why, schemaVersion, upgrade);
    db = std::move(fresh.database);
    return db ? fresh.notice : fresh.error;
}

QString SqliteDatabase::quickCheck(sqlite3* db, const std::atomic<bool>* cancel)
{
    if (cancel) {
        sqlite3_progress_handler(db, 1000, [](void* flag) { return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0; },
            const_cast<std::atomic<bool>*>(cancel));
    }
    QString problem;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check(20)", -1, &stmt, nullptr);
    QStringList rows;
    if (rc == SQLITE_OK)
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            rows.append(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))));
    if (rc == SQLITE_DONE && !(rows.size() == 1 && rows.first() == QLatin1String("ok")))
        problem = QStringLiteral("quick_check found: %1").arg(rows.join(QStringLiteral("; ")));
    else if (rc != SQLITE_DONE && rc != SQLITE_INTERRUPT && isDamage(sqlite3_extended_errcode(db)))
        problem = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    if (cancel)
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
    return problem;
}

QString SqliteDatabase::unexpectedSchema(const QString& what, const QString& path, const KalvoraError& fault)
{
    const auto* sqlite = dynamic_cast<const SqliteError*>(&fault);
    if (!sqlite || (sqlite->code() & 0xff) != SQLITE_ERROR)
        return fault.message();
    return QStringLiteral("The %1 %2 does not hold the tables this program writes (%3); it is left as it is").arg(what, nativePath(path), fault.message());
}

void SqliteDatabase::exec(const char* sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const QString reason = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        const int code = sqlite3_extended_errcode(m_db);
        throw SqliteError(QStringLiteral("%1: \"%2\" failed: %3").arg(nativePath(m_path), QString::fromUtf8(sql), reason), code != SQLITE_OK ? code : rc);
    }
}

SqliteStatement SqliteDatabase::prepare(const char* sql) const
{
    return SqliteStatement(m_db, m_path, sql);
}

void SqliteDatabase::begin()
{
    if (m_inTransaction)
        throw KalvoraError(QStringLiteral("%1: a transaction is already open").arg(nativePath(m_path)));
    exec("BEGIN IMMEDIATE");
    m_inTransaction = true;
}

void SqliteDatabase::commit()
{
    exec("COMMIT");
    m_inTransaction = false;
}

void SqliteDatabase::rollback() noexcept
{
    if (!m_inTransaction)
        return;
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_inTransaction = false;
}

QString SqliteDatabase::metaValue(const QString& key) const
{
    SqliteStatement read = prepare("SELECT value FROM meta WHERE key = ?1");
    read.bind(1, key);
    return read.step() ? read.text(0) : QString();
}

void SqliteDatabase::setMetaValue(const QString& key, const QString& value)
{
    SqliteStatement write = prepare("INSERT OR REPLACE INTO meta(key, value) VALUES(?1, ?2)");
    write.bind(1, key).bind(2, value).run();
}

void SqliteDatabase::raise(const QString& action) const
{
    throw SqliteError(QStringLiteral("%1: %2 failed: %3").arg(nativePath(m_path), action, sqliteMessage(m_db, sqlite3_errcode(m_db))),
        sqlite3_extended_errcode(m_db));
}
