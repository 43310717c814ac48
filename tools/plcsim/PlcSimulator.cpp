#include "PlcSimulator.h"

#include <QDebug>
#include <QModbusTcpServer>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <map>

PlcSimulator::PlcSimulator(SimulationParameters parameters, ModbusConfig config, QObject* parent)
    : QObject(parent)
    , m_plant(std::move(parameters))
    , m_config(std::move(config))
    , m_server(new QModbusTcpServer(this))
    , m_timer(new QTimer(this))
{
    // Each table spans the addresses the map uses, so a read beyond them gets "illegal data address"
    // as from a real PLC.
    std::map<QModbusDataUnit::RegisterType, std::pair<int, int>> spans;
    for (const ModbusMapping& m : std::as_const(m_config.map)) {
        auto [it, fresh] = spans.try_emplace(ModbusConfig::registerType(m.table), m.address, m.address + m.width());
        if (!fresh)
            it->second = {std::min(it->second.first, m.address), std::max(it->second.second, m.address + m.width())};
    }
    QModbusDataUnitMap tables;
    for (const auto& [type, span] : spans)
        tables.insert(type, QModbusDataUnit(type, span.first, static_cast<quint16>(span.second - span.first)));
    m_server->setMap(tables);
    m_server->setServerAddress(m_config.connection.unitId);
    connect(m_server, &QModbusServer::dataWritten, this, &PlcSimulator::onDataWritten);
    for (const ModbusMapping& m : std::as_const(m_config.map))
        m_plantIndex.push_back(m_plant.indexOf(m.variable));
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PlcSimulator::step);
    publish();
}

PlcSimulator::~PlcSimulator()
{
    m_server->disconnect(this);
    m_server->disconnectDevice();
}

QString PlcSimulator::listen(const QString& address, int port)
{
    m_server->setConnectionParameter(QModbusDevice::NetworkAddressParameter, address);
    m_server->setConnectionParameter(QModbusDevice::NetworkPortParameter, port > 0 ? port : m_config.connection.port);
    if (!m_server->connectDevice() || m_server->state() != QModbusDevice::ConnectedState)
        return QStringLiteral("cannot listen on %1:%2: %3").arg(address).arg(port > 0 ? port : m_config.connection.port).arg(m_server->errorString());
    return {};
}

void PlcSimulator::close()
{
    m_server->disconnectDevice();
}

bool PlcSimulator::isListening() const
{
    return m_server->state() == QModbusDevice::ConnectedState;
}

void PlcSimulator::run(int tickMs, double speed)
{
    m_speed = speed;
    m_timer->start(std::max(1, tickMs));
}

void PlcSimulator::step()
{
    if (m_speed > 0.0)
        m_plant.advance(m_timer->interval() / 1000.0 * m_speed);
    publish();
}

void PlcSimulator::publish()
{
    for (size_t i = 0; i < m_plantIndex.size(); ++i)
        if (m_plantIndex[i] >= 0)
            setValue(m_config.map.at(static_cast<qsizetype>(i)).variable, m_plant.value(m_plantIndex[i]));
}

bool PlcSimulator::setValue(const QString& variable, const QVariant& value)
{
    const int index = m_config.indexOf(variable);
    if (index < 0)
        return false;
    const ModbusMapping& m = m_config.map.at(index);
    const std::optional<QList<quint16>> words = m.encode(value);
    if (!words)
        return false;
    // The server reports our own changes as written too; those are no client's.
    m_writingOwn = true;
    const bool ok = m_server->setData(QModbusDataUnit(ModbusConfig::registerType(m.table), m.address, *words));
    m_writingOwn = false;
    return ok;
}

QVariant PlcSimulator::value(const QString& variable) const
{
    const int index = m_config.indexOf(variable);
    if (index < 0)
        return {};
    const ModbusMapping& m = m_config.map.at(index);
    QModbusDataUnit unit(ModbusConfig::registerType(m.table), m.address, static_cast<quint16>(m.width()));
    if (!m_server->data(&unit))
        return {};
    const QList<quint16> words = unit.values();
    return m.decode(words).value_or(QVariant());
}

void PlcSimulator::onDataWritten(QModbusDataUnit::RegisterType table, int address, int size)
{
    if (m_writingOwn)
        return;
    ++m_writesTaken;
    for (qsizetype i = 0; i < m_config.map.size(); ++i) {
        const ModbusMapping& m = m_config.map.at(i);
        if (ModbusConfig::registerType(m.table) != table || m.address + m.width() <= address || m.address >= address + size)
            continue;
        const QVariant v = value(m.variable);
        qInfo().noquote() << QStringLiteral("plcsim: %1 (%2 %3) written: %4").arg(m.variable, ModbusConfig::tableName(m.table)).arg(m.address).arg(v.toString());
        // Switches act at once, so the plant's answer (a burner that lights) is there for the read-back.
        if (m.variableType == TagType::Bool && m_plant.setSwitch(m.variable, v.toBool()))
            publish();
    }
}
