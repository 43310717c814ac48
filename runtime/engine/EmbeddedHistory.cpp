#include "EmbeddedHistory.h"

EmbeddedHistory::EmbeddedHistory(const ArchiveStore& archive, const AlarmJournal& journal)
    : m_archive(archive)
    , m_journal(journal)
{
}

void EmbeddedHistory::reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject*,
                              Samples done)
{
    done(m_archive.reduced(archive, trend, from, to, buckets), {});
}

void EmbeddedHistory::range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject*, Samples done)
{
    done(m_archive.range(archive, trend, from, to), {});
}

void EmbeddedHistory::journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject*, Entries done)
{
    done(m_journal.page(filter, beforeId, limit), {});
}

void EmbeddedHistory::journalCount(const AlarmJournalFilter& filter, QObject*, Count done)
{
    done(m_journal.count(filter), {});
}
