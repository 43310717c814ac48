#include "EmbeddedHistory.h"

#include "KalvoraError.h"

namespace {

// A file that cannot be read answers with the reason, as a server that cannot would.
template <class Read, class Done, class Empty>
void answer(Read read, const Done& done, Empty empty)
{
    try {
        auto result = read();
        done(result, QString());
    } catch (const KalvoraError& e) {
        done(empty, e.message());
    }
}

} // namespace

EmbeddedHistory::EmbeddedHistory(const ArchiveStore& archive, const AlarmJournal& journal)
    : m_archive(archive)
    , m_journal(journal)
{
}

void EmbeddedHistory::reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject*,
                              Samples done)
{
    answer([&] { return m_archive.reduced(archive, trend, from, to, buckets); }, done, QList<ArchiveSample>{});
}

void EmbeddedHistory::range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject*, Samples done)
{
    answer([&] { return m_archive.range(archive, trend, from, to); }, done, QList<ArchiveSample>{});
}

void EmbeddedHistory::journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject*, Entries done)
{
    answer([&] { return m_journal.page(filter, beforeId, limit); }, done, QList<AlarmJournalEntry>{});
}

void EmbeddedHistory::journalCount(const AlarmJournalFilter& filter, QObject*, Count done)
{
    answer([&] { return m_journal.count(filter); }, done, qint64(0));
}
