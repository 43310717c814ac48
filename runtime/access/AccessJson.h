#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>

/// \brief Reads the room's JSON files (accounts, access rules): only a regular file within a size
/// limit, one object at the top, no key given twice in one object. Faults name the file and the line
/// or field. The file access sits in readBytes() alone, so the project's shared file reader can take
/// its place.
class AccessJson final {
public:
    AccessJson() = delete;

    struct Document {
        QJsonObject root;
        QString error;        ///< "<file>, line L, column C: reason" or "<file>: reason"; empty when read
        bool missing = false; ///< the file is not there (a reader may treat that as "not configured")
    };
    static Document read(const QString& path, qint64 maxBytes);

    /// "<file>, field <field>: <reason>".
    static QString fault(const QString& path, const QString& field, const QString& reason);
    /// The first key of `object` that `allowed` lacks, or empty; "description" is always allowed.
    static QString unknownKey(const QJsonObject& object, const QStringList& allowed);

private:
    static QString readBytes(const QString& path, qint64 maxBytes, QByteArray* bytes, bool* missing);
};
