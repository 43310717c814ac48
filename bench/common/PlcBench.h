#pragma once

#include "TagStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <vector>

/// \brief A plant behind plcsim for the benchmarks: the Modbus project copied with filler registers up
/// to a given count and the PLC's clock in holding registers 0-1, plcsim serving it, and the age of a
/// clock value as the stations see it. plcsim stamps the clock with its own wall clock, so the value
/// itself says when it changed at the PLC.
namespace PlcBench {

constexpr int Registers = 500;
constexpr int PollMs = 100;
constexpr int TimeoutMs = 500;
inline const QString Clock = QStringLiteral("Ch1.Kalvora.Bench.Clock");

QJsonDocument readJson(const QString& path);
void writeJson(const QString& path, const QJsonObject& object);
int freePort();

/// Copies `source` (the Modbus project) to `folder` with registers up to Registers, polled every
/// PollMs from 127.0.0.1:`port`; returns every mapped variable.
QStringList makeProject(const QString& source, const QString& folder, int port);
/// Starts `program` (plcsim) on the project's map; true once it says it serves.
bool startPlc(QProcess& plc, const QString& program, const QString& folder, int port);
/// Milliseconds since the PLC stamped `value` with its clock.
double ageOf(const QVariant& value);

/// Repaints of a control bound to the clock: the age of the value it shows, once per value.
class ClockPaintWatch final : public QObject {
public:
    explicit ClockPaintWatch(TagStore& tags)
        : m_tags(tags)
    {
    }
    std::vector<double> delaysMs;
    bool counting = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TagStore& m_tags;
    QVariant m_last;
};

} // namespace PlcBench
