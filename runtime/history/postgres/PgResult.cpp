#include "PgResult.h"

#include <libpq-fe.h>

void PgResult::Free::operator()(pg_result* r) const
{
    PQclear(r);
}

PgResult::PgResult(pg_result* result, QString error)
    : m_result(result)
    , m_error(std::move(error))
{
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
