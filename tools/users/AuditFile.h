#pragma once

#include "AuditChain.h"

#include <QList>
#include <QString>

#include <optional>

/// \brief Reads the rows of an audit journal for AuditChain::verify: a file (SQLite, read only) or the
/// journal on a PostgreSQL server (nothing created or written there).
class AuditFile final {
public:
    AuditFile() = delete;

    struct Rows {
        QList<AuditRow> rows;
        QString error;        ///< the file could not be read as an audit journal
        bool noChain = false; ///< the journal's table has no hash column: written before rows were chained
        std::optional<AuditChain::Head> head; ///< the newest row as the journal recorded it; none when missing
    };
    /// The columns a chained journal's table "audit" must have.
    static QStringList columns();
    static Rows read(const QString& path);
    /// `where` receives the server's database, user, host and port, for messages.
    static Rows readServer(const QString& conninfo, QString* where);
};
