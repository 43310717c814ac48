// Starts the project's runtime on a fresh temporary data folder, so it writes its 24 hours of history,
// and prints for that day (without its first hour, in one-minute means):
//   per archived trend, the spread between its 5th and 95th percentile in % of its chart's range (goal
//   at least 5 %), and per pair of two units' curves of one kind, the % of minutes in which they lie
//   within 1 % of the range of each other (goal at most 20 %);
// then the alarms the untouched plant raises over the same day, replayed through the alarm engine.
// Options: --seed N runs the plant with another seed (the figures should not hinge on one).
#include "AlarmEngine.h"
#include "ArchiveStore.h"
#include "EngineTestSupport.h"
#include "PlantLiveliness.h"
#include "PlantSimulator.h"
#include "ProjectLoader.h"
#include "Runtime.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QCoreApplication>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>

namespace {

constexpr int Day = 86400;

int printFigures(const PlantLiveliness& figures)
{
    int misses = 0;
    std::printf("%-16s %10s   (goal >= 5 %%)\n", "trend", "spread %");
    for (const auto& s : figures.spreads) {
        misses += s.percent < 5.0;
        std::printf("%-16s %10.1f%s\n", qPrintable(s.trend), s.percent, s.percent < 5.0 ? "   MISSED" : "");
    }
    std::printf("\n%-32s %10s   (goal <= 20 %%)\n", "pair", "close %");
    for (const auto& o : figures.overlaps) {
        misses += o.percent > 20.0;
        std::printf("%-32s %10.1f%s\n", qPrintable(o.first + QStringLiteral(" / ") + o.second), o.percent, o.percent > 20.0 ? "   MISSED" : "");
    }
    return misses;
}

/// Every alarm that came while the plant ran untouched for a day from the project's start.
QMap<QString, int> alarmsOfADay(const Project& project)
{
    TagStore tags;
    for (const TagDefinition& def : project.variables)
        tags.define(def);
    TextDatabase texts;
    AlarmEngine alarms(tags, texts, nullptr);
    alarms.setDefinitions(project.alarmGroups, project.alarms);
    QSet<QPair<QString, qint64>> came;
    QObject::connect(&alarms, &AlarmEngine::changed, [&](const QString& group) {
        for (const AlarmInfo& a : alarms.alarms(group))
            came.insert({a.id, a.cameMs});
    });
    PlantSimulator sim(project.simulation);
    const qint64 start = 1717228800000;
    for (int s = 1; s <= Day; ++s) {
        sim.advance(1.0);
        sim.publish(tags, start + s * 1000LL);
        alarms.evaluate(start + s * 1000LL);
    }
    QMap<QString, int> counts;
    for (const auto& [id, at] : came)
        ++counts[id];
    return counts;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype seedAt = args.indexOf(QStringLiteral("--seed"));

    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    if (seedAt > 0 && seedAt + 1 < args.size())
        replaceInFile(QDir(projects).filePath(QStringLiteral("Kalvora/simulation.json")), "\"seed\": 20020601",
            "\"seed\": " + args.at(seedAt + 1).toUtf8());
    Runtime runtime(testOptions(dir.path(), 24));
    if (const QString failed = startAndWait(runtime, QStringLiteral("Kalvora"), 120000); !failed.isEmpty()) {
        std::fprintf(stderr, "runtime start failed: %s\n", qPrintable(failed));
        return 2;
    }
    const Project& project = runtime.project();
    std::printf("plant seed %llu, history of a first start, first hour left out, one-minute means\n\n",
        static_cast<unsigned long long>(project.simulation.seed));
    const qint64 now = runtime.now();
    std::vector<std::vector<double>> samples;
    for (const ArchiveDefinition& archive : project.archive.archives)
        for (const TrendDefinition& trend : archive.trends) {
            std::vector<double> values;
            for (const ArchiveSample& s : runtime.archive().range(archive.name, trend.name, now - Day * 1000LL + 1, now))
                values.push_back(s.value);
            samples.push_back(std::move(values));
        }
    const int misses = printFigures(measureLiveliness(project, samples));

    std::printf("\nalarms raised by the untouched plant over the day (first hour included):\n");
    int total = 0;
    const QMap<QString, int> counts = alarmsOfADay(project);
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        std::printf("  %-24s %d\n", qPrintable(it.key()), it.value());
        total += it.value();
    }
    std::printf("  %-24s %d\n", "total", total);
    runtime.stop();
    return misses ? 1 : 0;
}
