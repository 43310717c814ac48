#include "PropertyBag.h"

#include "BagFormat.h"
#include "RegularFile.h"

#include <QSaveFile>
#include <QtEndian>

#include <cstring>
#include <limits>
#include <type_traits>

namespace {

template <class T>
T readLE(const char* at)
{
    return qFromLittleEndian<T>(reinterpret_cast<const unsigned char*>(at));
}

template <class T>
void appendLE(QByteArray& out, T value)
{
    char buffer[sizeof(T)];
    qToLittleEndian<T>(value, buffer);
    out.append(buffer, sizeof(T));
}

void putLE32(QByteArray& out, qsizetype at, std::uint32_t value)
{
    qToLittleEndian<std::uint32_t>(value, out.data() + at);
}

void appendUtf16(QByteArray& out, const QString& text)
{
    for (const QChar c : text)
        appendLE<std::uint16_t>(out, c.unicode());
}

QString readUtf16(const char* at, qint64 units)
{
    QString text(units, Qt::Uninitialized);
    for (qint64 i = 0; i < units; ++i)
        text[i] = QChar(readLE<std::uint16_t>(at + 2 * i));
    return text;
}

qint64 padded(qint64 size)
{
    return (size + 3) & ~qint64(3);
}

QString quoted(const QString& text)
{
    constexpr qsizetype shown = 40;
    return QLatin1Char('"') + (text.size() > shown ? text.left(shown) + QStringLiteral("...") : text) + QLatin1Char('"');
}

} // namespace

QString BagFault::message() const
{
    QString where;
    if (entry < 0)
        where = QStringLiteral("bag header");
    else if (name.isEmpty())
        where = QStringLiteral("entry %1").arg(entry);
    else
        where = QStringLiteral("entry %1 %2").arg(entry).arg(quoted(name));
    if (offset >= 0)
        where += QStringLiteral(" at byte %1").arg(offset);
    return QStringLiteral("%1: %2: %3").arg(source, where, what);
}

// ---------------------------------------------------------------------------------------------------------
// Parsing

/// Walks the chain of entries once, front to back. Every position only grows, so the walk ends after at
/// most one step per 12 bytes, whatever the offsets say; every length is checked against the bytes that
/// are there before anything is allocated for it.
class PropertyBag::Parser final {
public:
    Parser(const QByteArray& bytes, PropertyBag& bag)
        : m_data(bytes.constData())
        , m_size(bytes.size())
        , m_bag(bag)
    {
    }

    void run()
    {
        if (m_size < BagFormat::headerSize)
            return fail(-1, {}, 0, QStringLiteral("the bag is %1 bytes, shorter than its %2-byte header").arg(m_size).arg(BagFormat::headerSize));
        const std::uint32_t header = readLE<std::uint32_t>(m_data);
        if (header != BagFormat::headerValue)
            return fail(-1, {}, 0, QStringLiteral("header value %1, expected %2").arg(header).arg(BagFormat::headerValue));
        m_total = readLE<std::uint32_t>(m_data + 4);
        if (m_total < BagFormat::headerSize)
            return fail(-1, {}, 4, QStringLiteral("total length %1 is shorter than the header").arg(m_total));

        qint64 at = BagFormat::headerSize;
        bool last = m_total == BagFormat::headerSize;
        while (!last) {
            if (!entry(at, last))
                return;
        }
        if (m_size > m_total)
            fail(m_bag.count(), {}, m_total, QStringLiteral("%1 bytes follow the end of the bag given in its header").arg(m_size - m_total));
    }

private:
    void fail(qsizetype index, const QString& name, qint64 offset, const QString& what)
    {
        m_bag.m_fault = BagFault{m_bag.m_source, index, name, offset, what};
    }

    /// Empty when the bytes up to `end` are there; otherwise why not.
    QString missing(qint64 end) const
    {
        if (end > m_total)
            return QStringLiteral("it runs past the end of the bag at byte %1").arg(m_total);
        if (end > m_size)
            return QStringLiteral("the bag is truncated: its header gives %1 bytes, only %2 are there").arg(m_total).arg(m_size);
        return {};
    }

    /// Parses the entry at `at`; moves `at` to the next entry and sets `last` after the final one.
    /// Returns false after recording a structural fault.
    bool entry(qint64& at, bool& last)
    {
        const qsizetype index = m_bag.count();
        if (QString why = missing(at + BagFormat::entryHeaderSize); !why.isEmpty()) {
            fail(index, {}, at, QStringLiteral("the entry header does not fit: %1").arg(why));
            return false;
        }
        const char* head = m_data + at;
        const std::uint16_t type = readLE<std::uint16_t>(head);
        const qint64 nameUnits = readLE<std::uint16_t>(head + 2);
        const std::uint32_t hash = readLE<std::uint32_t>(head + 4);
        const qint64 offset = readLE<std::int32_t>(head + 8);

        if (nameUnits == 0) {
            fail(index, {}, at, QStringLiteral("the entry has no name"));
            return false;
        }
        const qint64 nameStart = at + BagFormat::entryHeaderSize;
        const qint64 valueStart = nameStart + 2 * nameUnits;
        if (QString why = missing(valueStart); !why.isEmpty()) {
            fail(index, {}, at, QStringLiteral("the name of %1 characters does not fit: %2").arg(nameUnits).arg(why));
            return false;
        }
        const QString name = readUtf16(m_data + nameStart, nameUnits);
        if (const std::uint32_t expected = BagFormat::nameHash(name.toLower()); hash != expected) {
            fail(index, {}, at, QStringLiteral("name hash 0x%1 does not match the name (0x%2); the name is damaged")
                                    .arg(hash, 8, 16, QLatin1Char('0'))
                                    .arg(expected, 8, 16, QLatin1Char('0')));
            return false;
        }

        // Where this entry ends: at the next one, or for the last at the end of the bag. The last entry's
        // offset leads back to the first; anything else that is not forward would be a cycle.
        qint64 end = 0;
        if (offset > 0) {
            end = at + offset;
            if (end % 4 != 0) {
                fail(index, name, at, QStringLiteral("offset %1 leads to byte %2, which is not on a 4-byte boundary").arg(offset).arg(end));
                return false;
            }
            if (end + BagFormat::entryHeaderSize > m_total) {
                fail(index, name, at, QStringLiteral("offset %1 leads to byte %2, outside the bag of %3 bytes").arg(offset).arg(end).arg(m_total));
                return false;
            }
            if (end < valueStart) {
                fail(index, name, at, QStringLiteral("offset %1 is shorter than the entry's own header and name").arg(offset));
                return false;
            }
        } else {
            if (at + offset != BagFormat::headerSize) {
                fail(index, name, at, QStringLiteral("offset %1 leads back to byte %2, not to the first entry at byte %3")
                                          .arg(offset)
                                          .arg(at + offset)
                                          .arg(BagFormat::headerSize));
                return false;
            }
            end = m_total;
            last = true;
        }
        if (QString why = missing(end); !why.isEmpty()) {
            fail(index, name, at, QStringLiteral("the entry does not fit: %1").arg(why));
            return false;
        }

        Entry parsed;
        parsed.name = name;
        parsed.offset = at;
        // Bytes the value takes, or -1 when its own lengths cannot say (an unknown type or class).
        const qint64 used = value(type, valueStart, end, parsed);
        if (used == -2) {
            fail(index, name, at, QStringLiteral("the value runs past the end of its entry at byte %1").arg(end));
            return false;
        }
        if (used >= 0 && padded(valueStart + used) != end) {
            fail(index, name, at, QStringLiteral("the value ends at byte %1 but the entry runs to byte %2").arg(valueStart + used).arg(end));
            return false;
        }
        m_bag.append(std::move(parsed));
        at = end;
        return true;
    }

    /// Decodes the value in [start, end) into `entry`. Returns the bytes it takes, -1 when that cannot be
    /// known, -2 when its lengths run past `end`. A value that is complete but unusable is kept as the
    /// entry's problem.
    qint64 value(std::uint16_t type, qint64 start, qint64 end, Entry& entry) const
    {
        const char* at = m_data + start;
        const qint64 room = end - start;
        switch (type) {
        case BagFormat::TypeInt16:
            if (room < 2)
                return -2;
            entry.value = readLE<std::int16_t>(at);
            return 2;
        case BagFormat::TypeInt32:
            if (room < 4)
                return -2;
            entry.value = readLE<std::int32_t>(at);
            return 4;
        case BagFormat::TypeString: {
            if (room < 4)
                return -2;
            const qint64 units = readLE<std::uint32_t>(at);
            if (units > (room - 4) / 2)
                return -2;
            entry.value = readUtf16(at + 4, units);
            return 4 + 2 * units;
        }
        case BagFormat::TypeObject:
            return object(at, room, entry);
        default:
            entry.problem = QStringLiteral("unknown value type %1").arg(type);
            return -1;
        }
    }

    qint64 object(const char* at, qint64 room, Entry& entry) const
    {
        constexpr qint64 idSize = sizeof(BagFormat::ClassId);
        if (room < idSize)
            return -2;
        if (std::memcmp(at, BagFormat::pictureClassId.data(), idSize) == 0) {
            if (room < idSize + 8)
                return -2;
            if (std::memcmp(at + idSize, BagFormat::pictureTag.data(), BagFormat::pictureTag.size()) != 0) {
                entry.problem = QStringLiteral("the picture object does not start with its \"lt\" tag");
                return -1;
            }
            const qint64 length = readLE<std::uint32_t>(at + idSize + 4);
            if (length > room - idSize - 8)
                return -2;
            entry.image = QByteArray(at + idSize + 8, length);
            return idSize + 8 + length;
        }
        if (std::memcmp(at, BagFormat::fontClassId.data(), idSize) == 0) {
            BagFormat::FontRead font = BagFormat::readFont(at + idSize, room - idSize);
            if (font.size < 0)
                return -2;
            entry.value = std::move(font.font);
            entry.problem = std::move(font.problem);
            return idSize + font.size;
        }
        QString id;
        for (qint64 i = 0; i < idSize; ++i)
            id += QStringLiteral("%1").arg(static_cast<unsigned char>(at[i]), 2, 16, QLatin1Char('0'));
        entry.problem = QStringLiteral("object of unknown class %1").arg(id);
        return -1;
    }

    const char* m_data;
    qint64 m_size;
    qint64 m_total = 0;
    PropertyBag& m_bag;
};

// ---------------------------------------------------------------------------------------------------------

PropertyBag::PropertyBag(QString source)
    : m_source(std::move(source))
{
}

PropertyBag PropertyBag::parse(const QByteArray& bytes, const QString& source)
{
    PropertyBag bag(source);
    Parser(bytes, bag).run();
    return bag;
}

PropertyBag PropertyBag::load(const QString& path)
{
    PropertyBag bag(path);
    const RegularFile::Content content = RegularFile::read(path, BagFormat::maxBagBytes);
    if (!content.ok()) {
        bag.m_fault = BagFault{path, -1, {}, 0, content.fault};
        return bag;
    }
    Parser(content.bytes, bag).run();
    return bag;
}

// ---------------------------------------------------------------------------------------------------------
// Writing

void PropertyBag::append(Entry entry)
{
    m_byName[keyOf(entry.name)].append(m_entries.size());
    m_entries.append(std::move(entry));
}

void PropertyBag::write(const QString& name, const Value& value, const Value& defaultValue)
{
    if (value == defaultValue)
        return;
    write(name, value);
}

void PropertyBag::write(const QString& name, const Value& value)
{
    const auto refuse = [&](const QString& why) {
        return KalvoraError(QStringLiteral("%1: cannot write %2: %3").arg(m_source, quoted(name), why));
    };
    if (name.isEmpty())
        throw refuse(QStringLiteral("a property needs a name"));
    if (name.toLower().size() > std::numeric_limits<std::uint16_t>::max())
        throw refuse(QStringLiteral("the name has more than 65535 characters"));
    if (const StdFont* font = std::get_if<StdFont>(&value)) {
        if (QString problem = BagFormat::fontProblem(*font); !problem.isEmpty())
            throw refuse(problem);
    }
    append(Entry{name, value, std::nullopt, {}, -1});
}

QByteArray PropertyBag::serialize() const
{
    QByteArray out;
    appendLE<std::uint32_t>(out, BagFormat::headerValue);
    appendLE<std::uint32_t>(out, 0);
    qsizetype previous = -1;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries.at(i);
        if (!entry.problem.isEmpty())
            throw entryError(i, entry.problem);
        const qsizetype at = out.size();
        if (previous >= 0)
            putLE32(out, previous + 8, static_cast<std::uint32_t>(at - previous));
        previous = at;

        const QString name = entry.name.toLower();
        // Lower case can be longer than the name as read (a few letters lower-case to two units).
        if (name.size() > std::numeric_limits<std::uint16_t>::max())
            throw entryError(i, QStringLiteral("the name has more than 65535 characters in lower case"));
        const bool object = entry.image || std::holds_alternative<StdPicture>(entry.value) || std::holds_alternative<StdFont>(entry.value);
        const std::uint16_t type = object ? BagFormat::TypeObject
            : std::holds_alternative<std::int16_t>(entry.value) ? BagFormat::TypeInt16
            : std::holds_alternative<std::int32_t>(entry.value) ? BagFormat::TypeInt32
                                                                  : BagFormat::TypeString;
        appendLE<std::uint16_t>(out, type);
        appendLE<std::uint16_t>(out, static_cast<std::uint16_t>(name.size()));
        appendLE<std::uint32_t>(out, BagFormat::nameHash(name));
        appendLE<std::int32_t>(out, 0);
        appendUtf16(out, name);

        const auto appendPicture = [&out](const QByteArray& image) {
            out.append(reinterpret_cast<const char*>(BagFormat::pictureClassId.data()), BagFormat::pictureClassId.size());
            out.append(BagFormat::pictureTag.data(), BagFormat::pictureTag.size());
            appendLE<std::uint32_t>(out, static_cast<std::uint32_t>(image.size()));
            out.append(image);
        };
        if (entry.image) {
            appendPicture(*entry.image);
        } else if (const auto* v16 = std::get_if<std::int16_t>(&entry.value)) {
            appendLE<std::int16_t>(out, *v16);
        } else if (const auto* v32 = std::get_if<std::int32_t>(&entry.value)) {
            appendLE<std::int32_t>(out, *v32);
        } else if (const auto* text = std::get_if<QString>(&entry.value)) {
            appendLE<std::uint32_t>(out, static_cast<std::uint32_t>(text->size()));
            appendUtf16(out, *text);
        } else if (const auto* picture = std::get_if<StdPicture>(&entry.value)) {
            appendPicture(picture->data());
        } else {
            out.append(reinterpret_cast<const char*>(BagFormat::fontClassId.data()), BagFormat::fontClassId.size());
            BagFormat::appendFont(out, std::get<StdFont>(entry.value));
        }
        out.append(padded(out.size()) - out.size(), '\0');
        if (out.size() > BagFormat::maxBagBytes)
            throw KalvoraError(QStringLiteral("%1: the bag grows beyond %2 bytes at entry %3 %4")
                                   .arg(m_source)
                                   .arg(BagFormat::maxBagBytes)
                                   .arg(i)
                                   .arg(quoted(entry.name)));
    }
    if (previous >= 0)
        putLE32(out, previous + 8, static_cast<std::uint32_t>(BagFormat::headerSize - previous));
    putLE32(out, 4, static_cast<std::uint32_t>(out.size()));
    return out;
}

void PropertyBag::save(const QString& path) const
{
    const QByteArray bytes = serialize();
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        throw KalvoraError(QStringLiteral("Cannot write bag %1: %2").arg(path, file.errorString()));
}

// ---------------------------------------------------------------------------------------------------------
// Reading

QString PropertyBag::kindName(const Value& value)
{
    switch (value.index()) {
    case 0:
        return QStringLiteral("16-bit integer");
    case 1:
        return QStringLiteral("32-bit integer");
    case 2:
        return QStringLiteral("string");
    case 3:
        return QStringLiteral("picture");
    default:
        return QStringLiteral("font");
    }
}

KalvoraError PropertyBag::entryError(qsizetype index, const QString& what) const
{
    const Entry& entry = m_entries.at(index);
    return BagFault{m_source, index, entry.name, entry.offset, what}.error();
}

const PropertyBag::Entry* PropertyBag::next(const QString& name)
{
    const QString key = keyOf(name);
    const qsizetype k = m_reads[key]++;
    const auto found = m_byName.constFind(key);
    const qsizetype available = found == m_byName.cend() ? 0 : found->size();
    // With a damaged bag, an entry this read needs may have stood in the lost part; a default or the
    // reuse of an earlier entry would hide that.
    if (m_fault && k >= available)
        throw m_fault->error();
    if (available == 0)
        return nullptr;
    return &m_entries.at(found->at(std::min(k, available - 1)));
}

PropertyBag::Value PropertyBag::decoded(qsizetype index) const
{
    const Entry& entry = m_entries.at(index);
    if (!entry.problem.isEmpty())
        throw entryError(index, entry.problem);
    if (entry.image) {
        QString why;
        std::optional<StdPicture> picture = StdPicture::decode(*entry.image, &why);
        if (!picture)
            throw entryError(index, why);
        return *std::move(picture);
    }
    return entry.value;
}

PropertyBag::Value PropertyBag::valueAt(qsizetype i) const
{
    return decoded(i);
}

std::optional<std::pair<qsizetype, PropertyBag::Value>> PropertyBag::take(const QString& name)
{
    const Entry* entry = next(name);
    if (!entry)
        return std::nullopt;
    const qsizetype index = entry - m_entries.constData();
    Value value = decoded(index);
    // Decode a stored picture once; its file bytes stay with the picture for writing back.
    if (entry->image) {
        Entry& cached = m_entries[index];
        cached.value = value;
        cached.image.reset();
    }
    return std::pair{index, std::move(value)};
}

PropertyBag::Value PropertyBag::read(const QString& name, const Value& defaultValue)
{
    std::optional<std::pair<qsizetype, Value>> taken = take(name);
    return taken ? std::move(taken->second) : defaultValue;
}

namespace {

template <class Int>
std::optional<Int> toInteger(const PropertyBag::Value& value, QString& why)
{
    qint64 number = 0;
    if (const auto* v16 = std::get_if<std::int16_t>(&value)) {
        number = *v16;
    } else if (const auto* v32 = std::get_if<std::int32_t>(&value)) {
        number = *v32;
    } else if (const auto* text = std::get_if<QString>(&value)) {
        bool ok = false;
        number = text->trimmed().toLongLong(&ok, 10);
        if (!ok) {
            why = QStringLiteral("the string %1 is not a number").arg(quoted(*text));
            return std::nullopt;
        }
    } else {
        why = QStringLiteral("holds a %1, not a number").arg(PropertyBag::kindName(value));
        return std::nullopt;
    }
    if (number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max()) {
        why = QStringLiteral("the value %1 does not fit a %2-bit integer").arg(number).arg(8 * sizeof(Int));
        return std::nullopt;
    }
    return static_cast<Int>(number);
}

template <class T>
std::optional<T> convert(const PropertyBag::Value& value, QString& why)
{
    if constexpr (std::is_integral_v<T>) {
        return toInteger<T>(value, why);
    } else if constexpr (std::is_same_v<T, QString>) {
        if (const auto* text = std::get_if<QString>(&value))
            return *text;
        if (const auto* v16 = std::get_if<std::int16_t>(&value))
            return QString::number(*v16);
        if (const auto* v32 = std::get_if<std::int32_t>(&value))
            return QString::number(*v32);
        why = QStringLiteral("holds a %1, not a string").arg(PropertyBag::kindName(value));
        return std::nullopt;
    } else {
        if (const auto* object = std::get_if<T>(&value))
            return *object;
        why = QStringLiteral("holds a %1, not a %2").arg(PropertyBag::kindName(value), PropertyBag::kindName(PropertyBag::Value(T())));
        return std::nullopt;
    }
}

} // namespace

template <class T>
T PropertyBag::readAs(const QString& name, const T& defaultValue)
{
    const std::optional<std::pair<qsizetype, Value>> taken = take(name);
    if (!taken)
        return defaultValue;
    QString why;
    std::optional<T> converted = convert<T>(taken->second, why);
    if (!converted)
        throw entryError(taken->first, why);
    return *std::move(converted);
}

std::int16_t PropertyBag::readInt16(const QString& name, std::int16_t defaultValue)
{
    return readAs<std::int16_t>(name, defaultValue);
}

std::int32_t PropertyBag::readInt32(const QString& name, std::int32_t defaultValue)
{
    return readAs<std::int32_t>(name, defaultValue);
}

QString PropertyBag::readString(const QString& name, const QString& defaultValue)
{
    return readAs<QString>(name, defaultValue);
}

StdPicture PropertyBag::readPicture(const QString& name, const StdPicture& defaultValue)
{
    return readAs<StdPicture>(name, defaultValue);
}

StdFont PropertyBag::readFont(const QString& name, const StdFont& defaultValue)
{
    return readAs<StdFont>(name, defaultValue);
}
