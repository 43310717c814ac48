#pragma once

#include "AlarmJournal.h"
#include "ArchiveStore.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

/// \brief Reads history: reduced and raw archive samples, pages and counts of the alarm journal.
/// Each answer comes through a callback, at once from the station's own files or later from a server;
/// `error` is empty on success. A callback whose `context` is gone by then is not called.
class HistoryReader {
public:
    using Samples = std::function<void(const QList<ArchiveSample>& samples, const QString& error)>;
    using Entries = std::function<void(const QList<AlarmJournalEntry>& entries, const QString& error)>;
    using Count = std::function<void(qint64 count, const QString& error)>;

    virtual ~HistoryReader() = default;

    /// As ArchiveStore::reduced.
    virtual void reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject* context,
                         Samples done) = 0;
    /// As ArchiveStore::range.
    virtual void range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject* context, Samples done) = 0;
    /// As AlarmJournal::page.
    virtual void journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject* context, Entries done) = 0;
    /// As AlarmJournal::count.
    virtual void journalCount(const AlarmJournalFilter& filter, QObject* context, Count done) = 0;
};
