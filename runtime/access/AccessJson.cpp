#include "AccessJson.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>

namespace {

qsizetype lineAt(const QByteArray& data, qsizetype offset)
{
    return data.left(offset).count('\n') + 1;
}

qsizetype columnAt(const QByteArray& data, qsizetype offset)
{
    return offset - data.left(offset).lastIndexOf('\n');
}

/// The offset of the first key that repeats a key of the same object, or -1. The toolkit's parser keeps
/// the last of two equal keys silently, so a hand-edited "role" given twice would pass unseen.
/// Runs only on text the parser has accepted, so strings and nesting are well formed.
qsizetype repeatedKey(const QByteArray& data, QString* key)
{
    QList<QHash<QString, bool>> objects; // one entry per open object; arrays push nothing
    QList<bool> isObject;
    bool expectKey = false;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data.at(i);
        if (c == '{' || c == '[') {
            isObject.append(c == '{');
            if (c == '{')
                objects.append(QHash<QString, bool>());
            expectKey = c == '{';
        } else if (c == '}' || c == ']') {
            if (isObject.takeLast())
                objects.removeLast();
            expectKey = false;
        } else if (c == ',') {
            expectKey = !isObject.isEmpty() && isObject.last();
        } else if (c == '"') {
            const qsizetype start = i;
            for (++i; data.at(i) != '"'; ++i) {
                if (data.at(i) == '\\')
                    ++i;
            }
            if (!expectKey)
                continue;
            expectKey = false;
            // Decoded as the parser decodes it, so an escaped letter is the same key.
            const QString text = QJsonDocument::fromJson("[" + data.mid(start, i - start + 1) + "]").array().at(0).toString();
            if (objects.last().contains(text)) {
                *key = text;
                return start;
            }
            objects.last().insert(text, true);
        }
    }
    return -1;
}

} // namespace

QString AccessJson::readBytes(const QString& path, qint64 maxBytes, QByteArray* bytes, bool* missing)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *missing = true;
        return QStringLiteral("the file is missing");
    }
    if (!info.isFile())
        return QStringLiteral("not a regular file");
    if (info.size() > maxBytes)
        return QStringLiteral("the file has %1 bytes, more than the %2 it may have").arg(info.size()).arg(maxBytes);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the file: %1").arg(file.errorString());
    *bytes = file.read(maxBytes + 1);
    if (bytes->size() > maxBytes)
        return QStringLiteral("the file grew beyond the %1 bytes it may have while it was read").arg(maxBytes);
    return {};
}

AccessJson::Document AccessJson::read(const QString& path, qint64 maxBytes)
{
    Document doc;
    QByteArray data;
    if (const QString error = readBytes(path, maxBytes, &data, &doc.missing); !error.isEmpty()) {
        doc.error = path + QStringLiteral(": ") + error;
        return doc;
    }
    QJsonParseError parse{};
    const QJsonDocument json = QJsonDocument::fromJson(data, &parse);
    if (parse.error != QJsonParseError::NoError) {
        doc.error = QStringLiteral("%1, line %2, column %3: %4")
                        .arg(path)
                        .arg(lineAt(data, parse.offset))
                        .arg(columnAt(data, parse.offset))
                        .arg(parse.errorString());
        return doc;
    }
    if (!json.isObject()) {
        doc.error = QStringLiteral("%1, line 1: the file must hold one JSON object { ... }").arg(path);
        return doc;
    }
    QString key;
    if (const qsizetype offset = repeatedKey(data, &key); offset >= 0) {
        doc.error = QStringLiteral("%1, line %2, column %3: the field \"%4\" is given twice in one object")
                        .arg(path)
                        .arg(lineAt(data, offset))
                        .arg(columnAt(data, offset))
                        .arg(key);
        return doc;
    }
    doc.root = json.object();
    return doc;
}

QString AccessJson::fault(const QString& path, const QString& field, const QString& reason)
{
    return QStringLiteral("%1, field %2: %3").arg(path, field, reason);
}

QString AccessJson::unknownKey(const QJsonObject& object, const QStringList& allowed)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!allowed.contains(it.key()) && it.key() != QLatin1String("description"))
            return it.key();
    }
    return {};
}
