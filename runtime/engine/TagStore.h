#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include "KalvoraError.h"

#include <functional>
#include <memory>

enum class TagQuality { Good, Bad, NotDelivered };
enum class TagType { Bool, Int, Double, String };

/// One value of a process variable as the runtime delivers it.
struct TagValue {
    QVariant value;
    TagQuality quality = TagQuality::NotDelivered;
    qint64 timestampMs = 0;

    bool isGood() const { return quality == TagQuality::Good; }
    bool operator==(const TagValue& other) const
    {
        return quality == other.quality && value == other.value;
    }
};

struct TagDefinition {
    QString name;
    TagType type = TagType::Double;
    QString unit;
    double minimum = 0.0;
    double maximum = 0.0;
    bool writable = false;
};

/// \brief One process variable and its subscribers. Controls connect to `changed` of the tags they show,
/// so a change reaches only the controls bound to it.
/// A write the access rules turned down: not a fault of the program but an operator without the role.
/// The runtime has told the operator (and asked for a sign-in where one helps) before it is thrown.
class WriteRefused final : public KalvoraError {
public:
    using KalvoraError::KalvoraError;
};

class Tag final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Tag)

public:
    explicit Tag(QString name, QObject* parent = nullptr);

    const QString& name() const { return m_name; }
    /// Null for a name the project does not define: such a tag never delivers a value.
    const TagDefinition* definition() const { return m_definition.get(); }
    const TagValue& current() const { return m_current; }

Q_SIGNALS:
    void changed(const TagValue& value);

private:
    friend class TagStore;
    QString m_name;
    std::unique_ptr<TagDefinition> m_definition;
    TagValue m_current;
};

/// \brief The runtime's process variables: named values with quality and time stamp, change
/// notification per variable, and checked writes from operator controls.
class TagStore final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TagStore)

public:
    explicit TagStore(QObject* parent = nullptr);
    ~TagStore() override;

    void define(const TagDefinition& definition);
    bool contains(const QString& name) const;
    const TagDefinition* definition(const QString& name) const;
    QStringList names() const;

    /// The tag of that name. A name the project does not define gets a tag that never delivers, so a
    /// control bound to a misspelt name shows "no value" instead of failing.
    Tag& tag(const QString& name);
    TagValue value(const QString& name) const;

    /// The runtime's own update; subscribers hear of it only when value or quality changed.
    void publish(const QString& name, const QVariant& value, TagQuality quality = TagQuality::Good, qint64 timestampMs = 0);

    /// A write from an operator control. Throws KalvoraError for an unknown or read-only variable or a
    /// value that does not convert to the variable's type. A write handler that takes the value carries
    /// it to the plant, and the variable changes only when the plant reports its new state; otherwise
    /// the value is published at once.
    void write(const QString& name, const QVariant& value);

    /// Offered every checked write (name, converted value); returns whether it took it. `refused` hears
    /// of writes the checks turned down (name, value, reason) before the error is thrown.
    using WriteHandler = std::function<bool(const QString&, const QVariant&)>;
    using RefusalHandler = std::function<void(const QString&, const QVariant&, const QString&)>;
    void setWriteHandlers(WriteHandler accepted, RefusalHandler refused);
    /// Asked after the checks whether the write is permitted (name, converted value): why not, or
    /// empty. A refusal is handled like a failed check, and thrown as WriteRefused.
    using WriteGate = std::function<QString(const QString&, const QVariant&)>;
    void setWriteGate(WriteGate gate) { m_writeGate = std::move(gate); }

    /// Calls `onChange(const TagValue&)` on every change of the named variable while `context` lives.
    template <class F>
    QMetaObject::Connection subscribe(const QString& name, const QObject* context, F&& onChange)
    {
        return connect(&tag(name), &Tag::changed, context, std::forward<F>(onChange));
    }

Q_SIGNALS:
    /// An operator control's write passed the checks (and was published or handed to the plant).
    void written(const QString& name, const QVariant& value);

private:
    QVariant convert(const TagDefinition& definition, const QVariant& value) const;

    QVariant check(const QString& name, const QVariant& value) const;

    QHash<QString, Tag*> m_tags;
    WriteHandler m_writeHandler;
    RefusalHandler m_refusalHandler;
    WriteGate m_writeGate;
};
