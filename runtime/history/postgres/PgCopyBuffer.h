#pragma once

#include <QByteArray>
#include <QtEndian>

#include <cstring>

/// \brief Rows in PostgreSQL's binary COPY format, for `COPY ... FROM STDIN (FORMAT binary)`: no text
/// conversion of numbers on either side, the cheapest way to hand the server many rows.
class PgCopyBuffer final {
public:
    explicit PgCopyBuffer(qsizetype reserveRows = 0, int bytesPerRow = 32)
    {
        m_data.reserve(19 + reserveRows * bytesPerRow + 2);
        m_data.append("PGCOPY\n\377\r\n\0", 11);
        put<qint32>(0); // flags
        put<qint32>(0); // header extension length
    }
    PgCopyBuffer& row(qint16 fields)
    {
        put(fields);
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
    /// The finished buffer; add no rows after it.
    const QByteArray& finish()
    {
        put<qint16>(-1);
        return m_data;
    }

private:
    template <class T>
    void put(T v)
    {
        const T be = qToBigEndian(v);
        m_data.append(reinterpret_cast<const char*>(&be), sizeof be);
    }
    template <class T>
    PgCopyBuffer& field(T v)
    {
        put<qint32>(sizeof(T));
        put(v);
        return *this;
    }
    QByteArray m_data;
};
