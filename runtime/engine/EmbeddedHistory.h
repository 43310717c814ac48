#pragma once

#include "HistoryReader.h"

/// \brief History from the station's own archive and alarm journal: every callback runs before the
/// call returns, so callers behave as if they had read the files themselves.
class EmbeddedHistory final : public HistoryReader {
public:
    EmbeddedHistory(const ArchiveStore& archive, const AlarmJournal& journal);

    void reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject* context,
                 Samples done) override;
    void range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject* context, Samples done) override;
    void journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject* context, Entries done) override;
    void journalCount(const AlarmJournalFilter& filter, QObject* context, Count done) override;

private:
    const ArchiveStore& m_archive;
    const AlarmJournal& m_journal;
};
