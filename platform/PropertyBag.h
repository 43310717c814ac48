#pragma once

#include "KalvoraError.h"
#include "StdFont.h"
#include "StdPicture.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <variant>

/// \brief Where and why a stored bag could not be read: its source, the entry (index, and name when it
/// was read) and the byte offset in the bag.
struct BagFault {
    QString source;
    /// Index of the entry, or -1 for the bag header.
    qsizetype entry = -1;
    QString name;
    qint64 offset = 0;
    QString what;

    QString message() const;
    KalvoraError error() const { return KalvoraError(message()); }
};

/// \brief The container's property bag: named values in the order they were written, with defaults,
/// names matched without regard to case and names that may repeat; and its stored binary form.
///
/// Reads follow the writes: the k-th read of a name returns the k-th entry of that name, and once those
/// are used up the last one again, so a single "Font" entry serves twelve reads. A name without entries
/// reads as the default.
///
/// A stored bag is checked as it is parsed. A fault in its structure (header, an entry's header or name,
/// the chain of offsets, a value that does not fill its entry) ends the parse: the entries before it stay
/// readable, and a read that would need an entry beyond them raises the fault, since the entry may have
/// been in the broken part. A value that is intact but unusable (unknown type or class, an image that
/// does not decode, an impossible font) raises when it is read, naming the entry and its offset.
class PropertyBag final {
public:
    using Value = std::variant<std::int16_t, std::int32_t, QString, StdPicture, StdFont>;

    /// An empty bag; `source` names it in messages.
    explicit PropertyBag(QString source = QStringLiteral("property bag"));

    /// Parses a stored bag. Never throws: a fault is kept in fault() and raised by the reads it affects.
    static PropertyBag parse(const QByteArray& bytes, const QString& source);
    /// Reads and parses a bag file, opened read-only; a file that cannot be read becomes the bag's fault.
    static PropertyBag load(const QString& path);

    /// The stored form. Throws KalvoraError for an entry whose value could not be read.
    QByteArray serialize() const;
    /// Writes the stored form to `path` through a temporary file, so a failed write leaves the old file.
    void save(const QString& path) const;

    /// Stores `value` under `name`, unless it equals `defaultValue`. Throws KalvoraError, storing nothing,
    /// for a value the stored form cannot hold (an empty or overlong name, an impossible font).
    void write(const QString& name, const Value& value, const Value& defaultValue);
    /// Stores `value` under `name` unconditionally.
    void write(const QString& name, const Value& value);

    /// The next value of `name` as stored, or `defaultValue` when the bag has no entry of that name.
    Value read(const QString& name, const Value& defaultValue);

    /// Typed reads: the next value of `name` converted, or the default when there is none. Integers convert
    /// between widths when in range, and from strings that hold a decimal integer; integers convert to
    /// their decimal text; pictures and fonts convert only from themselves. A value that does not convert
    /// raises KalvoraError naming the entry.
    std::int16_t readInt16(const QString& name, std::int16_t defaultValue);
    std::int32_t readInt32(const QString& name, std::int32_t defaultValue);
    QString readString(const QString& name, const QString& defaultValue);
    StdPicture readPicture(const QString& name, const StdPicture& defaultValue = StdPicture());
    StdFont readFont(const QString& name, const StdFont& defaultValue);

    /// Starts every name's reads again at its first entry.
    void rewind() { m_reads.clear(); }

    const QString& source() const { return m_source; }
    /// The structural fault that ended the parse, if any.
    const std::optional<BagFault>& fault() const { return m_fault; }
    bool isEmpty() const { return m_entries.isEmpty(); }
    qsizetype count() const { return m_entries.size(); }
    /// Name of entry i as written (as stored, for a parsed bag).
    const QString& nameAt(qsizetype i) const { return m_entries.at(i).name; }
    /// Byte offset of entry i in the bag it was parsed from, or -1 for an entry written in memory.
    qint64 offsetAt(qsizetype i) const { return m_entries.at(i).offset; }
    /// Value of entry i, decoded; throws KalvoraError as a read of it would.
    Value valueAt(qsizetype i) const;

    /// "16-bit integer", "string", ...: how messages name a value's kind.
    static QString kindName(const Value& value);

private:
    struct Entry {
        QString name;
        Value value;
        /// A stored picture whose image is decoded only when read.
        std::optional<QByteArray> image;
        /// Why the stored value cannot be used; raised when it is read.
        QString problem;
        qint64 offset = -1;
    };

    static QString keyOf(const QString& name) { return name.toCaseFolded(); }
    void append(Entry entry);
    /// The entry the next read of `name` returns, or null for the default; throws the bag's fault when the
    /// entry wanted may have been lost to it.
    const Entry* next(const QString& name);
    KalvoraError entryError(qsizetype index, const QString& what) const;
    Value decoded(qsizetype index) const;
    /// The next entry of `name` and its decoded value, or nothing for the default.
    std::optional<std::pair<qsizetype, Value>> take(const QString& name);
    template <class T>
    T readAs(const QString& name, const T& defaultValue);

    QString m_source;
    QList<Entry> m_entries;
    QHash<QString, QList<qsizetype>> m_byName;
    QHash<QString, qsizetype> m_reads;
    std::optional<BagFault> m_fault;

    class Parser;
};
