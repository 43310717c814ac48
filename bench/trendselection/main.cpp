// The trend chooser on the free-trend screen, with 24 hours of archive behind the chart:
//   - OK with eight trends selected to chart and legend both painted with the new set;
//   - the chart's request to the chooser painted, filled from catalogue and chart.
//
//   bench_trendselection [runs]   (default 30)
//
// The request is raised as the chart raises it; the operator action that makes the chart raise it is
// the chart's own and is not part of the figure.

#include "BenchStation.h"
#include "QMButton.h"
#include "QMSKey.h"
#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "Window.h"
#include "frmSelection.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

/// Notes when each watched widget has painted since it was armed.
class PaintWatch final : public QObject {
public:
    explicit PaintWatch(QElapsedTimer& clock)
        : m_clock(clock)
    {
    }
    void arm(std::initializer_list<QWidget*> widgets)
    {
        m_waiting.clear();
        for (QWidget* w : widgets) {
            w->installEventFilter(this);
            m_waiting.insert(w);
        }
    }
    bool done() const { return m_waiting.empty(); }
    qint64 lastPaintNs() const { return m_lastPaintNs; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_waiting.erase(watched) > 0) {
            m_lastPaintNs = m_clock.nsecsElapsed();
            watched->removeEventFilter(this);
        }
        return false;
    }

private:
    QElapsedTimer& m_clock;
    std::set<QObject*> m_waiting;
    qint64 m_lastPaintNs = 0;
};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "bench_trendselection: %s\n", what);
    std::exit(1);
}

void click(Window& dialog, const char* button)
{
    dialog.control<QPushButton>(QString::fromLatin1(button)).click();
}

void report(const char* what, const std::vector<double>& times, const char* goal)
{
    std::printf("  %-46s %8.1f %8.1f   %s\n", what, percentile(times, 50), percentile(times, 95), goal);
}

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const int runs = argc >= 2 ? std::max(5, std::atoi(argv[1])) : 30;
    BenchStation station(true, 24);
    if (!station.startUp())
        fail("the station did not start");
    Shell& shell = station.shell();
    shell.window(QStringLiteral("FCentral")).control<QMButton>(QStringLiteral("QMButton1")).key(7).click();
    Window& screen = shell.window(QStringLiteral("frmTrendSelection"));
    if (!QTest::qWaitFor([&] { return screen.isVisible(); }, 5000))
        fail("the free-trend screen did not come up");
    auto& chart = screen.control<QMTrend>(QStringLiteral("trdDummy"));
    auto& legend = screen.control<QMTrendLegend>(QStringLiteral("legTrends"));
    chart.setPeriodSeconds(24 * 3600);
    Window& dialog = shell.window(QStringLiteral("frmSelection"));
    frmSelection::setMessageSink([](QWidget&, const QString&) {});

    QElapsedTimer clock;
    clock.start();
    PaintWatch watch(clock);
    std::vector<double> opening;
    std::vector<double> applying;
    for (int run = 0; run < runs; ++run) {
        // Request to painted: the chooser is loaded and filled inside the request and painted in its loop.
        qint64 requested = 0;
        qint64 pressed = 0;
        const auto loaded = QObject::connect(&shell.windows(), &WindowManager::windowEvent, &watch, [&](Window* w, WindowManager::Event e) {
            if (w == &dialog && e == WindowManager::Event::Loaded)
                watch.arm({&dialog.widget()});
        });
        // Inside the modal loop: wait for the paint, then pick eight trends and press OK.
        QTimer::singleShot(0, &watch, [&] {
            if (!QTest::qWaitFor([&] { return watch.done(); }, 5000))
                fail("the chooser never painted");
            opening.push_back(static_cast<double>(watch.lastPaintNs() - requested) / 1.0e6);
            click(dialog, "cmdRemoveAll");
            auto& archives = dialog.control<QComboBox>(QStringLiteral("cboArchives"));
            // Every other run in the opposite order: the same set again would rightly change nothing.
            for (int k = 0; k < archives.count(); ++k) {
                archives.setCurrentIndex(run % 2 ? archives.count() - 1 - k : k);
                click(dialog, "cmdAddAll"); // the archive that overflows fills the eighth row and says so
            }
            watch.arm({&chart, &legend});
            pressed = clock.nsecsElapsed();
            click(dialog, "cmdOK");
        });
        requested = clock.nsecsElapsed();
        Q_EMIT chart.TrendSelectRequest();
        QObject::disconnect(loaded);
        // The new set is applied once the modal chooser has returned; the paint follows in the loop.
        if (!QTest::qWaitFor([&] { return watch.done(); }, 5000))
            fail(qPrintable(QStringLiteral("chart and legend never painted (run %1, %2 legend entries, dialog visible %3)").arg(run).arg(legend.entries().size()).arg(dialog.isVisible())));
        applying.push_back(static_cast<double>(watch.lastPaintNs() - pressed) / 1.0e6);
        if (legend.entries().size() != 8)
            fail("the legend does not list eight curves");
    }
    std::printf("free-trend chooser, %d runs, 24 h of archive (offscreen)\n", runs);
    std::printf("  %-46s %8s %8s\n", "", "p50 ms", "p95 ms");
    report("chart request to chooser painted", opening, "goal <= 50 ms");
    report("OK to chart and legend painted, 8 curves", applying, "goal <= 50 ms");
    return 0;
}
