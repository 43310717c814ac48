#pragma once

#include <QByteArray>
#include <QtEndian>

#include <algorithm>
#include <cstring>

/// \brief Rows in PostgreSQL's binary COPY format, for `COPY ... FROM STDIN (FORMAT binary)`: no text
/// conversion of numbers on either side, the cheapest way to hand the server many rows.
class PgCopyBuffer final {
public:
    explicit PgCopyBuffer(qsizetype reserveRows = 0, int bytesPerRow = 32)
    {
        // Written through a raw pointer into room made ahead: appending field by field cost more than
        // the server's side of the COPY for large batches.
        m_data.resize(std::max<qsizetype>(64, 19 + reserveRows * bytesPerRow + 2));
        m_p = m_data.data();
        std::memcpy(m_p, "PGCOPY\n\377\r\n\0", 11);
        m_size = 11;
        put<qint32>(0); // flags
        put<qint32>(0); // header extension length
    }
    PgCopyBuffer& row(qint16 fields)
    {
        put(fields);
        ++m_rows;
        return *this;
    }
    PgCopyBuffer& int16(qint16 v) { return field(v); }
    PgCopyBuffer& int32(qint32 v) { return field(v); }
    PgCopyBuffer& int64(qint64 v) { return field(v); }
    PgCopyBuffer& float8(double v)
    {
        qint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        return field(bits);
    }
    /// Rows written so far.
    qsizetype rows() const { return m_rows; }
    /// The finished buffer; add no rows after it.
    const QByteArray& finish()
    {
        put<qint16>(-1);
        m_data.truncate(m_size);
        return m_data;
    }

private:
    template <class T>
    void put(T v)
    {
        if (m_size + static_cast<qsizetype>(sizeof v) > m_data.size()) {
            m_data.resize(m_data.size() * 2);
            m_p = m_data.data();
        }
        qToBigEndian(v, m_p + m_size);
        m_size += sizeof v;
    }
    template <class T>
    PgCopyBuffer& field(T v)
    {
        put<qint32>(sizeof(T));
        put(v);
        return *this;
    }
    QByteArray m_data;
    char* m_p = nullptr;
    qsizetype m_size = 0;
    qsizetype m_rows = 0;
};
