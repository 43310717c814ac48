#include "ChartTiming.h"

#include "ArchiveStore.h"
#include "QMTrend.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QWheelEvent>

#include <cmath>

ChartTiming::ChartTiming(QMTrend& chart)
    : m_chart(chart)
{
    chart.installEventFilter(this);
}

double ChartTiming::toPainted(const std::function<void()>& action)
{
    QElapsedTimer timer;
    timer.start();
    m_painted = false;
    action();
    // Sleeps between events: a busy loop here would take a core from the server it waits for.
    while (!m_painted || m_chart.isRefreshPending() || m_chart.isReading())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

bool ChartTiming::eventFilter(QObject*, QEvent* event)
{
    if (event->type() == QEvent::Paint && !m_chart.isRefreshPending() && !m_chart.isReading())
        m_painted = true;
    return false;
}

namespace ChartBench {

void fillArchive(ArchiveStore& store, qint64 endMs, int days)
{
    const qint64 from = endMs - days * DayMs;
    for (qint64 day = 0; day < days; ++day) {
        store.beginBulk();
        for (int trend = 0; trend < Curves; ++trend)
            for (qint64 s = 0; s < 86400; ++s) {
                const qint64 second = day * 86400 + s;
                store.bulkAdd(trend, from + second * 1000, 500.0 + 400.0 * std::sin(second * 0.0003 + trend) + (second * 7919 % 101) / 10.0);
            }
        store.endBulk(true);
    }
}

void bindCurves(QMTrend& chart, ArchiveStore& store)
{
    for (int i = 0; i < Curves; ++i) {
        chart.setProperty(qPrintable(QStringLiteral("Trend%1").arg(i + 1)), store.trendAt(i).name);
        chart.setProperty(qPrintable(QStringLiteral("Archive%1").arg(i + 1)), store.archiveOf(i));
        chart.setProperty(qPrintable(QStringLiteral("MaxValue%1").arg(i + 1)), 1000.0);
    }
}

void wheelStep(QMTrend& chart, int run)
{
    const QPointF middle(chart.width() / 2.0, chart.height() / 2.0);
    QWheelEvent wheel(middle, chart.mapToGlobal(middle), QPoint(), QPoint(0, run % 2 == 0 ? 120 : -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&chart, &wheel);
}

} // namespace ChartBench
