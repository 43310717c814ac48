#pragma once

#include "ModbusConfig.h"
#include "PlantSource.h"

#include <QModbusDevice>

#include <vector>

class QModbusReply;
class QModbusTcpClient;
class QTimer;

/// \brief Process values from a PLC over Modbus TCP. Reads the map in as few requests as it allows,
/// every poll interval, without ever waiting on the network; each value carries the time its response
/// arrived. A variable whose block has had no good answer for one poll interval plus the response
/// timeout turns bad, and so does every variable at once when the connection drops. Reconnects back
/// off from 1 s to 30 s. Operator writes go to the coil or register and are confirmed by the next read.
class ModbusSource final : public PlantSource {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ModbusSource)

public:
    static constexpr int FirstReconnectMs = 1000;
    static constexpr int LastReconnectMs = 30000;

    ModbusSource(TagStore& tags, ModbusConfig config, QObject* parent);
    ~ModbusSource() override;

    void start(qint64 nowMs) override;
    void stop() override;
    void tick(qint64, double) override {}
    void write(const WriteRequest& request) override;
    bool isFaulty() const override { return m_faulty; }

    const ModbusConfig& config() const { return m_config; }
    int blockCount() const { return static_cast<int>(m_blocks.size()); }
    /// The wait before the next connection attempt.
    int reconnectDelayMs() const { return m_backoffMs; }
    bool isConnected() const;

private:
    struct Block {
        ModbusBlock range;
        QModbusReply* pending = nullptr;
        bool good = false;
        QString reason; ///< why the block is bad, as last logged
        QTimer* watchdog = nullptr;
    };

    void connectNow();
    void onStateChanged(QModbusDevice::State state);
    void poll();
    void onReadFinished(size_t block, QModbusReply* reply);
    void markBad(size_t block, const QString& reason);
    void markAllBad(const QString& reason);
    void updateFault();
    QString describe(const Block& block) const;

    ModbusConfig m_config;
    QModbusTcpClient* m_client = nullptr;
    QTimer* m_pollTimer = nullptr;
    QTimer* m_reconnectTimer = nullptr;
    std::vector<Block> m_blocks;
    std::vector<bool> m_notANumber; ///< per mapping: its last raw value was no number (logged once)
    bool m_running = false;
    bool m_faulty = true;
    int m_backoffMs = FirstReconnectMs;
};
