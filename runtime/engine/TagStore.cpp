#include "TagStore.h"

#include "KalvoraError.h"

#include <QDateTime>

#include <cmath>

Tag::Tag(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
{
}

TagStore::TagStore(QObject* parent)
    : QObject(parent)
{
}

TagStore::~TagStore() = default;

void TagStore::define(const TagDefinition& definition)
{
    Tag& t = tag(definition.name);
    t.m_definition = std::make_unique<TagDefinition>(definition);
}

bool TagStore::contains(const QString& name) const
{
    const auto it = m_tags.constFind(name);
    return it != m_tags.constEnd() && (*it)->definition();
}

const TagDefinition* TagStore::definition(const QString& name) const
{
    const auto it = m_tags.constFind(name);
    return it != m_tags.constEnd() ? (*it)->definition() : nullptr;
}

QStringList TagStore::names() const
{
    QStringList result;
    for (const Tag* t : m_tags)
        if (t->definition())
            result.append(t->name());
    result.sort();
    return result;
}

Tag& TagStore::tag(const QString& name)
{
    auto it = m_tags.find(name);
    if (it == m_tags.end())
        it = m_tags.insert(name, new Tag(name, this));
    return **it;
}

TagValue TagStore::value(const QString& name) const
{
    const auto it = m_tags.constFind(name);
    return it != m_tags.constEnd() ? (*it)->current() : TagValue{};
}

void TagStore::publish(const QString& name, const QVariant& value, TagQuality quality, qint64 timestampMs)
{
    Tag& t = tag(name);
    TagValue next{value, quality, timestampMs ? timestampMs : QDateTime::currentMSecsSinceEpoch()};
    if (next == t.m_current)
        return;
    t.m_current = std::move(next);
    Q_EMIT t.changed(t.m_current);
}

QVariant TagStore::convert(const TagDefinition& definition, const QVariant& value) const
{
    const auto reject = [&](const QString& expected) {
        return KalvoraError(QStringLiteral("Cannot write %1 to %2: expects %3")
                                .arg(value.isValid() ? QStringLiteral("\"%1\" (%2)").arg(value.toString(), QString::fromLatin1(value.typeName()))
                                                     : QStringLiteral("an empty value"),
                                     definition.name, expected));
    };
    switch (definition.type) {
    case TagType::Bool:
        if (value.typeId() == QMetaType::Bool)
            return value;
        if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong || value.typeId() == QMetaType::Short) {
            // Two-state controls write -1/0 or 1/0; any non-zero number is "on".
            return QVariant(value.toLongLong() != 0);
        }
        throw reject(QStringLiteral("on/off"));
    case TagType::Int: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || value.typeId() == QMetaType::QString || value.typeId() == QMetaType::Bool || !std::isfinite(number) || number != std::trunc(number))
            throw reject(QStringLiteral("a whole number"));
        return QVariant(static_cast<qlonglong>(number));
    }
    case TagType::Double: {
        bool ok = false;
        const double number = value.toDouble(&ok);
        // On/off is no quantity: a switch bound to a level by mistake must not write 1 into it.
        if (!ok || value.typeId() == QMetaType::QString || value.typeId() == QMetaType::Bool || !std::isfinite(number))
            throw reject(QStringLiteral("a number"));
        return QVariant(number);
    }
    case TagType::String:
        if (value.typeId() != QMetaType::QString)
            throw reject(QStringLiteral("a text"));
        return value;
    }
    throw reject(QStringLiteral("a known type"));
}

QVariant TagStore::check(const QString& name, const QVariant& value) const
{
    const TagDefinition* def = definition(name);
    if (!def)
        throw KalvoraError(QStringLiteral("Cannot write %1: no such process variable").arg(name));
    if (!def->writable)
        throw KalvoraError(QStringLiteral("Cannot write %1: the variable is read-only").arg(name));
    const QVariant converted = convert(*def, value);
    if (def->type == TagType::Int || def->type == TagType::Double) {
        const double number = converted.toDouble();
        if (def->maximum > def->minimum && (number < def->minimum || number > def->maximum))
            throw KalvoraError(QStringLiteral("Cannot write %1 to %2: outside %3 to %4")
                                   .arg(converted.toString(), name, QString::number(def->minimum), QString::number(def->maximum)));
    }
    return converted;
}

void TagStore::setWriteHandlers(WriteHandler accepted, RefusalHandler refused)
{
    m_writeHandler = std::move(accepted);
    m_refusalHandler = std::move(refused);
}

void TagStore::write(const QString& name, const QVariant& value)
{
    QVariant converted;
    try {
        converted = check(name, value);
        if (m_writeGate)
            if (const QString refused = m_writeGate(name, converted); !refused.isEmpty())
                throw WriteRefused(refused);
    } catch (const KalvoraError& e) {
        if (m_refusalHandler)
            m_refusalHandler(name, value, e.message());
        throw;
    }
    if (!m_writeHandler || !m_writeHandler(name, converted))
        publish(name, converted);
    Q_EMIT written(name, converted);
}
