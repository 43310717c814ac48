#pragma once

#include "BusRequest.h"
#include "HistoryReader.h"

#include <functional>

class RequestClient;
struct BusReply;

/// \brief History read from the server's archive and alarm journal through requests; answers come
/// when the server's answer does, a failure (no server, no answer) as the error.
class RemoteHistory final : public HistoryReader {
public:
    /// A sample on the wire: time in ms (int64) and value (IEEE double), little-endian, in base64.
    static constexpr int PackedSampleBytes = 16;

    RemoteHistory(RequestClient& requests, std::function<QString()> user);

    void reduced(const QString& archive, const QString& trend, qint64 from, qint64 to, int buckets, QObject* context,
                 Samples done) override;
    void range(const QString& archive, const QString& trend, qint64 from, qint64 to, QObject* context, Samples done) override;
    void journalPage(const AlarmJournalFilter& filter, qint64 beforeId, int limit, QObject* context, Entries done) override;
    void journalCount(const AlarmJournalFilter& filter, QObject* context, Count done) override;

    /// The samples of an answer, oldest first; empty with `error` set when they are malformed.
    static QList<ArchiveSample> samplesOf(const BusReply& reply, QString* error);
    static QList<AlarmJournalEntry> entriesOf(const BusReply& reply, QString* error);

private:
    BusRequest request(BusRequest::Op op) const;
    void askSamples(const BusRequest& request, QObject* context, Samples done);

    RequestClient& m_requests;
    std::function<QString()> m_user;
};
