#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

/// A fault in a file of the runtime project; the message names the file and the line or field.
struct FileFault {
    QString message;
};

/// \brief One JSON file of the runtime project, read through RegularFile within maxFileBytes and
/// refused whole for bad syntax or a key given twice in one object. Its accessors name the field of
/// any fault as a path such as alarms[3].limit and refuse fields that the object's kind does not take,
/// so a misspelt field never falls back to its default unnoticed. Faults are thrown as FileFault.
class JsonFile final {
public:
    /// Bytes of one project file; the shipped ones are a few kB, a plant of thousands of variables
    /// some MB.
    static constexpr qint64 maxFileBytes = 8 * 1024 * 1024;

    /// `knownFields`: the fields each kind of object takes, by kind; "description" is a comment that
    /// every object may carry.
    JsonFile(QString path, const QHash<QString, QStringList>& knownFields);

    /// The bytes of a project file of any kind, refused as RegularFile refuses them.
    static QByteArray bytesOf(const QString& path);

    const QJsonObject& root() const { return m_root; }

    /// Refuses any field that objects of the kind do not take.
    void known(const QJsonObject& object, const QString& path, const QString& kind) const;

    [[noreturn]] void fail(const QString& field, const QString& reason) const;

    QJsonValue required(const QJsonObject& object, const QString& path, const char* key) const;
    QJsonObject object(const QJsonObject& object, const QString& path, const char* key) const;
    QJsonArray array(const QJsonObject& object, const QString& path, const char* key) const;
    QJsonObject element(const QJsonArray& array, qsizetype index, const QString& path) const;
    QString string(const QJsonObject& object, const QString& path, const char* key, std::optional<QString> fallback = std::nullopt) const;
    /// A text that is not empty and has no blanks around it.
    QString name(const QJsonObject& object, const QString& path, const char* key) const;
    double number(const QJsonObject& object, const QString& path, const char* key, std::optional<double> fallback = std::nullopt,
        double minimum = -1e300, double maximum = 1e300) const;
    /// A number that a setting keeps as a whole number (milliseconds, counts, a seed).
    qint64 whole(const QJsonObject& object, const QString& path, const char* key, std::optional<double> fallback, double minimum,
        double maximum) const;
    bool boolean(const QJsonObject& object, const QString& path, const char* key, std::optional<bool> fallback = std::nullopt) const;

    /// One of the texts of `names`, as the value it stands for.
    template <class E>
    E choice(const QJsonObject& object, const QString& path, const char* key, const QList<std::pair<QString, E>>& names,
        std::optional<E> fallback = std::nullopt) const
    {
        const QJsonValue value = object.value(QLatin1String(key));
        if (value.isUndefined() && fallback)
            return *fallback;
        QStringList texts;
        for (const auto& [text, e] : names) {
            if (value.isString() && value.toString() == text)
                return e;
            texts.append(text);
        }
        fail(join(path, key), value.isUndefined() ? QStringLiteral("missing") : QStringLiteral("expected one of %1").arg(texts.join(QStringLiteral(", "))));
    }

    /// One entry of a list of named objects: the object, its name (unique within `seen`) and its place
    /// for messages, such as alarms[3] "Unit1.FuelLow".
    struct Named {
        QJsonObject object;
        QString name;
        QString place;
    };
    Named named(const QJsonArray& list, qsizetype index, const QString& path, const char* key, QSet<QString>& seen, const char* what) const;

    static QString join(const QString& path, const char* key);
    static QString at(const QString& path, qsizetype index, const QString& name = {});

private:
    struct Scan;
    QString m_path;
    std::shared_ptr<const Scan> m_scan;
    QHash<QString, QStringList> m_knownFields;
    QJsonObject m_root;
};
