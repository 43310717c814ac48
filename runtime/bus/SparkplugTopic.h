#pragma once

#include "BusResult.h"

#include <QString>

enum class SparkplugMessageType { NBIRTH, NDEATH, NDATA, NCMD, DBIRTH, DDEATH, DDATA, DCMD, STATE };

/// \brief One Sparkplug B topic: spBv1.0/<group>/<type>/<edge node>[/<device>], or a host
/// application's spBv1.0/STATE/<host id>.
struct SparkplugTopic {
    SparkplugMessageType type = SparkplugMessageType::NDATA;
    QString groupId;
    QString edgeNodeId;
    QString deviceId;   // only for the D... types
    QString hostId;     // only for STATE

    static constexpr QLatin1StringView nameSpace{"spBv1.0"};

    static SparkplugTopic node(SparkplugMessageType type, const QString& groupId, const QString& edgeNodeId);
    static SparkplugTopic state(const QString& hostId);
    /// The subscription filter for every message of one edge node (births, data, deaths, commands).
    static QString nodeFilter(const QString& groupId, const QString& edgeNodeId);

    /// An id element may not be empty and may not hold '/', '+' or '#'.
    static bool isValidId(const QString& id);
    bool isValid() const;
    /// The topic text; empty when an id element is not valid, so nothing is ever published under a
    /// topic that a subscriber would split differently.
    QString toString() const;

    static BusResult<SparkplugTopic> parse(const QString& topic);

    static QString typeName(SparkplugMessageType type);
    bool operator==(const SparkplugTopic&) const = default;
};
