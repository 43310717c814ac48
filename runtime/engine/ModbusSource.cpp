#include "ModbusSource.h"

#include "TagStore.h"

#include <QDateTime>
#include <QDebug>
#include <QModbusReply>
#include <QModbusTcpClient>
#include <QTimer>
#include <QVariant>

#include <algorithm>

namespace {

QString exceptionText(QModbusPdu::ExceptionCode code)
{
    switch (code) {
    case QModbusPdu::IllegalFunction: return QStringLiteral("illegal function");
    case QModbusPdu::IllegalDataAddress: return QStringLiteral("illegal data address");
    case QModbusPdu::IllegalDataValue: return QStringLiteral("illegal data value");
    case QModbusPdu::ServerDeviceFailure: return QStringLiteral("server device failure");
    case QModbusPdu::ServerDeviceBusy: return QStringLiteral("server device busy");
    case QModbusPdu::GatewayPathUnavailable: return QStringLiteral("gateway path unavailable");
    case QModbusPdu::GatewayTargetDeviceFailedToRespond: return QStringLiteral("gateway target failed to respond");
    default: return QStringLiteral("exception");
    }
}

/// Why a request failed, in words for the log and the operator's note.
QString failureOf(const QModbusReply& reply, int timeoutMs)
{
    switch (reply.error()) {
    case QModbusDevice::TimeoutError:
        return QStringLiteral("no answer within %1 ms").arg(timeoutMs);
    case QModbusDevice::ProtocolError:
        if (reply.rawResult().isException())
            return QStringLiteral("the PLC answered with exception code %1 (%2)")
                .arg(int(reply.rawResult().exceptionCode()))
                .arg(exceptionText(reply.rawResult().exceptionCode()));
        return QStringLiteral("malformed answer: %1").arg(reply.errorString());
    case QModbusDevice::ReplyAbortedError:
    case QModbusDevice::ConnectionError:
        return QStringLiteral("the connection was lost");
    default:
        return reply.errorString().isEmpty() ? QStringLiteral("request failed") : reply.errorString();
    }
}

qint64 wallClock()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

ModbusSource::ModbusSource(TagStore& tags, ModbusConfig config, QObject* parent)
    : PlantSource(tags, parent)
    , m_config(std::move(config))
    , m_client(new QModbusTcpClient(this))
    , m_pollTimer(new QTimer(this))
    , m_reconnectTimer(new QTimer(this))
{
    m_client->setConnectionParameter(QModbusDevice::NetworkAddressParameter, m_config.connection.host);
    m_client->setConnectionParameter(QModbusDevice::NetworkPortParameter, m_config.connection.port);
    m_client->setTimeout(m_config.connection.responseTimeoutMs);
    m_client->setNumberOfRetries(m_config.connection.retries);
    connect(m_client, &QModbusDevice::stateChanged, this, &ModbusSource::onStateChanged);
    connect(m_client, &QModbusDevice::errorOccurred, this, [this](QModbusDevice::Error error) {
        if (error == QModbusDevice::ConnectionError)
            qWarning().noquote() << QStringLiteral("Modbus: %1:%2: %3").arg(m_config.connection.host).arg(m_config.connection.port).arg(m_client->errorString());
    });
    m_pollTimer->setTimerType(Qt::PreciseTimer);
    m_pollTimer->setInterval(m_config.connection.pollIntervalMs);
    connect(m_pollTimer, &QTimer::timeout, this, &ModbusSource::poll);
    m_reconnectTimer->setSingleShot(true);
    connect(m_reconnectTimer, &QTimer::timeout, this, &ModbusSource::connectNow);

    m_notANumber.assign(static_cast<size_t>(m_config.map.size()), false);
    const QList<ModbusBlock> blocks = m_config.blocks();
    m_blocks.resize(static_cast<size_t>(blocks.size()));
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        Block& b = m_blocks[i];
        b.range = blocks.at(static_cast<qsizetype>(i));
        b.watchdog = new QTimer(this);
        b.watchdog->setSingleShot(true);
        b.watchdog->setTimerType(Qt::PreciseTimer);
        // One poll interval plus the timeout without a good answer: the values are stale.
        b.watchdog->setInterval(m_config.connection.pollIntervalMs + m_config.connection.responseTimeoutMs);
        connect(b.watchdog, &QTimer::timeout, this, [this, i] {
            markBad(i, QStringLiteral("no good answer for %1 ms").arg(m_blocks[i].watchdog->interval()));
        });
    }
}

ModbusSource::~ModbusSource()
{
    m_running = false;
    m_client->disconnect(this);
    m_client->disconnectDevice();
}

bool ModbusSource::isConnected() const
{
    return m_client->state() == QModbusDevice::ConnectedState;
}

void ModbusSource::start(qint64)
{
    m_running = true;
    m_backoffMs = FirstReconnectMs;
    updateFault();
    connectNow();
}

void ModbusSource::stop()
{
    m_running = false;
    m_pollTimer->stop();
    m_reconnectTimer->stop();
    for (Block& b : m_blocks)
        b.watchdog->stop();
    m_client->disconnectDevice();
}

void ModbusSource::connectNow()
{
    if (!m_running || m_client->state() != QModbusDevice::UnconnectedState)
        return;
    if (!m_client->connectDevice())
        onStateChanged(QModbusDevice::UnconnectedState);
}

void ModbusSource::onStateChanged(QModbusDevice::State state)
{
    if (state == QModbusDevice::ConnectedState) {
        qInfo().noquote() << QStringLiteral("Modbus: connected to %1:%2, unit %3")
                                 .arg(m_config.connection.host)
                                 .arg(m_config.connection.port)
                                 .arg(m_config.connection.unitId);
        m_backoffMs = FirstReconnectMs;
        for (Block& b : m_blocks)
            b.watchdog->start();
        m_pollTimer->start();
        poll();
        return;
    }
    if (state != QModbusDevice::UnconnectedState)
        return;
    m_pollTimer->stop();
    for (Block& b : m_blocks) {
        b.watchdog->stop();
        b.pending = nullptr; // the client finishes and deletes what was in flight
    }
    // A stop of our own is no fault of the link; the runtime marks the values itself.
    if (!m_running)
        return;
    markAllBad(QStringLiteral("no connection to %1:%2").arg(m_config.connection.host).arg(m_config.connection.port));
    m_reconnectTimer->start(m_backoffMs);
    m_backoffMs = std::min(m_backoffMs * 2, LastReconnectMs);
}

void ModbusSource::poll()
{
    if (!isConnected())
        return;
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        Block& b = m_blocks[i];
        // A request still out is not asked again: the watchdog decides when its values are stale.
        if (b.pending)
            continue;
        const QModbusDataUnit unit(ModbusConfig::registerType(b.range.table), b.range.start, static_cast<quint16>(b.range.count));
        QModbusReply* reply = m_client->sendReadRequest(unit, m_config.connection.unitId);
        if (!reply) {
            markBad(i, m_client->errorString());
            continue;
        }
        b.pending = reply;
        if (reply->isFinished()) {
            onReadFinished(i, reply);
            continue;
        }
        connect(reply, &QModbusReply::finished, this, [this, i, reply] { onReadFinished(i, reply); });
    }
}

void ModbusSource::onReadFinished(size_t index, QModbusReply* reply)
{
    reply->deleteLater();
    Block& b = m_blocks[index];
    // A reply the block no longer waits for belongs to a connection that has dropped since: what it
    // holds may be older than what came after, and its failure says nothing of the link now.
    if (b.pending != reply)
        return;
    b.pending = nullptr;
    if (!m_running)
        return;
    if (reply->error() != QModbusDevice::NoError)
        return markBad(index, failureOf(*reply, m_config.connection.responseTimeoutMs));
    const QModbusDataUnit result = reply->result();
    // Coils and discrete inputs come packed eight to a byte, so their answer is rounded up to whole
    // bytes; registers come exactly as asked.
    const bool bits = b.range.table == ModbusTable::Coil || b.range.table == ModbusTable::DiscreteInput;
    const qsizetype got = result.valueCount();
    const qsizetype asked = b.range.count;
    if (result.startAddress() != b.range.start || got < asked || (bits ? got >= asked + 8 : got != asked))
        return markBad(index, QStringLiteral("the answer holds %1 values from %2, asked for %3 from %4")
                                  .arg(result.valueCount())
                                  .arg(result.startAddress())
                                  .arg(b.range.count)
                                  .arg(b.range.start));
    const qint64 t = wallClock();
    const QList<quint16> words = result.values();
    for (const int m : std::as_const(b.range.mappings)) {
        const ModbusMapping& mapping = m_config.map.at(m);
        const std::span<const quint16> raw(words.constData() + (mapping.address - b.range.start), static_cast<size_t>(mapping.width()));
        if (const std::optional<QVariant> value = mapping.decode(raw)) {
            tags().publish(mapping.variable, *value, TagQuality::Good, t);
            m_notANumber[static_cast<size_t>(m)] = false;
        } else {
            tags().publish(mapping.variable, tags().value(mapping.variable).value, TagQuality::Bad, t);
            // Told once, not at every poll while the PLC keeps delivering it.
            if (!m_notANumber[static_cast<size_t>(m)])
                qWarning().noquote() << QStringLiteral("Modbus: %1 (%2 %3): the raw value is not a number")
                                            .arg(mapping.variable, ModbusConfig::tableName(mapping.table))
                                            .arg(mapping.address);
            m_notANumber[static_cast<size_t>(m)] = true;
        }
    }
    if (!b.good && !b.reason.isEmpty())
        qInfo().noquote() << QStringLiteral("Modbus: %1 back to good").arg(describe(b));
    b.good = true;
    b.reason.clear();
    b.watchdog->start();
    updateFault();
    Q_EMIT updated(t);
}

QString ModbusSource::describe(const Block& b) const
{
    return QStringLiteral("%1 %2..%3").arg(ModbusConfig::tableName(b.range.table)).arg(b.range.start).arg(b.range.start + b.range.count - 1);
}

void ModbusSource::markBad(size_t index, const QString& reason)
{
    Block& b = m_blocks[index];
    b.watchdog->stop();
    const qint64 t = wallClock();
    const bool tell = reason != b.reason;
    for (const int m : std::as_const(b.range.mappings)) {
        const ModbusMapping& mapping = m_config.map.at(m);
        // The last reading stays with the variable, marked bad, so nothing reads it as live.
        tags().publish(mapping.variable, tags().value(mapping.variable).value, TagQuality::Bad, t);
        if (tell)
            qWarning().noquote() << QStringLiteral("Modbus: %1 (%2 %3): %4")
                                        .arg(mapping.variable, ModbusConfig::tableName(mapping.table))
                                        .arg(mapping.address)
                                        .arg(reason);
    }
    b.good = false;
    b.reason = reason;
    updateFault();
    Q_EMIT updated(t);
}

void ModbusSource::markAllBad(const QString& reason)
{
    const qint64 t = wallClock();
    bool told = false;
    for (Block& b : m_blocks) {
        for (const int m : std::as_const(b.range.mappings)) {
            const QString& name = m_config.map.at(m).variable;
            if (tags().value(name).quality != TagQuality::NotDelivered)
                tags().publish(name, tags().value(name).value, TagQuality::Bad, t);
        }
        told = told || b.reason != reason;
        b.good = false;
        b.reason = reason;
    }
    if (told)
        qWarning().noquote() << QStringLiteral("Modbus: %1: all %2 mapped variables bad").arg(reason).arg(m_config.map.size());
    updateFault();
    Q_EMIT updated(t);
}

void ModbusSource::updateFault()
{
    const bool faulty = m_running && std::any_of(m_blocks.begin(), m_blocks.end(), [](const Block& b) { return !b.good; });
    if (faulty == m_faulty)
        return;
    m_faulty = faulty;
    Q_EMIT faultChanged(faulty);
}

void ModbusSource::write(const WriteRequest& request)
{
    const int index = m_config.indexOf(request.variable);
    const auto fail = [&](const QString& reason) { Q_EMIT writeFinished(request, false, reason); };
    if (index < 0)
        return fail(QStringLiteral("the variable has no Modbus mapping"));
    const ModbusMapping& mapping = m_config.map.at(index);
    if (!isConnected())
        return fail(QStringLiteral("no connection to the PLC"));
    const std::optional<QList<quint16>> words = mapping.encode(request.value);
    if (!words)
        return fail(QStringLiteral("%1 does not fit the PLC's %2").arg(request.value.toString(), ModbusConfig::tableName(mapping.table)));
    const QModbusDataUnit unit(ModbusConfig::registerType(mapping.table), mapping.address, *words);
    QModbusReply* reply = m_client->sendWriteRequest(unit, m_config.connection.unitId);
    if (!reply)
        return fail(m_client->errorString());
    const auto finish = [this, request, reply] {
        reply->deleteLater();
        if (reply->error() != QModbusDevice::NoError) {
            Q_EMIT writeFinished(request, false, failureOf(*reply, m_config.connection.responseTimeoutMs));
            return;
        }
        Q_EMIT writeFinished(request, true, QString());
        // Read back at once, so the switch shows the plant's answer without waiting for the next poll.
        poll();
    };
    if (reply->isFinished())
        finish();
    else
        connect(reply, &QModbusReply::finished, this, finish);
}
