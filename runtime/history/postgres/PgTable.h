#pragma once

#include "PgConnection.h"

#include <QByteArray>
#include <QList>
#include <QString>

/// \brief What the journals on the server share about their tables: the check that a table has the
/// columns the program writes (a table altered by hand is refused, naming table and column), and
/// arrays as one parameter, so a list of rows goes in one statement.
class PgTable final {
public:
    PgTable() = delete;

    struct Column {
        const char* name;
        const char* type; ///< as information_schema names it
    };
    /// Empty when `table` has every column with its type; `what` names the journal in the message.
    static QString checkColumns(PgConnection& c, const QString& what, const char* table, const QList<Column>& columns);
    /// `items` as a PostgreSQL array literal of texts; a null item is NULL.
    static QByteArray array(const QList<QByteArray>& items);
    /// A text the row always has: '' when empty (a null QByteArray would be NULL).
    static QByteArray text(const QString& t) { return t.isEmpty() ? QByteArray("") : t.toUtf8(); }
};
