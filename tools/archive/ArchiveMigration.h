#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class SqliteArchiveBackend;

/// \brief Copies the embedded archive file and alarm journal file into the archive and journal on a
/// PostgreSQL server. Resumable: samples go in batches per trend in time order, each batch one
/// transaction, and a restart continues after the newest sample the server holds for the trend (a
/// sample copied twice only replaces itself); journal rows go with their progress in the same
/// transaction. At the end every trend's and the journal's counts are compared.
class ArchiveMigration final {
public:
    struct Options {
        QString archiveFile;
        QString journalFile; ///< empty: no journal
        QString connection;
        int batch = 200'000; ///< samples (or journal rows) per transaction
    };
    /// Told each line of progress and of the count check.
    using Report = std::function<void(const QString& line)>;

    explicit ArchiveMigration(Options options, Report report)
        : m_o(std::move(options))
        , m_report(std::move(report))
    {
    }

    /// Empty when everything was copied and the counts agree; otherwise what went wrong.
    QString run();

private:
    QString copyArchive(class PgConnection& c, SqliteArchiveBackend& archive, QStringList& mismatches);
    QString copyJournal(class PgConnection& c, QStringList& mismatches);

    Options m_o;
    Report m_report;
};
