#include "BenchStation.h"

#include "Fonts.h"
#include "TopLevelError.h"

#include <QCoreApplication>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <cstdlib>

void BenchStation::useHeadlessDisplay()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

BenchStation::BenchStation(bool realTime, int backfillHours)
    : BenchStation([&] {
        RuntimeOptions options;
        options.realTime = realTime;
        options.backfillHours = backfillHours;
        return options;
    }())
{
}

BenchStation::BenchStation(const RuntimeOptions& options)
{
    Fonts::registerLayoutFaces();
    RuntimeOptions own = options;
    if (own.dataDirectory.isEmpty())
        own.dataDirectory = m_data.path();
    m_runtime = std::make_unique<Runtime>(own);
    m_shell = std::make_unique<Shell>(*m_runtime, Shell::Options{QString(), [](int) {}});
    TopLevelError::setReporter([](const QString& message) {
        std::fprintf(stderr, "the station failed: %s\n", qPrintable(message));
        std::exit(1);
    });
}

BenchStation::~BenchStation()
{
    m_shell.reset();
    m_runtime->stop();
}

bool BenchStation::startUp(int timeoutMs)
{
    m_shell->start();
    if (QTest::qWaitFor([this] { return m_shell->phase() == Shell::Phase::Running; }, timeoutMs))
        return true;
    std::fprintf(stderr, "the station did not come up: %s\n", qPrintable(m_runtime->lastError()));
    return false;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}
