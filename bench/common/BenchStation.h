#pragma once

#include "Runtime.h"
#include "Shell.h"

#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <vector>

/// The operator station for a benchmark: headless, on a fresh data folder, started and up.
class BenchStation final {
public:
    /// Chooses the headless platform unless one is set; call before the application object exists.
    static void useHeadlessDisplay();

    /// `backfillHours`: archive history simulated before the start (none by default, for speed).
    explicit BenchStation(bool realTime, int backfillHours = 0);
    /// On `options` as they are (project, data folder, source).
    explicit BenchStation(const RuntimeOptions& options);
    ~BenchStation();

    /// Starts and waits until the plant overview is up; false if it did not come up in time.
    bool startUp(int timeoutMs = 30000);

    Runtime& runtime() { return *m_runtime; }
    Shell& shell() { return *m_shell; }

private:
    QTemporaryDir m_data;
    std::unique_ptr<Runtime> m_runtime;
    std::unique_ptr<Shell> m_shell;
};

/// The p-th percentile (0 to 100) of the values, nearest rank.
double percentile(std::vector<double> values, double p);
