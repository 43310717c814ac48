#pragma once

#include "PgConnection.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

/// \brief A connection to the database server that comes back by itself: a statement that fails
/// because the server went away starts a back-off (1 s, doubling up to 30 s), and the first use after
/// it connects again and runs the owner's set-up (schema check, trends) before anything else.
class PgLink final {
public:
    static constexpr qint64 FirstBackoffMs = 1000;
    static constexpr qint64 LastBackoffMs = 30'000;
    /// Runs on every fresh connection; an empty text on success.
    using Setup = std::function<QString(PgConnection&)>;

    PgLink(QString conninfo, Setup setup)
        : m_conninfo(std::move(conninfo))
        , m_setup(std::move(setup))
    {
    }

    /// Connects now, whatever the back-off; an empty text on success, otherwise why not.
    QString open();
    void close() { m_c.close(); }
    PgConnection& connection() { return m_c; }
    /// The server's database, for messages; kept while the server is away.
    const QString& where() const { return m_where; }

    /// Throws KalvoraError while the server cannot be reached; connects again once the back-off passed.
    void ensure();
    /// Whether the server can be used now (ensure() without the throw).
    bool reachable();
    /// Throws `error` as a KalvoraError; a lost connection starts the back-off.
    [[noreturn]] void fail(const QString& error);

private:
    QString m_conninfo;
    Setup m_setup;
    PgConnection m_c;
    QString m_where;
    qint64 m_backoffMs = 0;
    QElapsedTimer m_sinceFailure;
    QString m_lastError;
};
