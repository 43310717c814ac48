#pragma once

#include "PlantSimulator.h"
#include "Project.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <vector>

/// How live the archived curves of a day look on their charts, from one-minute means: how far each
/// curve spreads (5th to 95th percentile) and how often two units' curves of one kind lie on top of
/// each other (within 1 % of the chart's range). Both in % (of the range, of the minutes).
struct PlantLiveliness {
    struct Spread {
        QString trend;
        double percent;
    };
    struct Overlap {
        QString first;
        QString second;
        double percent;
    };
    std::vector<Spread> spreads;
    std::vector<Overlap> overlaps;
};

namespace liveliness {

inline std::vector<double> minuteMeans(const std::vector<double>& perSecond, int skipMinutes)
{
    std::vector<double> means;
    for (size_t from = static_cast<size_t>(skipMinutes) * 60; from + 60 <= perSecond.size(); from += 60) {
        double sum = 0.0;
        for (size_t i = from; i < from + 60; ++i)
            sum += perSecond[i];
        means.push_back(sum / 60.0);
    }
    return means;
}

inline double percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0.0;
    const double at = p * static_cast<double>(sorted.size() - 1);
    const size_t low = static_cast<size_t>(at);
    const size_t high = std::min(low + 1, sorted.size() - 1);
    return sorted[low] + (sorted[high] - sorted[low]) * (at - static_cast<double>(low));
}

/// The trend's variable without its unit ("Ch1.Kalvora.Boiler.Temperature"); empty for a common one.
inline QString unitKind(const SimulationParameters& sim, const QString& variable)
{
    for (const UnitInitialState& unit : sim.units) {
        const QString path = sim.prefix + unit.name + QLatin1Char('.');
        if (variable.startsWith(path))
            return sim.prefix + variable.mid(path.size());
    }
    return {};
}

} // namespace liveliness

/// `samples` holds one value a second per archived trend, in the project's archive order, from the
/// plant's start; the first `skipMinutes` (the start-up) are left out.
inline PlantLiveliness measureLiveliness(const Project& project, const std::vector<std::vector<double>>& samples, int skipMinutes = 60)
{
    struct Curve {
        TrendDefinition trend;
        QString kind;
        std::vector<double> minutes;
    };
    std::vector<Curve> curves;
    for (const ArchiveDefinition& archive : project.archive.archives)
        for (const TrendDefinition& trend : archive.trends) {
            const size_t i = curves.size();
            curves.push_back({trend, liveliness::unitKind(project.simulation, trend.variable),
                i < samples.size() ? liveliness::minuteMeans(samples[i], skipMinutes) : std::vector<double>{}});
        }
    PlantLiveliness result;
    for (size_t i = 0; i < curves.size(); ++i) {
        const Curve& c = curves[i];
        const double range = c.trend.rangeMax - c.trend.rangeMin;
        std::vector<double> sorted = c.minutes;
        std::sort(sorted.begin(), sorted.end());
        const double spread = liveliness::percentile(sorted, 0.95) - liveliness::percentile(sorted, 0.05);
        result.spreads.push_back({c.trend.name, 100.0 * spread / range});
        for (size_t j = i + 1; j < curves.size(); ++j) {
            const Curve& d = curves[j];
            if (c.kind.isEmpty() || c.kind != d.kind)
                continue;
            const size_t n = std::min(c.minutes.size(), d.minutes.size());
            size_t close = 0;
            for (size_t m = 0; m < n; ++m)
                close += std::abs(c.minutes[m] - d.minutes[m]) <= 0.01 * range;
            result.overlaps.push_back({c.trend.name, d.trend.name, n ? 100.0 * static_cast<double>(close) / static_cast<double>(n) : 100.0});
        }
    }
    return result;
}

/// Runs the project's plant from its start for `seconds` and samples every archived trend once a
/// second, as the runtime's history of a first start does.
inline std::vector<std::vector<double>> simulateArchivedTrends(const Project& project, int seconds)
{
    PlantSimulator sim(project.simulation);
    std::vector<int> sources;
    for (const ArchiveDefinition& archive : project.archive.archives)
        for (const TrendDefinition& trend : archive.trends)
            sources.push_back(sim.indexOf(trend.variable));
    std::vector<std::vector<double>> samples(sources.size());
    for (int s = 0; s < seconds; ++s) {
        sim.advance(1.0);
        for (size_t i = 0; i < sources.size(); ++i)
            samples[i].push_back(sources[i] >= 0 ? sim.numericValue(sources[i]) : 0.0);
    }
    return samples;
}
