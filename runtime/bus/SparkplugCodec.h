#pragma once

#include "BusResult.h"
#include "SparkplugAliasTable.h"
#include "SparkplugPayload.h"
#include "SparkplugTopic.h"

#include <QByteArray>

/// \brief Sparkplug B payloads to bytes and back. Decoding checks what the message type requires
/// (sequence number, time stamp, bdSeq, names and data types in births, known aliases in data and
/// commands, a value of the declared type) and returns the reason when something is wrong.
class SparkplugCodec final {
public:
    /// Above this a payload is refused unread: a birth of every plant variable is tens of kilobytes.
    static constexpr qsizetype defaultMaxBytes = 1024 * 1024;
    static constexpr QLatin1StringView bdSeqMetric{"bdSeq"};
    static constexpr QLatin1StringView rebirthMetric{"Node Control/Rebirth"};

    /// Births carry name, alias and data type of every metric; other messages carry the alias alone
    /// where there is one. A value that does not convert to its metric's data type goes out as a
    /// bad metric without a reading (and a warning in the log), never as a made-up number.
    static QByteArray encode(const SparkplugPayload& payload, SparkplugMessageType type);

    /// Data and commands that carry aliases need the table of the edge node's birth.
    static BusResult<SparkplugPayload> decode(const QByteArray& bytes, SparkplugMessageType type,
        const SparkplugAliasTable* aliases = nullptr, qsizetype maxBytes = defaultMaxBytes);

    /// The value in the data type's canonical Qt type; nullopt when it does not convert or is out of
    /// the type's range.
    static std::optional<QVariant> canonicalValue(SparkplugDataType type, const QVariant& value);
};
