#include "PgConnection.h"

#include "HistoryLog.h"

#include <libpq-fe.h>

#include <vector>

namespace {

QString text(const char* s)
{
    return QString::fromUtf8(s ? s : "").trimmed();
}

/// libpq reports a failed connection as text only; these are its messages for the common causes.
QString connectFailure(PGconn* conn)
{
    const QString message = text(PQerrorMessage(conn));
    const QString host = text(PQhost(conn));
    const QString port = text(PQport(conn));
    const QString user = text(PQuser(conn));
    const QString db = text(PQdb(conn));
    const QString where = host.startsWith(u'/') ? QStringLiteral("the socket folder %1, port %2").arg(host, port)
                                                : QStringLiteral("%1, port %2").arg(host.isEmpty() ? QStringLiteral("localhost") : host, port);
    if (message.contains(u"password authentication failed") || message.contains(u"no password supplied")
        || (message.contains(u"role \"") && message.contains(u"does not exist")) || message.contains(u"authentication failed"))
        return QStringLiteral("The database server at %1 refused user \"%2\": wrong password or unknown user (%3)").arg(where, user, message);
    if (message.contains(u"database \"") && message.contains(u"does not exist"))
        return QStringLiteral("The database \"%1\" does not exist on the server at %2").arg(db, where);
    if (message.contains(u"Connection refused") || message.contains(u"No such file or directory")
        || message.contains(u"could not translate host name") || message.contains(u"timeout expired")
        || message.contains(u"Network is unreachable") || message.contains(u"No route to host"))
        return QStringLiteral("The database server at %1 is not reachable (%2)").arg(where, message);
    return QStringLiteral("Connecting to database \"%1\" as \"%2\" at %3 failed: %4").arg(db, user, where, message);
}

} // namespace

PgConnection::~PgConnection()
{
    close();
}

QString PgConnection::open(const QString& conninfo)
{
    close();
    const QByteArray info = conninfo.toUtf8();
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(info.constData(), &parseError);
    if (!options) {
        // libpq may quote the piece it choked on, which can be a password: then only the fact is told.
        const QString detail = info.contains("password") ? QStringLiteral("the text around the password is malformed") : text(parseError);
        PQfreemem(parseError);
        return QStringLiteral("The database connection string is not valid: %1").arg(detail);
    }
    PQconninfoFree(options);
    // A host that does not answer must not hold the start for ever: ten seconds unless the string
    // says otherwise (the expanded string comes after the defaults and overrides them). A network that
    // drops without closing the connection must not hold a statement until the system's TCP time-out
    // (hours): keep-alive probes find a silent peer within about 20 s, and unacknowledged data fails
    // the statement after 20 s; the runtime then holds what it records and reconnects.
    const char* keywords[] = {"connect_timeout", "keepalives", "keepalives_idle", "keepalives_interval", "keepalives_count",
                              "tcp_user_timeout", "dbname", nullptr};
    const char* values[] = {"10", "1", "10", "3", "3", "20000", info.constData(), nullptr};
    m_conn = PQconnectdbParams(keywords, values, 1);
    if (PQstatus(m_conn) != CONNECTION_OK) {
        const QString reason = connectFailure(m_conn);
        close();
        return reason;
    }
    // The server's notices (a connection closed by a shutdown, say) go to the log, not to stderr.
    PQsetNoticeProcessor(m_conn, [](void*, const char* message) { qCDebug(historyLog).noquote() << text(message); }, nullptr);
    // Times and numbers are read back in a fixed form whatever the server's defaults. The archive's
    // statements are many and short: compiling them (JIT) costs more than it saves, up to 100 ms a chart.
    PQclear(PQexec(m_conn, "SET TimeZone = 'UTC'; SET client_min_messages = warning; SET jit = off"));
    return {};
}

void PgConnection::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
}

bool PgConnection::isOpen() const
{
    return m_conn && PQstatus(m_conn) == CONNECTION_OK;
}

QString PgConnection::describe() const
{
    if (!m_conn)
        return QStringLiteral("(not connected)");
    return QStringLiteral("database \"%1\" at %2:%3").arg(text(PQdb(m_conn)), text(PQhost(m_conn)), text(PQport(m_conn)));
}

PgResult PgConnection::finish(pg_result* result, const QByteArray& what, bool binary)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN)
        return PgResult(result, {}, binary);
    QString message = result ? text(PQresultErrorMessage(result)) : QString();
    if (message.isEmpty())
        message = m_conn ? text(PQerrorMessage(m_conn)) : QStringLiteral("not connected");
    if (m_conn && PQstatus(m_conn) != CONNECTION_OK)
        message = QStringLiteral("the connection to %1 is lost: %2").arg(describe(), message);
    return PgResult(result, QStringLiteral("%1: %2").arg(QString::fromUtf8(what.left(80)).simplified(), message));
}

PgResult PgConnection::exec(const QByteArray& sql, const QList<QByteArray>& params, Rows rows)
{
    if (!m_conn)
        return PgResult(nullptr, QStringLiteral("%1: not connected").arg(QString::fromUtf8(sql.left(80))));
    std::vector<const char*> values;
    for (const QByteArray& p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    return finish(PQexecParams(m_conn, sql.constData(), static_cast<int>(values.size()), nullptr, values.data(), nullptr, nullptr, rows == Rows::Binary ? 1 : 0), sql,
        rows == Rows::Binary);
}

QString PgConnection::prepare(const QByteArray& name, const QByteArray& sql)
{
    if (!m_conn)
        return QStringLiteral("not connected");
    return finish(PQprepare(m_conn, name.constData(), sql.constData(), 0, nullptr), sql).error();
}

PgResult PgConnection::runPrepared(const QByteArray& name, const QList<QByteArray>& params)
{
    if (!m_conn)
        return PgResult(nullptr, QStringLiteral("%1: not connected").arg(QString::fromUtf8(name)));
    std::vector<const char*> values;
    for (const QByteArray& p : params)
        values.push_back(p.isNull() ? nullptr : p.constData());
    return finish(PQexecPrepared(m_conn, name.constData(), static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0), name);
}

PgResult PgConnection::copyIn(const QByteArray& copySql, const QByteArray& data)
{
    PgResult start = finish(m_conn ? PQexec(m_conn, copySql.constData()) : nullptr, copySql);
    if (!start.ok())
        return start;
    if (PQputCopyData(m_conn, data.constData(), static_cast<int>(data.size())) != 1 || PQputCopyEnd(m_conn, nullptr) != 1)
        return PgResult(nullptr, QStringLiteral("%1: %2").arg(QString::fromUtf8(copySql.left(80)), text(PQerrorMessage(m_conn))));
    PgResult outcome;
    // The outcome of the COPY, then nothing more.
    while (PGresult* r = PQgetResult(m_conn)) {
        PgResult one = finish(r, copySql);
        if (outcome.ok())
            outcome = std::move(one);
    }
    return outcome;
}

QString PgConnection::begin()
{
    return exec("BEGIN").error();
}

QString PgConnection::commit()
{
    // The server answers COMMIT of a failed transaction with a quiet rollback: that is no success.
    if (m_conn && PQtransactionStatus(m_conn) == PQTRANS_INERROR) {
        rollback();
        return QStringLiteral("COMMIT: the transaction failed before and was rolled back");
    }
    return exec("COMMIT").error();
}

void PgConnection::rollback()
{
    if (inTransaction())
        PQclear(PQexec(m_conn, "ROLLBACK"));
}

bool PgConnection::inTransaction() const
{
    if (!m_conn)
        return false;
    const PGTransactionStatusType s = PQtransactionStatus(m_conn);
    return s == PQTRANS_INTRANS || s == PQTRANS_INERROR;
}

QByteArray PgConnection::identifier(const QString& value) const
{
    const QByteArray raw = value.toUtf8();
    char* quoted = m_conn ? PQescapeIdentifier(m_conn, raw.constData(), static_cast<size_t>(raw.size())) : nullptr;
    if (!quoted)
        return '"' + QByteArray(raw).replace('"', "\"\"") + '"';
    QByteArray out(quoted);
    PQfreemem(quoted);
    return out;
}
