#include "SparkplugAliasTable.h"

SparkplugAliasTable::SparkplugAliasTable(const SparkplugPayload& birth)
{
    for (const SparkplugMetric& metric : birth.metrics) {
        if (metric.alias)
            add(*metric.alias, metric.name, metric.type);
        else
            m_withoutAlias.insert(metric.name, Entry{metric.name, metric.type});
    }
}

bool SparkplugAliasTable::add(quint64 alias, const QString& name, SparkplugDataType type)
{
    if (m_byAlias.contains(alias) || m_aliasByName.contains(name))
        return false;
    m_byAlias.insert(alias, Entry{name, type});
    m_aliasByName.insert(name, alias);
    return true;
}

const SparkplugAliasTable::Entry* SparkplugAliasTable::byAlias(quint64 alias) const
{
    const auto found = m_byAlias.constFind(alias);
    return found == m_byAlias.cend() ? nullptr : &*found;
}

std::optional<quint64> SparkplugAliasTable::aliasOf(const QString& name) const
{
    const auto found = m_aliasByName.constFind(name);
    return found == m_aliasByName.cend() ? std::nullopt : std::optional<quint64>(*found);
}

const SparkplugAliasTable::Entry* SparkplugAliasTable::byName(const QString& name) const
{
    if (const auto alias = aliasOf(name))
        return byAlias(*alias);
    const auto found = m_withoutAlias.constFind(name);
    return found == m_withoutAlias.cend() ? nullptr : &*found;
}
