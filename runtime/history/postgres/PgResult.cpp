#include "PgResult.h"

#include <QtEndian>

#include <libpq-fe.h>

#include <cstring>

void PgResult::Free::operator()(pg_result* r) const
{
    PQclear(r);
}

PgResult::PgResult(pg_result* result, QString error, bool binary)
    : m_result(result)
    , m_error(std::move(error))
    , m_binary(binary)
{
}

qint64 PgResult::int64(int row, int column) const
{
    if (!m_binary)
        return text(row, column).toLongLong();
    if (isNull(row, column))
        return 0;
    const char* p = PQgetvalue(m_result.get(), row, column);
    switch (PQgetlength(m_result.get(), row, column)) {
    case 2:
        return qFromBigEndian<qint16>(p);
    case 4:
        return qFromBigEndian<qint32>(p);
    case 8:
        return qFromBigEndian<qint64>(p);
    default:
        return 0;
    }
}

double PgResult::real(int row, int column) const
{
    if (!m_binary)
        return text(row, column).toDouble();
    if (isNull(row, column) || PQgetlength(m_result.get(), row, column) != 8)
        return 0.0;
    const quint64 bits = qFromBigEndian<quint64>(PQgetvalue(m_result.get(), row, column));
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

QString PgResult::sqlState() const
{
    const char* state = m_result ? PQresultErrorField(m_result.get(), PG_DIAG_SQLSTATE) : nullptr;
    return state ? QString::fromLatin1(state) : QString();
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result.get()) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return !m_result || PQgetisnull(m_result.get(), row, column);
}

QByteArray PgResult::text(int row, int column) const
{
    if (!m_result)
        return {};
    return QByteArray(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}

QByteArrayView PgResult::bytes(int row, int column) const
{
    if (!m_result)
        return {};
    return QByteArrayView(PQgetvalue(m_result.get(), row, column), PQgetlength(m_result.get(), row, column));
}
