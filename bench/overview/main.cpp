// The plant overview under load: 1,000 process-variable changes per second spread over its bound
// controls, with the screen shown. Prints the CPU used per second of wall time, the delay from a
// change to the repaint of the control that shows it (p50, p95), and the repaints caused by values
// that did not change (must be 0).
//
//   bench_overview [seconds]   (default 10)
//
// The plant simulation is held still, so every change comes from this program.

#include "BenchStation.h"
#include "QMSFill.h"
#include "TagStore.h"
#include "Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1.0e6;
}

/// Watches the paints of the bound controls: the delay since their variable changed, and paints
/// that no change asked for.
class Painter final : public QObject {
public:
    QElapsedTimer clock;
    QHash<QObject*, qint64> pendingSince; // control -> when its variable changed, -1 when none pending
    std::vector<double> delaysMs;
    int unaskedPaints = 0;
    bool counting = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || !counting)
            return false;
        auto it = pendingSince.find(watched);
        if (it == pendingSince.end())
            return false;
        if (*it >= 0) {
            delaysMs.push_back(static_cast<double>(clock.nsecsElapsed() - *it) / 1.0e6);
            *it = -1;
        } else if (!qobject_cast<QMSFill*>(watched)) { // a flowing pipe animates by itself
            ++unaskedPaints;
            if (qEnvironmentVariableIsSet("KALVORA_BENCH_VERBOSE"))
                std::fprintf(stderr, "unasked paint: %s %s\n", watched->metaObject()->className(), qPrintable(watched->objectName()));
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    BenchStation::useHeadlessDisplay();
    QApplication app(argc, argv);
    const int seconds = argc >= 2 ? std::max(2, std::atoi(argv[1])) : 10;
    BenchStation station(false);
    if (!station.startUp())
        return 1;
    TagStore& tags = station.runtime().tags();
    Window& overview = station.shell().window(QStringLiteral("FCentral"));

    // Every control bound to a variable, grouped by variable.
    Painter painter;
    painter.clock.start();
    QHash<QString, QList<QObject*>> controlsOf;
    const QList<QWidget*> children = overview.widget().findChildren<QWidget*>();
    for (QWidget* control : children) {
        const QString variable = control->property("processVariable").toString();
        if (variable.isEmpty())
            continue;
        controlsOf[variable].append(control);
        painter.pendingSince.insert(control, -1);
        control->installEventFilter(&painter);
    }
    const QStringList variables = controlsOf.keys();
    QTest::qWait(200);

    // Repaints for values that did not change: the paints of the bound controls over two equal
    // periods, one left alone and one with every variable's current value published again and again
    // (flowing pipes animate in both, and repaint what lies under them).
    painter.counting = true;
    const double idleCpuBefore = cpuSeconds();
    QElapsedTimer idleWall;
    idleWall.start();
    QTest::qWait(2000);
    const double idleCpu = (cpuSeconds() - idleCpuBefore) / (static_cast<double>(idleWall.elapsed()) / 1000.0);
    const int idlePaints = std::exchange(painter.unaskedPaints, 0);
    QTimer republish;
    republish.setInterval(1);
    QObject::connect(&republish, &QTimer::timeout, &painter, [&] {
        for (const QString& name : variables) {
            const TagValue current = tags.value(name);
            tags.publish(name, current.value, current.quality, current.timestampMs);
        }
    });
    republish.start();
    QTest::qWait(2000);
    republish.stop();
    const int republishedPaints = std::exchange(painter.unaskedPaints, 0);

    QRandomGenerator random(42);
    qsizetype next = 0;
    int changes = 0;
    QTimer source;
    source.setTimerType(Qt::PreciseTimer);
    source.setInterval(10); // a runtime delivers its changes in batches, as the plant ticks
    QElapsedTimer wall;
    QObject::connect(&source, &QTimer::timeout, &painter, [&] {
        // Catch up to 1,000 changes per second of wall time, whatever the timer's jitter.
        const qint64 due = wall.elapsed();
        while (changes < due) {
            const QString& name = variables[next++ % variables.size()];
            const TagDefinition* definition = tags.definition(name);
            QVariant value;
            if (definition && definition->type == TagType::Bool)
                value = !tags.value(name).value.toBool();
            else
                value = definition && definition->maximum > 0 ? random.bounded(definition->maximum) : random.generateDouble();
            const qint64 now = painter.clock.nsecsElapsed();
            for (QObject* control : controlsOf.value(name))
                if (painter.pendingSince.value(control) < 0)
                    painter.pendingSince[control] = now;
            tags.publish(name, value);
            ++changes;
        }
    });
    const double cpuBefore = cpuSeconds();
    wall.start();
    source.start();
    QTest::qWait(seconds * 1000);
    source.stop();
    const double wallSeconds = static_cast<double>(wall.elapsed()) / 1000.0;
    const double cpu = cpuSeconds() - cpuBefore;
    QTest::qWait(100);

    std::printf("plant overview, %d changes in %.1f s over %lld variables and %lld bound controls (offscreen)\n", changes, wallSeconds,
                static_cast<long long>(variables.size()), static_cast<long long>(painter.pendingSince.size()));
    std::printf("  CPU with 1,000 changes/s     : %6.1f %% of one core (goal < 10 %%)\n", 100.0 * cpu / wallSeconds);
    std::printf("  change to paint, p50         : %6.2f ms\n", percentile(painter.delaysMs, 50));
    std::printf("  change to paint, p95         : %6.2f ms\n", percentile(painter.delaysMs, 95));
    std::printf("  CPU with no changes          : %6.1f %% of one core (the flow animation)\n", 100.0 * idleCpu);
    std::printf("  paints of bound controls in 2 s: %d with no changes, %d with all values republished unchanged"
                " (goal: no more)\n", idlePaints, republishedPaints);
    return 0;
}
