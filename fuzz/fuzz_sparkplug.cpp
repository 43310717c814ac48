// libFuzzer entry point over the bus room's decoders: the first byte picks the Sparkplug message type,
// the rest is the payload, decoded against the alias table of a small birth. Whatever decodes must
// encode and decode again to the same metrics; what does not must name its reason. The same bytes also
// go through the topic and host STATE parsers.

#include "SparkplugCodec.h"
#include "SparkplugHostState.h"

#include <google/protobuf/stubs/logging.h>

#include <QCoreApplication>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int typeCount = static_cast<int>(SparkplugMessageType::STATE);

SparkplugAliasTable birthTable()
{
    SparkplugAliasTable table;
    table.add(1, QStringLiteral("Ch1.Kalvora.Unit1.Tank.Level"), SparkplugDataType::Double);
    table.add(2, QStringLiteral("Ch1.Kalvora.Unit1.Pump.Running"), SparkplugDataType::Boolean);
    table.add(3, QStringLiteral("Ch1.Kalvora.Unit1.Valve.Position"), SparkplugDataType::Int16);
    table.add(4, QStringLiteral("Ch1.Kalvora.Unit1.Text"), SparkplugDataType::String);
    return table;
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.metaType() != b.metaType())
        return false;
    if (a.typeId() == QMetaType::Double && std::isnan(a.toDouble()))
        return std::isnan(b.toDouble());
    if (a.typeId() == QMetaType::Float && std::isnan(a.toFloat()))
        return std::isnan(b.toFloat());
    return a == b;
}

bool sameMetrics(const SparkplugPayload& a, const SparkplugPayload& b)
{
    if (a.seq != b.seq || a.timestampMs != b.timestampMs || a.metrics.size() != b.metrics.size())
        return false;
    for (qsizetype i = 0; i < a.metrics.size(); ++i) {
        const SparkplugMetric& x = a.metrics.at(i);
        const SparkplugMetric& y = b.metrics.at(i);
        if (x.name != y.name || x.alias != y.alias || x.timestampMs != y.timestampMs || x.type != y.type
            || x.quality != y.quality || !sameValue(x.value, y.value))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    google::protobuf::SetLogHandler(nullptr);  // invalid UTF-8 in strings is logged by debug builds
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const SparkplugAliasTable aliases = birthTable();
    if (size == 0)
        return 0;
    const auto type = static_cast<SparkplugMessageType>(data[0] % typeCount);
    const QByteArray payload(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const auto decoded = SparkplugCodec::decode(payload, type, &aliases);
    if (!decoded.ok()) {
        if (decoded.error.isEmpty())
            std::abort();
    } else {
        const auto again = SparkplugCodec::decode(SparkplugCodec::encode(*decoded.value, type), type, &aliases);
        if (!again.ok() || !sameMetrics(*decoded.value, *again.value))
            std::abort();
    }

    const auto topic = SparkplugTopic::parse(QString::fromUtf8(payload));
    if (topic.ok() ? topic.value->toString() != QString::fromUtf8(payload) : topic.error.isEmpty())
        std::abort();
    const auto state = SparkplugHostState::parse(payload);
    if (state.ok() ? !(SparkplugHostState::parse(state.value->toJson()).value == state.value) : state.error.isEmpty())
        std::abort();
    return 0;
}
