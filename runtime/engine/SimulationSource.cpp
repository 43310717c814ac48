#include "SimulationSource.h"

#include "TagStore.h"

SimulationSource::SimulationSource(TagStore& tags, SimulationParameters parameters, QObject* parent)
    : PlantSource(tags, parent)
    , m_simulator(std::move(parameters))
{
}

void SimulationSource::start(qint64 nowMs)
{
    m_running = true;
    m_simulator.publish(tags(), nowMs);
}

void SimulationSource::stop()
{
    m_running = false;
}

void SimulationSource::tick(qint64 nowMs, double plantSeconds)
{
    if (!m_running)
        return;
    m_simulator.advance(plantSeconds);
    m_simulator.publish(tags(), nowMs);
}

void SimulationSource::write(const WriteRequest& request)
{
    // The simulated plant takes a switch at once, so FillOn and BurnerOn follow without waiting for
    // the next tick; a writable variable the plant does not drive simply holds what was written.
    tags().publish(request.variable, request.value, TagQuality::Good, request.requestedMs);
    if (m_simulator.setSwitch(request.variable, request.value.toBool()) && m_running)
        m_simulator.publish(tags(), request.requestedMs);
    Q_EMIT writeFinished(request, true, QString());
}
