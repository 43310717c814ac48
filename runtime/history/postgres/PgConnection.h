#pragma once

#include "PgResult.h"

#include <QByteArray>
#include <QList>
#include <QString>

struct pg_conn;

/// \brief One connection to a PostgreSQL server over libpq. Every failure comes back as a value whose
/// text names what is wrong (the connection string, the host and port, the user, the database, the
/// statement); passwords never appear in it.
class PgConnection final {
public:
    PgConnection() = default;
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    /// Connects; an empty text on success, otherwise why not.
    QString open(const QString& conninfo);
    void close();
    bool isOpen() const;
    /// The database, user, host and port in use, for messages.
    QString describe() const;

    enum class Rows { Text, Binary };
    /// Runs `sql` with text parameters $1, $2 ... (a null QByteArray is SQL NULL). Binary rows spare
    /// the conversion of numbers to text and back; for large reads.
    PgResult exec(const QByteArray& sql, const QList<QByteArray>& params = {}, Rows rows = Rows::Text);
    /// Prepares `sql` once under `name`; runPrepared() runs it.
    QString prepare(const QByteArray& name, const QByteArray& sql);
    PgResult runPrepared(const QByteArray& name, const QList<QByteArray>& params);
    /// `COPY ... FROM STDIN` with `data` in the format the statement names (text or binary).
    PgResult copyIn(const QByteArray& copySql, const QByteArray& data);

    QString begin();
    QString commit();
    /// Ends an open transaction without keeping it; quiet when there is none or the link is gone.
    void rollback();
    bool inTransaction() const;

    /// `value` as a quoted SQL identifier.
    QByteArray identifier(const QString& value) const;

private:
    PgResult finish(struct pg_result* result, const QByteArray& what, bool binary = false);
    pg_conn* m_conn = nullptr;
};

/// Rolls back unless commit() was called; for code that may leave early on an error.
class PgTransaction final {
public:
    explicit PgTransaction(PgConnection& c)
        : m_c(c)
    {
        m_error = c.begin();
    }
    ~PgTransaction()
    {
        if (!m_done)
            m_c.rollback();
    }
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;
    const QString& error() const { return m_error; }
    QString commit()
    {
        m_done = true;
        return m_c.commit();
    }

private:
    PgConnection& m_c;
    QString m_error;
    bool m_done = false;
};
