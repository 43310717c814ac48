#pragma once

#include <QString>

#include <vector>

/// \brief The trend chart over a month of archive read in process and through a server: the month is
/// written into the archive of an embedded runtime, measured there, then a kalvora-server is started
/// on the same data folder and a station in this process measures the same chart through it.
namespace HistoryBench {

struct Options {
    QString projectsRoot;  ///< holds the Kalvora project
    QString dataFolder;
    QString serverProgram;
    QString serverLogin;   ///< log-in file of the server user
    QString stationLogin;  ///< log-in file of a station of project Kalvora
    int days = 30;
    int runs = 20;
};

struct Figures {
    std::vector<double> applyMs;  ///< ApplyCurveSettings to painted, 8 curves over `days`
    std::vector<double> zoomMs;   ///< one wheel step over them
};

/// Embedded first, then through the server; false (said on stderr) when something did not come up.
bool run(const Options& options, Figures& embedded, Figures& remote);

} // namespace HistoryBench
