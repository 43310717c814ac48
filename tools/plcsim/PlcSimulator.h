#pragma once

#include "ModbusConfig.h"
#include "PlantSimulator.h"

#include <QModbusDataUnit>
#include <QObject>

#include <vector>

class QModbusTcpServer;
class QTimer;

/// \brief A fake PLC: the plant simulation behind a Modbus TCP server with the station's own map.
/// Every tick it advances the plant and writes each mapped variable into its coil or registers; a
/// client's write to a switch's coil or register switches the simulated plant.
class PlcSimulator final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PlcSimulator)

public:
    PlcSimulator(SimulationParameters parameters, ModbusConfig config, QObject* parent = nullptr);
    ~PlcSimulator() override;

    /// Listens on `address`:`port` (0: the map's port). Empty on success, otherwise why not.
    QString listen(const QString& address, int port);
    /// Closes the server; connected clients lose their connection.
    void close();
    bool isListening() const;

    /// Runs the plant on a timer of `tickMs`, at `speed` plant seconds per second; 0 holds it still.
    void run(int tickMs, double speed);

    PlantSimulator& plant() { return m_plant; }
    const ModbusConfig& config() const { return m_config; }
    /// Writes every mapped variable the plant drives into the server's tables.
    void publish();
    /// Puts a value into a mapped variable's coil or registers as the plant would. False for an
    /// unmapped name or a value that does not fit.
    bool setValue(const QString& variable, const QVariant& value);
    /// The mapped variable's value as the server holds it now.
    QVariant value(const QString& variable) const;
    /// Client writes taken since the start.
    int writesTaken() const { return m_writesTaken; }

private:
    void onDataWritten(QModbusDataUnit::RegisterType table, int address, int size);
    void step();

    PlantSimulator m_plant;
    ModbusConfig m_config;
    QModbusTcpServer* m_server = nullptr;
    QTimer* m_timer = nullptr;
    std::vector<int> m_plantIndex; ///< per mapping: the plant's variable, -1 when the plant does not drive it
    double m_speed = 1.0;
    bool m_writingOwn = false;
    int m_writesTaken = 0;
};
