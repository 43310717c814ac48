#pragma once

#include "TagStore.h"

#include <QMetaObject>
#include <QString>

#include <functional>

class Runtime;

/// \brief Binds a control to one process variable by name. The control is handed the variable's
/// current value when bound and every change after that; nothing polls.
class TagBinding final {
public:
    using Callback = std::function<void(const TagValue&)>;

    TagBinding(Runtime& runtime, const QObject& owner, Callback onValue);
    ~TagBinding();
    TagBinding(const TagBinding&) = delete;
    TagBinding& operator=(const TagBinding&) = delete;

    /// Binds to another variable (an empty name unbinds) and delivers its current value at once.
    void bind(const QString& name);
    const QString& name() const { return m_name; }
    bool isBound() const { return !m_name.isEmpty(); }
    /// The last value delivered; "not delivered" while unbound.
    const TagValue& value() const { return m_value; }

    /// Writes the variable through the runtime; throws KalvoraError when unbound or rejected. A write
    /// the access rules refuse is not thrown: the runtime has told the operator and offered a sign-in.
    void write(const QVariant& value);

private:
    void deliver(const TagValue& value);

    Runtime& m_runtime;
    const QObject& m_owner;
    Callback m_onValue;
    QString m_name;
    TagValue m_value;
    QMetaObject::Connection m_connection;
};
