#pragma once

#include "KalvoraError.h"

#include <QDebug>
#include <QList>
#include <QString>

/// \brief Journal rows a file refused (disk full, I/O error), held in memory in order until the file
/// takes them again; beyond the limit the oldest are dropped, counted and logged once. The alarm
/// journal and the audit journal keep their rows through it, as the archive keeps its samples.
template <class Row>
class HeldRows final {
public:
    HeldRows(QString what, int limit)
        : m_what(std::move(what))
        , m_limit(limit)
    {
    }

    /// Adds `rows` after those still held and hands them all to `write`, which writes the list in one
    /// transaction or throws KalvoraError; on a throw the rows stay held and the fault is kept.
    template <class Write>
    void write(const QList<Row>& rows, Write&& write)
    {
        m_rows += rows;
        if (m_rows.isEmpty())
            return;
        try {
            write(std::as_const(m_rows));
        } catch (const KalvoraError& e) {
            if (m_fault.isEmpty())
                qWarning().noquote() << QStringLiteral("%1: writing failed, entries are held in memory and retried: %2").arg(m_what, e.message());
            m_fault = e.message();
            if (const qsizetype over = m_rows.size() - m_limit; over > 0) {
                if (m_dropped == 0)
                    qWarning().noquote() << QStringLiteral("%1: more than %2 entries held; the oldest are dropped").arg(m_what).arg(m_limit);
                m_rows.remove(0, over);
                m_dropped += over;
            }
            return;
        }
        if (!m_fault.isEmpty())
            qWarning().noquote() << QStringLiteral("%1: writing works again; %2 held entries written, %3 dropped").arg(m_what).arg(m_rows.size()).arg(m_dropped);
        m_rows.clear();
        m_fault.clear();
    }

    /// Forgets everything held (the file is closed), saying what is lost.
    void clear()
    {
        if (!m_rows.isEmpty())
            qWarning().noquote() << QStringLiteral("%1: %2 entries could not be written before closing (%3)").arg(m_what).arg(m_rows.size()).arg(m_fault);
        m_rows.clear();
        m_fault.clear();
        m_dropped = 0;
    }

    int count() const { return static_cast<int>(m_rows.size()); }
    qint64 dropped() const { return m_dropped; }
    /// Why the file refused the last write; empty while it takes them.
    const QString& fault() const { return m_fault; }

private:
    QString m_what;
    int m_limit;
    QList<Row> m_rows;
    QString m_fault;
    qint64 m_dropped = 0;
};
