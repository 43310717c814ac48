#include "SparkplugTopic.h"

#include <QStringList>

#include <algorithm>
#include <array>

namespace {

constexpr std::array typeNames{"NBIRTH", "NDEATH", "NDATA", "NCMD", "DBIRTH", "DDEATH", "DDATA", "DCMD", "STATE"};

bool isDeviceType(SparkplugMessageType type)
{
    return type == SparkplugMessageType::DBIRTH || type == SparkplugMessageType::DDEATH
        || type == SparkplugMessageType::DDATA || type == SparkplugMessageType::DCMD;
}

} // namespace

SparkplugTopic SparkplugTopic::node(SparkplugMessageType type, const QString& groupId, const QString& edgeNodeId)
{
    SparkplugTopic topic;
    topic.type = type;
    topic.groupId = groupId;
    topic.edgeNodeId = edgeNodeId;
    return topic;
}

SparkplugTopic SparkplugTopic::state(const QString& hostId)
{
    SparkplugTopic topic;
    topic.type = SparkplugMessageType::STATE;
    topic.hostId = hostId;
    return topic;
}

QString SparkplugTopic::nodeFilter(const QString& groupId, const QString& edgeNodeId)
{
    if (!isValidId(groupId) || !isValidId(edgeNodeId))
        return {};
    return QStringList{nameSpace, groupId, QStringLiteral("+"), edgeNodeId, QStringLiteral("#")}.join(u'/');
}

QString SparkplugTopic::typeName(SparkplugMessageType type)
{
    return QString::fromLatin1(typeNames.at(static_cast<std::size_t>(type)));
}

bool SparkplugTopic::isValidId(const QString& id)
{
    return !id.isEmpty() && !id.contains(u'/') && !id.contains(u'+') && !id.contains(u'#');
}

bool SparkplugTopic::isValid() const
{
    if (type == SparkplugMessageType::STATE)
        return isValidId(hostId);
    return isValidId(groupId) && isValidId(edgeNodeId) && (isDeviceType(type) ? isValidId(deviceId) : deviceId.isEmpty());
}

QString SparkplugTopic::toString() const
{
    if (!isValid())
        return {};
    if (type == SparkplugMessageType::STATE)
        return QStringList{nameSpace, typeName(type), hostId}.join(u'/');
    QStringList parts{nameSpace, groupId, typeName(type), edgeNodeId};
    if (isDeviceType(type))
        parts << deviceId;
    return parts.join(u'/');
}

BusResult<SparkplugTopic> SparkplugTopic::parse(const QString& text)
{
    using Result = BusResult<SparkplugTopic>;
    const QStringList parts = text.split(u'/');
    if (parts.first() != nameSpace)
        return Result::failure(QStringLiteral("topic \"%1\" is not in the %2 name space").arg(text, nameSpace));
    if (parts.size() == 3 && parts.at(1) == typeName(SparkplugMessageType::STATE)) {
        if (!isValidId(parts.at(2)))
            return Result::failure(QStringLiteral("topic \"%1\" has no valid host id").arg(text));
        return Result::success(state(parts.at(2)));
    }
    if (parts.size() < 4 || parts.size() > 5)
        return Result::failure(QStringLiteral("topic \"%1\" has %2 levels, not 4 or 5").arg(text).arg(parts.size()));
    SparkplugTopic topic;
    const auto known = std::find_if(typeNames.begin(), typeNames.end(),
        [&](const char* name) { return parts.at(2) == QLatin1StringView(name); });
    if (known == typeNames.end() || parts.at(2) == typeName(SparkplugMessageType::STATE))
        return Result::failure(QStringLiteral("topic \"%1\" has the unknown message type \"%2\"").arg(text, parts.at(2)));
    topic.type = static_cast<SparkplugMessageType>(known - typeNames.begin());
    topic.groupId = parts.at(1);
    topic.edgeNodeId = parts.at(3);
    if (parts.size() == 5)
        topic.deviceId = parts.at(4);
    if (isDeviceType(topic.type) != (parts.size() == 5))
        return Result::failure(QStringLiteral("topic \"%1\": %2 %3 a device id").arg(text, parts.at(2),
            isDeviceType(topic.type) ? QStringLiteral("needs") : QStringLiteral("takes no")));
    if (!topic.isValid())
        return Result::failure(QStringLiteral("topic \"%1\" has an empty or reserved id element").arg(text));
    return Result::success(topic);
}
