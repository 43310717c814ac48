#include "JsonFile.h"

#include "RegularFile.h"

#include <QJsonDocument>

#include <cmath>

namespace {

/// Where in the text a byte offset lies, counted from 1 as an editor shows it.
std::pair<int, int> lineAndColumn(const QByteArray& data, qsizetype offset)
{
    const QByteArray before = data.left(offset);
    return {static_cast<int>(before.count('\n')) + 1, static_cast<int>(offset - (before.lastIndexOf('\n') + 1)) + 1};
}

/// Joins the parts of a field's path; a character no key of ours holds keeps "a.b" apart from a.b.
const QChar pathSeparator(u'\x1f');

QString childPath(const QString& parent, const QString& part)
{
    return parent.isEmpty() ? part : parent + pathSeparator + part;
}

/// The path of a field as the accessors name it (alarms[3] "Unit1.FuelLow".limit) in the form the
/// scan records it: the keys and indexes alone.
QString scannedPath(const QString& field)
{
    QString path;
    qsizetype i = 0;
    const qsizetype n = field.size();
    while (i < n) {
        if (field.at(i) == QLatin1Char('.')) {
            ++i;
        } else if (field.at(i) == QLatin1Char('[')) {
            const qsizetype close = field.indexOf(QLatin1Char(']'), i);
            if (close < 0)
                return {};
            path = childPath(path, field.mid(i + 1, close - i - 1));
            i = close + 1;
            // The entry's name, which may hold dots: it ends at a quote before a dot, a bracket or the end.
            if (field.mid(i, 2) == QLatin1String(" \"")) {
                qsizetype quote = i + 2;
                for (;;) {
                    quote = field.indexOf(QLatin1Char('"'), quote);
                    if (quote < 0)
                        return {};
                    if (quote + 1 == n || field.at(quote + 1) == QLatin1Char('.') || field.at(quote + 1) == QLatin1Char('['))
                        break;
                    ++quote;
                }
                i = quote + 1;
            }
        } else {
            qsizetype end = i;
            while (end < n && field.at(end) != QLatin1Char('.') && field.at(end) != QLatin1Char('['))
                ++end;
            path = childPath(path, field.mid(i, end - i));
            i = end;
        }
    }
    return path;
}

} // namespace

/// One pass over a well-formed document: the line of every key and of every object and list, by
/// path, and the first key given twice in one object. The toolkit's JSON reader keeps one of two
/// equal keys and drops the other without a word.
struct JsonFile::Scan {
    QHash<QString, int> lines;
    qsizetype duplicateOffset = -1;
    int duplicateLine = 0;
    int firstLine = 0;
    QString duplicateKey;

    explicit Scan(const QByteArray& data)
    {
        struct Level {
            bool object = false;
            bool expectKey = false;
            int index = 0;
            QString path;
            QString lastKey;
            QHash<QString, int> keyLines;
        };
        QList<Level> levels;
        int line = 1;
        for (qsizetype i = 0; i < data.size(); ++i) {
            const char c = data.at(i);
            if (c == '\n') {
                ++line;
            } else if (c == '"') {
                const qsizetype start = i;
                QByteArray raw;
                bool escaped = false;
                for (++i; i < data.size() && data.at(i) != '"'; ++i) {
                    raw.append(data.at(i));
                    if (data.at(i) == '\\' && i + 1 < data.size()) {
                        raw.append(data.at(++i));
                        escaped = true;
                    }
                }
                if (levels.isEmpty() || !levels.last().object || !levels.last().expectKey)
                    continue;
                Level& level = levels.last();
                level.expectKey = false;
                // Decoded as the reader decodes it, so an escaped letter makes no different key.
                const QString key = escaped ? QJsonDocument::fromJson("[\"" + raw + "\"]").array().at(0).toString() : QString::fromUtf8(raw);
                if (const auto seen = level.keyLines.constFind(key); seen != level.keyLines.constEnd() && duplicateOffset < 0) {
                    duplicateOffset = start;
                    duplicateLine = line;
                    firstLine = *seen;
                    duplicateKey = key;
                }
                level.keyLines.insert(key, line);
                level.lastKey = key;
                lines.insert(childPath(level.path, key), line);
            } else if (c == '{' || c == '[') {
                QString path;
                if (!levels.isEmpty())
                    path = childPath(levels.last().path, levels.last().object ? levels.last().lastKey : QString::number(levels.last().index));
                // A key's own line stands; an entry of a list is found by its opening bracket.
                if (!lines.contains(path))
                    lines.insert(path, line);
                levels.append({c == '{', c == '{', 0, path, {}, {}});
            } else if ((c == '}' || c == ']') && !levels.isEmpty()) {
                levels.removeLast();
            } else if (c == ',' && !levels.isEmpty()) {
                if (levels.last().object)
                    levels.last().expectKey = true;
                else
                    ++levels.last().index;
            }
        }
    }
};


QByteArray JsonFile::bytesOf(const QString& path)
{
    RegularFile::Content content = RegularFile::read(path, maxFileBytes);
    if (!content.ok())
        throw FileFault{content.message(path)};
    return std::move(content.bytes);
}

JsonFile::JsonFile(QString path, const QHash<QString, QStringList>& knownFields)
    : m_path(std::move(path))
    , m_knownFields(knownFields)
{
    const QByteArray data = bytesOf(m_path);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        const auto [line, column] = lineAndColumn(data, error.offset);
        throw FileFault{QStringLiteral("%1, line %2, column %3: %4").arg(m_path).arg(line).arg(column).arg(error.errorString())};
    }
    if (!doc.isObject())
        throw FileFault{QStringLiteral("%1, line 1: the file must hold one JSON object { ... }").arg(m_path)};
    m_scan = std::make_shared<const Scan>(data);
    if (m_scan->duplicateOffset >= 0) {
        const auto [line, column] = lineAndColumn(data, m_scan->duplicateOffset);
        throw FileFault{QStringLiteral("%1, line %2, column %3: the field \"%4\" is given twice in one object (first on line %5)")
                            .arg(m_path).arg(line).arg(column).arg(m_scan->duplicateKey).arg(m_scan->firstLine)};
    }
    m_root = doc.object();
}

void JsonFile::known(const QJsonObject& object, const QString& path, const QString& kind) const
{
    const QStringList fields = m_knownFields.value(kind);
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!fields.contains(it.key()) && it.key() != QLatin1String("description"))
            fail(path.isEmpty() ? it.key() : path + QLatin1Char('.') + it.key(),
                 QStringLiteral("unknown field; here the fields are %1 and description").arg(fields.join(QStringLiteral(", "))));
    }
}

void JsonFile::fail(const QString& field, const QString& reason) const
{
    // The line of the field, or of the object that lacks it.
    QString path = scannedPath(field);
    const int line = m_scan->lines.value(path, m_scan->lines.value(path.section(pathSeparator, 0, -2), 0));
    if (line > 0)
        throw FileFault{QStringLiteral("%1, field %2: %3 (line %4)").arg(m_path, field, reason).arg(line)};
    throw FileFault{QStringLiteral("%1, field %2: %3").arg(m_path, field, reason)};
}

QJsonValue JsonFile::required(const QJsonObject& object, const QString& path, const char* key) const
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined())
        fail(join(path, key), QStringLiteral("missing"));
    return value;
}

QJsonObject JsonFile::object(const QJsonObject& object, const QString& path, const char* key) const
{
    const QJsonValue value = required(object, path, key);
    if (!value.isObject())
        fail(join(path, key), QStringLiteral("expected an object { ... }"));
    return value.toObject();
}

QJsonArray JsonFile::array(const QJsonObject& object, const QString& path, const char* key) const
{
    const QJsonValue value = required(object, path, key);
    if (!value.isArray())
        fail(join(path, key), QStringLiteral("expected a list [ ... ]"));
    return value.toArray();
}

QJsonObject JsonFile::element(const QJsonArray& array, qsizetype index, const QString& path) const
{
    if (!array.at(index).isObject())
        fail(QStringLiteral("%1[%2]").arg(path).arg(index), QStringLiteral("expected an object { ... }"));
    return array.at(index).toObject();
}

QString JsonFile::string(const QJsonObject& object, const QString& path, const char* key, std::optional<QString> fallback) const
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() && fallback)
        return *fallback;
    if (!value.isString())
        fail(join(path, key), value.isUndefined() ? QStringLiteral("missing") : QStringLiteral("expected a text in quotes"));
    return value.toString();
}

QString JsonFile::name(const QJsonObject& object, const QString& path, const char* key) const
{
    const QString text = string(object, path, key);
    if (text.trimmed().isEmpty() || text.trimmed() != text)
        fail(join(path, key), QStringLiteral("must not be empty or start or end with blanks"));
    return text;
}

double JsonFile::number(const QJsonObject& object, const QString& path, const char* key, std::optional<double> fallback, double minimum,
    double maximum) const
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() && fallback)
        return *fallback;
    if (!value.isDouble())
        fail(join(path, key), value.isUndefined() ? QStringLiteral("missing") : QStringLiteral("expected a number"));
    const double number = value.toDouble();
    if (!std::isfinite(number) || number < minimum || number > maximum)
        fail(join(path, key), QStringLiteral("%1 is outside %2 to %3").arg(number).arg(minimum).arg(maximum));
    return number;
}

qint64 JsonFile::whole(const QJsonObject& object, const QString& path, const char* key, std::optional<double> fallback, double minimum,
    double maximum) const
{
    const double value = number(object, path, key, fallback, minimum, maximum);
    if (value != std::trunc(value))
        fail(join(path, key), QStringLiteral("%1 is not a whole number").arg(value));
    return static_cast<qint64>(value);
}

bool JsonFile::boolean(const QJsonObject& object, const QString& path, const char* key, std::optional<bool> fallback) const
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() && fallback)
        return *fallback;
    if (!value.isBool())
        fail(join(path, key), value.isUndefined() ? QStringLiteral("missing") : QStringLiteral("expected true or false"));
    return value.toBool();
}

JsonFile::Named JsonFile::named(const QJsonArray& list, qsizetype index, const QString& path, const char* key, QSet<QString>& seen,
    const char* what) const
{
    Named n;
    n.object = element(list, index, path);
    n.name = name(n.object, at(path, index), key);
    n.place = at(path, index, n.name);
    if (seen.contains(n.name))
        fail(join(n.place, key), QStringLiteral("%1 named twice").arg(QLatin1String(what)));
    seen.insert(n.name);
    return n;
}

QString JsonFile::join(const QString& path, const char* key)
{
    return path.isEmpty() ? QString::fromLatin1(key) : path + QLatin1Char('.') + QLatin1String(key);
}

QString JsonFile::at(const QString& path, qsizetype index, const QString& name)
{
    return name.isEmpty() ? QStringLiteral("%1[%2]").arg(path).arg(index) : QStringLiteral("%1[%2] \"%3\"").arg(path).arg(index).arg(name);
}
