#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

struct pg_result;

/// \brief One answer of the server: rows in text format, or why the statement failed (the error is a
/// value; nothing throws). Owns its PGresult.
class PgResult final {
public:
    PgResult() = default;
    /// Takes `result` over; `error` empty means success.
    PgResult(pg_result* result, QString error, bool binary = false);

    bool ok() const { return m_error.isEmpty(); }
    const QString& error() const { return m_error; }
    /// The five-character SQLSTATE of a failed statement; empty when the server sent none.
    QString sqlState() const;
    int rows() const;
    bool isNull(int row, int column) const;
    QByteArray text(int row, int column) const;
    /// An integer column (smallint, integer, bigint) in either format.
    qint64 int64(int row, int column) const;
    /// A double precision column in either format.
    double real(int row, int column) const;
    /// The field's bytes as the server sent them (binary rows: its wire format).
    QByteArrayView bytes(int row, int column) const;

private:
    struct Free {
        void operator()(pg_result* r) const;
    };
    std::unique_ptr<pg_result, Free> m_result;
    QString m_error;
    bool m_binary = false;
};
