#include "TagBinding.h"

#include "KalvoraError.h"
#include "Runtime.h"

TagBinding::TagBinding(Runtime& runtime, const QObject& owner, Callback onValue)
    : m_runtime(runtime)
    , m_owner(owner)
    , m_onValue(std::move(onValue))
{
}

TagBinding::~TagBinding()
{
    QObject::disconnect(m_connection);
}

void TagBinding::bind(const QString& name)
{
    if (name == m_name)
        return;
    QObject::disconnect(m_connection);
    m_name = name;
    if (m_name.isEmpty()) {
        deliver(TagValue{});
        return;
    }
    TagStore& tags = m_runtime.tags();
    m_connection = tags.subscribe(m_name, &m_owner, [this](const TagValue& value) { deliver(value); });
    deliver(tags.tag(m_name).current());
}

void TagBinding::deliver(const TagValue& value)
{
    m_value = value;
    m_onValue(m_value);
}

void TagBinding::write(const QVariant& value)
{
    if (m_name.isEmpty())
        throw KalvoraError(QStringLiteral("%1 is bound to no process variable and cannot write one").arg(m_owner.objectName()));
    try {
        m_runtime.tags().write(m_name, value);
    } catch (const WriteRefused&) {
        // An operator without the role is no program fault: the runtime shows why and asks for a sign-in.
    }
}
