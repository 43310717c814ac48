#pragma once

#include <QObject>

#include <functional>

class QMTrend;

/// \brief Times a chart from an action to its first paint with the data the action asked for,
/// read from the archive in process or from a server.
class ChartTiming final : public QObject {
public:
    explicit ChartTiming(QMTrend& chart);

    /// Milliseconds from `action` to the chart painted with all the data it asked for.
    double toPainted(const std::function<void()>& action);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMTrend& m_chart;
    bool m_painted = false;
};

class ArchiveStore;

namespace ChartBench {

constexpr qint64 DayMs = 86400LL * 1000;
constexpr int Curves = 8;

/// Writes `days` of 1-second samples of the first Curves trends, ending at `endMs`, straight into
/// the store (some 700 MB of disk and a minute or two for a month).
void fillArchive(ArchiveStore& store, qint64 endMs, int days);
/// Binds the chart's Curves curves to the store's first trends, 0 to 1000.
void bindCurves(QMTrend& chart, ArchiveStore& store);
/// A wheel notch in (even `run`) or out over the chart's middle.
void wheelStep(QMTrend& chart, int run);

} // namespace ChartBench
