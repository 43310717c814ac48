#include "AlarmGroup.h"

#include "AlarmEngine.h"

AlarmGroup::AlarmGroup(AlarmEngine& engine, QString name, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_name(std::move(name))
{
}

QList<AlarmInfo> AlarmGroup::alarms() const
{
    return m_engine.alarms(m_name);
}

QList<AlarmInfo> AlarmGroup::shelvedAlarms() const
{
    return m_engine.shelvedAlarms(m_name);
}

int AlarmGroup::acknowledge()
{
    return m_engine.acknowledge(m_name);
}
