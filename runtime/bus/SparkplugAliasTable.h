#pragma once

#include "SparkplugPayload.h"

#include <QHash>

/// \brief An edge node's metrics as its birth declared them: alias -> name and data type, so that
/// data and commands that carry only an alias (and no data type) can be read.
class SparkplugAliasTable final {
public:
    struct Entry {
        QString name;
        SparkplugDataType type = SparkplugDataType::Unknown;
    };

    SparkplugAliasTable() = default;
    /// From a birth the codec decoded (names, aliases and types already checked).
    explicit SparkplugAliasTable(const SparkplugPayload& birth);

    /// False when the alias or the name is already taken.
    bool add(quint64 alias, const QString& name, SparkplugDataType type);
    const Entry* byAlias(quint64 alias) const;
    /// The alias of a name, for encoding data by alias.
    std::optional<quint64> aliasOf(const QString& name) const;
    const Entry* byName(const QString& name) const;
    qsizetype size() const { return m_byAlias.size(); }

private:
    QHash<quint64, Entry> m_byAlias;
    QHash<QString, quint64> m_aliasByName;
    QHash<QString, Entry> m_withoutAlias;
};
