#pragma once

#include "HistoryReader.h"

#include <QObject>
#include <QSaveFile>
#include <QStringList>

#include <functional>
#include <map>
#include <vector>

/// \brief Writes curves' recorded samples of a period to a CSV file, one row per time, an hour at a
/// time so a month of eight curves never sits in memory at once. It reads through a HistoryReader, so
/// the samples may come from the station's files (done before start() returns) or from a server.
class TrendCsvExport final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TrendCsvExport)

public:
    struct Curve {
        QString archive;
        QString trend;
    };
    /// `done` gets the reason of a failure naming the file, or an empty text; it is not called when
    /// `parent` is gone first.
    static void start(HistoryReader& history, const QString& path, std::vector<Curve> curves, qint64 from, qint64 to,
                      QObject* parent, std::function<void(const QString& error)> done);

    static constexpr qint64 ChunkMs = 3600 * 1000;

private:
    TrendCsvExport(HistoryReader& history, const QString& path, std::vector<Curve> curves, qint64 from, qint64 to, QObject* parent,
                   std::function<void(const QString&)> done);
    void pump();
    void ask();
    void answer(const QList<ArchiveSample>& samples, const QString& error);
    void writeChunk();
    void finish(const QString& error);

    HistoryReader& m_history;
    QSaveFile m_file;
    std::vector<Curve> m_curves;
    qint64 m_to;
    qint64 m_t0;
    std::size_t m_curve = 0;
    std::map<qint64, std::vector<QString>> m_rows;
    std::function<void(const QString&)> m_done;
    bool m_finished = false;
    bool m_pumping = false;
    bool m_answered = false;
};
