#pragma once

#include "PlantSimulator.h"
#include "PlantSource.h"

/// \brief The built-in plant simulation as a data source: advances with the runtime's ticks and acts
/// on operator switches at once. Every value it publishes is good and stamped with the runtime's clock.
class SimulationSource final : public PlantSource {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SimulationSource)

public:
    SimulationSource(TagStore& tags, SimulationParameters parameters, QObject* parent);

    void start(qint64 nowMs) override;
    void stop() override;
    void tick(qint64 nowMs, double plantSeconds) override;
    void write(const WriteRequest& request) override;
    bool isFaulty() const override { return false; }
    PlantSimulator* simulator() override { return &m_simulator; }

private:
    PlantSimulator m_simulator;
    bool m_running = false;
};
