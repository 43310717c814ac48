#include "PgLink.h"

#include "HistoryLog.h"
#include "KalvoraError.h"

#include <algorithm>

QString PgLink::open()
{
    if (QString e = m_c.open(m_conninfo); !e.isEmpty())
        return e;
    if (QString e = m_setup ? m_setup(m_c) : QString(); !e.isEmpty()) {
        m_c.close();
        return e;
    }
    m_where = m_c.describe();
    return {};
}

void PgLink::fail(const QString& error)
{
    if (!m_c.isOpen() && m_backoffMs == 0) {
        m_backoffMs = FirstBackoffMs;
        m_sinceFailure.start();
    }
    m_lastError = error;
    throw KalvoraError(error);
}

void PgLink::ensure()
{
    if (m_c.isOpen())
        return;
    if (m_backoffMs > 0 && m_sinceFailure.isValid() && m_sinceFailure.elapsed() < m_backoffMs)
        throw KalvoraError(m_lastError);
    if (const QString error = open(); !error.isEmpty()) {
        m_backoffMs = m_backoffMs == 0 ? FirstBackoffMs : std::min(2 * m_backoffMs, LastBackoffMs);
        m_sinceFailure.start();
        m_lastError = error;
        throw KalvoraError(error);
    }
    if (m_backoffMs > 0)
        qCInfo(historyLog).noquote() << "Connected again to" << m_where;
    m_backoffMs = 0;
}

bool PgLink::reachable()
{
    try {
        ensure();
        return true;
    } catch (const KalvoraError&) {
        return false;
    }
}
