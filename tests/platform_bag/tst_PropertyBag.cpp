#include "BagExercise.h"
#include "BagBytes.h"
#include "BagFormat.h"
#include "FileKinds.h"
#include "PropertyBag.h"

#include <QBuffer>
#include <QDir>
#include <QDateTime>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

using Value = PropertyBag::Value;

// The classic 1 x 1 transparent GIF.
const QByteArray tinyGif = QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b");

StdFont font(const QString& name, std::int64_t size, std::int16_t weight = 400)
{
    StdFont f;
    f.name = name;
    f.size = size;
    f.weight = weight;
    return f;
}

StdPicture picture(const QByteArray& bytes)
{
    std::optional<StdPicture> p = StdPicture::decode(bytes);
    if (!p)
        qFatal("test picture does not decode");
    return *p;
}

QByteArray pngBytes()
{
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Raw building blocks, so a test can make one precise fault in an otherwise sound bag.
using namespace BagBytes;
QByteArray str(const QString& s)
{
    return le32(static_cast<std::uint32_t>(s.size())) + utf16(s);
}
QByteArray classId(const BagFormat::ClassId& id)
{
    return QByteArray(reinterpret_cast<const char*>(id.data()), id.size());
}
QByteArray pictureValue(const QByteArray& image, const QByteArray& tag = QByteArray("lt\0\0", 4))
{
    return classId(BagFormat::pictureClassId) + tag + le32(static_cast<std::uint32_t>(image.size())) + image;
}
QByteArray fontValue(std::uint8_t version, std::uint8_t flags, std::int16_t weight, std::uint32_t size, const QByteArray& name)
{
    return classId(BagFormat::fontClassId) + char(version) + le16(0) + char(flags) + le16(static_cast<std::uint16_t>(weight))
        + le32(size) + char(name.size()) + name;
}

struct Raw {
    std::uint16_t type;
    QString name;
    QByteArray value;
};

/// A well-formed bag of raw entries; `starts` receives each entry's byte offset.
QByteArray rawBag(const QList<Raw>& entries, QList<qint64>* starts = nullptr)
{
    QByteArray out = le32(BagFormat::headerValue) + le32(0);
    QList<qint64> at;
    for (const Raw& e : entries) {
        at.append(out.size());
        out += le16(e.type) + le16(static_cast<std::uint16_t>(e.name.size())) + le32(BagFormat::nameHash(e.name.toLower())) + le32(0)
            + utf16(e.name) + e.value;
        out.append((4 - out.size() % 4) % 4, '\0');
    }
    for (qsizetype i = 0; i < at.size(); ++i) {
        const qint64 next = i + 1 < at.size() ? at[i + 1] : BagFormat::headerSize;
        qToLittleEndian<std::int32_t>(static_cast<std::int32_t>(next - at[i]), out.data() + at[i] + 8);
    }
    qToLittleEndian<std::uint32_t>(static_cast<std::uint32_t>(out.size()), out.data() + 4);
    if (starts)
        *starts = at;
    return out;
}

QByteArray patched32(QByteArray bytes, qint64 at, std::uint32_t v)
{
    qToLittleEndian(v, bytes.data() + at);
    return bytes;
}
QByteArray patched16(QByteArray bytes, qint64 at, std::uint16_t v)
{
    qToLittleEndian(v, bytes.data() + at);
    return bytes;
}

enum class ReadAs { Value, Int16, Int32, String, Picture, Font };

/// One read of the given kind; returns the value read as a Value.
Value readAs(PropertyBag& bag, const QString& name, ReadAs kind)
{
    switch (kind) {
    case ReadAs::Value:
        return bag.read(name, std::int16_t(0));
    case ReadAs::Int16:
        return bag.readInt16(name, 0);
    case ReadAs::Int32:
        return bag.readInt32(name, 0);
    case ReadAs::String:
        return bag.readString(name, {});
    case ReadAs::Picture:
        return bag.readPicture(name);
    case ReadAs::Font:
        return bag.readFont(name, StdFont());
    }
    return {};
}

QString readFailure(PropertyBag& bag, const QString& name, ReadAs kind)
{
    try {
        readAs(bag, name, kind);
    } catch (const KalvoraError& error) {
        return error.message();
    }
    return {};
}

} // namespace

Q_DECLARE_METATYPE(Value)
Q_DECLARE_METATYPE(ReadAs)

class TestPropertyBag final : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void allKindsTogetherKeepBytesAndOrder();
    void storedFormByteForByte();
    void defaultsWriteNothing_data();
    void defaultsWriteNothing();
    void repeatedNamesReadInTurnThenLastAgain();
    void namesMatchWithoutRegardToCase();
    void emptyBag();
    void conversions_data();
    void conversions();
    void malformed_data();
    void malformed();
    void unusableValues_data();
    void unusableValues();
    void damagedBagRaisesForWhatItMayHaveLost();
    void unusableValueLeavesLaterEntries();
    void loadReportsTheFileAndNeverWritesIt();
    void writeRefusesWhatCannotBeStored_data();
    void writeRefusesWhatCannotBeStored();
    void crashers();
};

void TestPropertyBag::roundTrip_data()
{
    QTest::addColumn<Value>("value");
    QTest::addColumn<Value>("defaultValue");
    QTest::newRow("int16 min") << Value(std::int16_t(-32768)) << Value(std::int16_t(0));
    QTest::newRow("int16 max") << Value(std::int16_t(32767)) << Value(std::int16_t(0));
    QTest::newRow("int32 min") << Value(std::int32_t(INT32_MIN)) << Value(std::int32_t(0));
    QTest::newRow("int32 extent") << Value(std::int32_t(26961)) << Value(std::int32_t(0));
    QTest::newRow("empty string, other default") << Value(QString()) << Value(QStringLiteral("Text"));
    QTest::newRow("string, odd length") << Value(QStringLiteral("Formular-Namen!")) << Value(QString());
    QTest::newRow("string, beyond Latin-1") << Value(QStringLiteral("Wärme \u2103 \U0001F525")) << Value(QString());
    QTest::newRow("picture GIF") << Value(picture(tinyGif)) << Value(StdPicture());
    QTest::newRow("picture PNG") << Value(picture(pngBytes())) << Value(StdPicture());
    QTest::newRow("null picture, other default") << Value(StdPicture()) << Value(picture(tinyGif));
    QTest::newRow("font bold") << Value(font(QStringLiteral("Tahoma"), 82500, 700)) << Value(StdFont());
    StdFont styled = font(QStringLiteral("Arial Ünicode"), 1, 1000);
    styled.italic = styled.strikeout = true;
    styled.charset = 238;
    QTest::newRow("font italic strikeout charset") << Value(styled) << Value(StdFont());
    StdFont underlined = font(QStringLiteral("X"), BagFormat::maxFontSize, 0);
    underlined.underline = true;
    QTest::newRow("font underline, largest") << Value(underlined) << Value(StdFont());
}

void TestPropertyBag::roundTrip()
{
    QFETCH(Value, value);
    QFETCH(Value, defaultValue);
    PropertyBag bag;
    bag.write(QStringLiteral("Value"), value, defaultValue);
    QCOMPARE(bag.count(), 1);
    const QByteArray bytes = bag.serialize();
    PropertyBag back = PropertyBag::parse(bytes, QStringLiteral("t.bag"));
    QVERIFY(!back.fault());
    QCOMPARE(back.nameAt(0), QStringLiteral("value"));
    QVERIFY(back.read(QStringLiteral("Value"), defaultValue) == value);
    QCOMPARE(back.serialize(), bytes);
}

void TestPropertyBag::allKindsTogetherKeepBytesAndOrder()
{
    const QList<std::pair<QString, Value>> written = {
        {QStringLiteral("_extentx"), std::int32_t(26961)}, {QStringLiteral("Picture1"), picture(tinyGif)},
        {QStringLiteral("Font"), font(QStringLiteral("Tahoma"), 82500, 700)}, {QStringLiteral("FONT"), font(QStringLiteral("Arial"), 90000)},
        {QStringLiteral("IndexGroup"), QStringLiteral("Formular-Namen")}, {QStringLiteral("Text1"), QStringLiteral("1")},
        {QStringLiteral("BorderStyle"), std::int16_t(1)},
    };
    PropertyBag bag;
    for (const auto& [name, value] : written)
        bag.write(name, value);
    const QByteArray bytes = bag.serialize();
    PropertyBag back = PropertyBag::parse(bytes, QStringLiteral("t.bag"));
    QVERIFY(!back.fault());
    QCOMPARE(back.count(), written.size());
    for (qsizetype i = 0; i < written.size(); ++i) {
        QCOMPARE(back.nameAt(i), written[i].first.toLower());
        QVERIFY(back.valueAt(i) == written[i].second);
    }
    QCOMPARE(back.serialize(), bytes);
    // The file bytes of a picture come back exactly, not re-encoded.
    QCOMPARE(back.readPicture(QStringLiteral("picture1")).data(), tinyGif);
}

void TestPropertyBag::storedFormByteForByte()
{
    PropertyBag bag;
    bag.write(QStringLiteral("BorderStyle"), std::int16_t(1));
    // Single entry: its offset leads back to itself, the first entry.
    const QByteArray single = QByteArray::fromHex("93b20000" "2c000000" "0200" "0b00" "96cee41f" "00000000")
        + utf16(QStringLiteral("borderstyle")) + QByteArray::fromHex("0100");
    QCOMPARE(bag.serialize().toHex(), single.toHex());

    bag.write(QStringLiteral("Font"), font(QStringLiteral("Tahoma"), 82500, 700));
    // Two entries: the first points 36 bytes on, the last 36 bytes back to the first.
    const QByteArray two = QByteArray::fromHex("93b20000" "64000000" "0200" "0b00" "96cee41f" "24000000") + utf16(QStringLiteral("borderstyle"))
        + QByteArray::fromHex("0100") + QByteArray::fromHex("0d00" "0400" "6ee33dd7" "dcffffff") + utf16(QStringLiteral("font"))
        + QByteArray::fromHex("0352e30b918fce119de300aa004bb851" "01" "0000" "00" "bc02" "44420100" "06") + QByteArray("Tahoma")
        + QByteArray(3, '\0');
    QCOMPARE(bag.serialize().toHex(), two.toHex());
}

void TestPropertyBag::defaultsWriteNothing_data()
{
    QTest::addColumn<Value>("value");
    QTest::newRow("no picture") << Value(StdPicture());
    QTest::newRow("ambient font") << Value(font(QStringLiteral("MS Sans Serif"), 82500));
    QTest::newRow("empty group") << Value(QString());
    QTest::newRow("border style 0") << Value(std::int16_t(0));
    QTest::newRow("same picture") << Value(picture(tinyGif));
}

void TestPropertyBag::defaultsWriteNothing()
{
    QFETCH(Value, value);
    PropertyBag bag;
    bag.write(QStringLiteral("Picture3"), value, value);
    QCOMPARE(bag.count(), 0);
    QCOMPARE(bag.serialize().toHex(), QByteArrayLiteral("93b2000008000000"));
    // A 16-bit 0 is not the 32-bit 0: kinds differ, so it is stored.
    bag.write(QStringLiteral("BorderStyle"), std::int32_t(0), std::int16_t(0));
    QCOMPARE(bag.count(), 1);
}

void TestPropertyBag::repeatedNamesReadInTurnThenLastAgain()
{
    PropertyBag bag;
    for (int i = 1; i <= 3; ++i) {
        bag.write(QStringLiteral("Font"), font(QStringLiteral("F%1").arg(i), 10000 * i));
        bag.write(QStringLiteral("Other"), std::int16_t(i));
    }
    PropertyBag back = PropertyBag::parse(bag.serialize(), QStringLiteral("t.bag"));
    QStringList names;
    for (int i = 0; i < 5; ++i)
        names << back.readFont(QStringLiteral("Font"), StdFont()).name;
    QCOMPARE(names, QStringList({QStringLiteral("F1"), QStringLiteral("F2"), QStringLiteral("F3"), QStringLiteral("F3"), QStringLiteral("F3")}));
    QCOMPARE(back.readInt16(QStringLiteral("Other"), 0), 1); // each name keeps its own turn
    back.rewind();
    QCOMPARE(back.readFont(QStringLiteral("font"), StdFont()).name, QStringLiteral("F1"));

    // One stored "Font" serves all twelve labels.
    PropertyBag one;
    one.write(QStringLiteral("font"), font(QStringLiteral("Tahoma"), 82500, 700));
    for (int i = 0; i < 12; ++i)
        QCOMPARE(one.readFont(QStringLiteral("Font"), StdFont()), font(QStringLiteral("Tahoma"), 82500, 700));
}

void TestPropertyBag::namesMatchWithoutRegardToCase()
{
    PropertyBag bag;
    bag.write(QStringLiteral("picture1"), picture(tinyGif));
    bag.write(QStringLiteral("INDEXGROUP"), QStringLiteral("Formular-Namen"));
    bag.write(QStringLiteral("Text12"), QStringLiteral("12"));
    PropertyBag back = PropertyBag::parse(bag.serialize(), QStringLiteral("t.bag"));
    QVERIFY(!back.readPicture(QStringLiteral("Picture1")).isNull());
    QCOMPARE(back.readString(QStringLiteral("IndexGroup"), {}), QStringLiteral("Formular-Namen"));
    QCOMPARE(back.readString(QStringLiteral("tEXT12"), {}), QStringLiteral("12"));
    QCOMPARE(back.readString(QStringLiteral("Text1"), QStringLiteral("Text")), QStringLiteral("Text")); // a prefix is no match

    // Names stored in another case (another writer) still read.
    PropertyBag upper = PropertyBag::parse(rawBag({{BagFormat::TypeInt16, QStringLiteral("BorderStyle"), le16(1)}}), QStringLiteral("u.bag"));
    QVERIFY(!upper.fault());
    QCOMPARE(upper.readInt16(QStringLiteral("borderstyle"), 0), 1);
}

void TestPropertyBag::emptyBag()
{
    PropertyBag bag = PropertyBag::parse(QByteArray::fromHex("93b2000008000000"), QStringLiteral("e.bag"));
    QVERIFY(!bag.fault());
    QVERIFY(bag.isEmpty());
    QVERIFY(bag.readPicture(QStringLiteral("Picture1")).isNull());
    QCOMPARE(bag.readFont(QStringLiteral("Font"), font(QStringLiteral("Ambient"), 90000)).name, QStringLiteral("Ambient"));
    QCOMPARE(bag.readString(QStringLiteral("IndexGroup"), {}), QString());
    QCOMPARE(bag.readString(QStringLiteral("Text1"), QStringLiteral("Text")), QStringLiteral("Text"));
    QCOMPARE(bag.readInt16(QStringLiteral("BorderStyle"), 0), 0);
}

void TestPropertyBag::conversions_data()
{
    QTest::addColumn<Value>("stored");
    QTest::addColumn<ReadAs>("as");
    QTest::addColumn<Value>("expected");
    QTest::addColumn<QString>("failure");
    const Value none = std::int16_t(0);
    QTest::newRow("int32 to int16") << Value(std::int32_t(-5)) << ReadAs::Int16 << Value(std::int16_t(-5)) << QString();
    QTest::newRow("int16 to int32") << Value(std::int16_t(-3)) << ReadAs::Int32 << Value(std::int32_t(-3)) << QString();
    QTest::newRow("number text to int16") << Value(QStringLiteral(" 12 ")) << ReadAs::Int16 << Value(std::int16_t(12)) << QString();
    QTest::newRow("int to text") << Value(std::int16_t(7)) << ReadAs::String << Value(QStringLiteral("7")) << QString();
    QTest::newRow("int32 too big for int16") << Value(std::int32_t(70000)) << ReadAs::Int16 << none << QStringLiteral("70000 does not fit a 16-bit");
    QTest::newRow("text too big for int32") << Value(QStringLiteral("9999999999")) << ReadAs::Int32 << none << QStringLiteral("does not fit a 32-bit");
    QTest::newRow("text not a number") << Value(QStringLiteral("single")) << ReadAs::Int16 << none << QStringLiteral("\"single\" is not a number");
    QTest::newRow("string read as picture") << Value(QStringLiteral("pic.gif")) << ReadAs::Picture << none << QStringLiteral("holds a string, not a picture");
    QTest::newRow("picture read as font") << Value(picture(tinyGif)) << ReadAs::Font << none << QStringLiteral("holds a picture, not a font");
    QTest::newRow("font read as string") << Value(font(QStringLiteral("Tahoma"), 82500)) << ReadAs::String << none << QStringLiteral("holds a font, not a string");
    QTest::newRow("font read as int16") << Value(font(QStringLiteral("Tahoma"), 82500)) << ReadAs::Int16 << none << QStringLiteral("holds a font, not a number");
}

void TestPropertyBag::conversions()
{
    QFETCH(Value, stored);
    QFETCH(ReadAs, as);
    QFETCH(Value, expected);
    QFETCH(QString, failure);
    PropertyBag written;
    written.write(QStringLiteral("first"), std::int16_t(1));
    written.write(QStringLiteral("v"), stored);
    const QByteArray bytes = written.serialize();
    PropertyBag bag = PropertyBag::parse(bytes, QStringLiteral("c.bag"));
    if (failure.isEmpty()) {
        QVERIFY(readAs(bag, QStringLiteral("V"), as) == expected);
        return;
    }
    const QString message = readFailure(bag, QStringLiteral("V"), as);
    QVERIFY2(message.startsWith(QStringLiteral("c.bag: entry 1 \"v\" at byte 32: ")), qPrintable(message));
    QVERIFY2(message.contains(failure), qPrintable(message));
}

void TestPropertyBag::malformed_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("entry");    // of the fault, -1 for the header
    QTest::addColumn<qint64>("offset"); // of the fault
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("readable"); // entries kept before the fault

    QList<qint64> s;
    const QByteArray base = rawBag({{BagFormat::TypeInt16, QStringLiteral("alpha"), le16(7)},
                                    {BagFormat::TypeString, QStringLiteral("beta"), str(QStringLiteral("hello"))},
                                    {BagFormat::TypeInt32, QStringLiteral("gamma"), le32(9)},
                                    {BagFormat::TypeObject, QStringLiteral("delta"), fontValue(1, 0, 700, 82500, "Tahoma")},
                                    {BagFormat::TypeObject, QStringLiteral("pic"), pictureValue(tinyGif)}},
                                   &s);
    const qint64 size = base.size();
    const auto offsetField = [&s](int i) { return s[i] + 8; };
    const auto valueStart = [&s](int i, int nameLength) { return s[i] + 12 + 2 * nameLength; };

    QTest::newRow("no bytes") << QByteArray() << -1 << qint64(0) << QStringLiteral("shorter than its 8-byte header") << 0;
    QTest::newRow("cut in the header") << base.left(6) << -1 << qint64(0) << QStringLiteral("shorter than its 8-byte header") << 0;
    QTest::newRow("header value") << patched32(base, 0, 45716) << -1 << qint64(0) << QStringLiteral("header value 45716") << 0;
    QTest::newRow("total below header") << patched32(base, 4, 4) << -1 << qint64(4) << QStringLiteral("shorter than the header") << 0;
    QTest::newRow("cut inside entry 2") << base.left(s[2] + 5) << 2 << s[2] << QStringLiteral("truncated") << 2;
    QTest::newRow("cut by one byte") << base.chopped(1) << 4 << s[4] << QStringLiteral("truncated") << 4;
    QTest::newRow("total beyond the data") << patched32(base, 4, size + 64) << 4 << s[4] << QStringLiteral("truncated") << 4;
    QTest::newRow("bytes after the end") << base + "junk" << 5 << size << QStringLiteral("4 bytes follow the end") << 5;
    QTest::newRow("offset outside the bag") << patched32(base, offsetField(0), 0x7FFF0000) << 0 << s[0] << QStringLiteral("outside the bag") << 0;
    QTest::newRow("offset to the very end") << patched32(base, offsetField(2), size - s[2]) << 2 << s[2] << QStringLiteral("outside the bag") << 2;
    QTest::newRow("offset back into a cycle") << patched32(base, offsetField(2), static_cast<std::uint32_t>(s[1] - s[2])) << 2 << s[2]
                                              << QStringLiteral("leads back to byte %1, not to the first entry").arg(s[1]) << 2;
    QTest::newRow("offset to itself") << patched32(base, offsetField(1), 0) << 1 << s[1] << QStringLiteral("offset 0 leads back") << 1;
    QTest::newRow("last offset not to the first") << patched32(base, offsetField(4), static_cast<std::uint32_t>(-4)) << 4 << s[4]
                                                  << QStringLiteral("not to the first entry") << 4;
    QTest::newRow("offset off the 4-byte grid") << patched32(base, offsetField(0), 26) << 0 << s[0] << QStringLiteral("4-byte boundary") << 0;
    QTest::newRow("zero-length entry") << patched32(base, offsetField(0), 4) << 0 << s[0]
                                       << QStringLiteral("shorter than the entry's own header and name") << 0;
    QTest::newRow("offset skips an entry") << patched32(base, offsetField(0), static_cast<std::uint32_t>(s[2] - s[0])) << 0 << s[0]
                                           << QStringLiteral("the value ends at byte %1 but the entry runs to byte %2").arg(s[0] + 24).arg(s[2])
                                           << 0;
    QTest::newRow("value shorter than its entry") << patched16(base, s[2], BagFormat::TypeInt16) << 2 << s[2] << QStringLiteral("the value ends at")
                                                  << 2;
    QTest::newRow("no name") << patched16(base, s[1] + 2, 0) << 1 << s[1] << QStringLiteral("has no name") << 1;
    QTest::newRow("name longer than the bag") << patched16(base, s[1] + 2, 0xFFFF) << 1 << s[1]
                                              << QStringLiteral("name of 65535 characters does not fit") << 1;
    QByteArray damaged = base;
    damaged[s[1] + 12] = 'x';
    QTest::newRow("damaged name") << damaged << 1 << s[1] << QStringLiteral("name hash") << 1;
    QTest::newRow("huge string count") << patched32(base, valueStart(1, 4), 0xFFFFFFFF) << 1 << s[1] << QStringLiteral("runs past the end of its entry")
                                       << 1;
    QTest::newRow("negative string count") << patched32(base, valueStart(1, 4), 0x80000000) << 1 << s[1]
                                           << QStringLiteral("runs past the end of its entry") << 1;
    QTest::newRow("string count two too many") << patched32(base, valueStart(1, 4), 7) << 1 << s[1] << QStringLiteral("runs past the end") << 1;
    QTest::newRow("huge picture length") << patched32(base, valueStart(4, 3) + 20, 0xFFFFFFF0) << 4 << s[4] << QStringLiteral("runs past the end") << 4;
    QTest::newRow("font name length past its entry") << patched16(base, valueStart(3, 5) + 16 + 10, 0x00FF) << 3 << s[3]
                                                     << QStringLiteral("runs past the end") << 3;
}

void TestPropertyBag::malformed()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, entry);
    QFETCH(qint64, offset);
    QFETCH(QString, what);
    QFETCH(int, readable);

    PropertyBag bag = PropertyBag::parse(bytes, QStringLiteral("broken.bag"));
    QVERIFY(bag.fault());
    const BagFault fault = *bag.fault();
    QVERIFY2(fault.what.contains(what), qPrintable(fault.message()));
    QCOMPARE(fault.entry, entry);
    QCOMPARE(fault.offset, offset);
    const QString where = entry < 0 ? QStringLiteral("bag header") : QStringLiteral("entry %1").arg(entry);
    QVERIFY2(fault.message().startsWith(QStringLiteral("broken.bag: %1").arg(where)), qPrintable(fault.message()));
    QVERIFY(fault.message().contains(QStringLiteral("at byte %1").arg(offset)));
    QCOMPARE(bag.count(), readable);

    // What came before the fault reads; what is not there raises the fault instead of a silent default.
    if (readable > 0)
        QCOMPARE(bag.readInt16(QStringLiteral("Alpha"), 0), 7);
    QCOMPARE(readFailure(bag, QStringLiteral("Picture1"), ReadAs::Picture), fault.message());
}

void TestPropertyBag::unusableValues_data()
{
    QTest::addColumn<std::uint16_t>("type");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<ReadAs>("as");
    QTest::addColumn<QString>("failure");

    QByteArray hugeGif = tinyGif;
    hugeGif[6] = hugeGif[7] = hugeGif[8] = hugeGif[9] = char(0xEA); // logical screen 60138 x 60138
    // A sound PNG header claiming 9000 x 9000 pixels over two bytes of data.
    const QByteArray hugePng = QByteArray::fromHex("89504e470d0a1a0a0000000d494844520000232800002328080000000048be2d660000000a49444154789c"
                                                   "636000000002000148afa4710000000049454e44ae426082");
    QTest::newRow("unknown value type") << std::uint16_t(7) << le32(1) << ReadAs::Value << QStringLiteral("unknown value type 7");
    QTest::newRow("unknown class")
        << std::uint16_t(BagFormat::TypeObject) << QByteArray(16, '\x11') + le32(0) << ReadAs::Picture << QStringLiteral("object of unknown class 1111");
    QTest::newRow("picture without its tag") << std::uint16_t(BagFormat::TypeObject) << pictureValue(tinyGif, "BM\0\0") << ReadAs::Picture
                                             << QStringLiteral("\"lt\" tag");
    QTest::newRow("picture not an image") << std::uint16_t(BagFormat::TypeObject) << pictureValue("hello world") << ReadAs::Picture
                                          << QStringLiteral("not a GIF, JPEG, PNG or BMP");
    QTest::newRow("GIF that does not decode") << std::uint16_t(BagFormat::TypeObject) << pictureValue(tinyGif.left(20)) << ReadAs::Picture
                                              << QStringLiteral("does not decode");
    QTest::newRow("GIF claiming a huge image") << std::uint16_t(BagFormat::TypeObject) << pictureValue(hugeGif) << ReadAs::Value
                                               << QStringLiteral("does not decode");
    QTest::newRow("PNG claiming a huge image") << std::uint16_t(BagFormat::TypeObject) << pictureValue(hugePng) << ReadAs::Picture
                                               << QStringLiteral("claims 9000 x 9000 pixels");
    QTest::newRow("font size 0") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0, 400, 0, "Tahoma") << ReadAs::Font
                                 << QStringLiteral("font size 0");
    QTest::newRow("font size 429496 pt") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0, 400, 0xFFFFFFFF, "Tahoma") << ReadAs::Font
                                         << QStringLiteral("font size 4294967295");
    QTest::newRow("font weight negative") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0, -5, 82500, "Tahoma") << ReadAs::Font
                                          << QStringLiteral("font weight -5");
    QTest::newRow("font version") << std::uint16_t(BagFormat::TypeObject) << fontValue(2, 0, 400, 82500, "Tahoma") << ReadAs::Font
                                  << QStringLiteral("version 2");
    QTest::newRow("font flags") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0x10, 400, 82500, "Tahoma") << ReadAs::Font
                                << QStringLiteral("unknown bits");
    QTest::newRow("font name unprintable") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0, 400, 82500, "Tah\noma") << ReadAs::Font
                                           << QStringLiteral("U+000a");
    QTest::newRow("font without a name") << std::uint16_t(BagFormat::TypeObject) << fontValue(1, 0, 400, 82500, "") << ReadAs::Font
                                         << QStringLiteral("no face name");
}

void TestPropertyBag::unusableValues()
{
    QFETCH(std::uint16_t, type);
    QFETCH(QByteArray, value);
    QFETCH(ReadAs, as);
    QFETCH(QString, failure);
    PropertyBag bag = PropertyBag::parse(rawBag({{type, QStringLiteral("v"), value}}), QStringLiteral("v.bag"));
    QVERIFY2(!bag.fault(), qPrintable(bag.fault() ? bag.fault()->message() : QString()));
    QCOMPARE(bag.count(), 1);
    const QString message = readFailure(bag, QStringLiteral("V"), as);
    QVERIFY2(message.startsWith(QStringLiteral("v.bag: entry 0 \"v\" at byte 8: ")), qPrintable(message));
    QVERIFY2(message.contains(failure), qPrintable(message));
    // An unusable value is never written back as something else: either refused, or (a picture's file)
    // written back byte for byte.
    try {
        QCOMPARE(bag.serialize(), rawBag({{type, QStringLiteral("v"), value}}));
    } catch (const KalvoraError&) {
    }
}

void TestPropertyBag::damagedBagRaisesForWhatItMayHaveLost()
{
    PropertyBag written;
    written.write(QStringLiteral("_extentx"), std::int32_t(26961));
    for (int i = 1; i <= 5; ++i)
        written.write(QStringLiteral("Font"), font(QStringLiteral("F%1").arg(i), 82500));
    written.write(QStringLiteral("BorderStyle"), std::int16_t(1));
    QByteArray bytes = written.serialize();
    // Break the fourth font's offset: three fonts survive.
    PropertyBag clean = PropertyBag::parse(bytes, QStringLiteral("d.bag"));
    const qint64 fourth = clean.offsetAt(4);
    bytes = patched32(bytes, fourth + 8, 0x40000000);
    PropertyBag bag = PropertyBag::parse(bytes, QStringLiteral("d.bag"));
    QVERIFY(bag.fault());
    QCOMPARE(bag.count(), 4);
    const QString fault = bag.fault()->message();
    QCOMPARE(bag.readInt32(QStringLiteral("_EXTENTX"), 0), 26961);
    for (int i = 1; i <= 3; ++i)
        QCOMPARE(bag.readFont(QStringLiteral("Font"), StdFont()).name, QStringLiteral("F%1").arg(i));
    QCOMPARE(readFailure(bag, QStringLiteral("Font"), ReadAs::Font), fault);      // the fourth may have differed
    QCOMPARE(readFailure(bag, QStringLiteral("BorderStyle"), ReadAs::Int16), fault); // lost after the fault
    QCOMPARE(readFailure(bag, QStringLiteral("Picture1"), ReadAs::Picture), fault);  // may have been there
}

void TestPropertyBag::unusableValueLeavesLaterEntries()
{
    const QByteArray bytes = rawBag({{BagFormat::TypeObject, QStringLiteral("picture1"), pictureValue("not an image")},
                                     {BagFormat::TypeInt16, QStringLiteral("borderstyle"), le16(1)}});
    PropertyBag bag = PropertyBag::parse(bytes, QStringLiteral("p.bag"));
    QVERIFY(!bag.fault());
    QVERIFY(!readFailure(bag, QStringLiteral("Picture1"), ReadAs::Picture).isEmpty());
    QCOMPARE(bag.readInt16(QStringLiteral("BorderStyle"), 0), 1);
    QVERIFY(bag.readPicture(QStringLiteral("Picture2")).isNull());
}

void TestPropertyBag::loadReportsTheFileAndNeverWritesIt()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing.bag"));
    PropertyBag none = PropertyBag::load(missing);
    QVERIFY(none.fault());
    QVERIFY(readFailure(none, QStringLiteral("Font"), ReadAs::Font).startsWith(missing + QStringLiteral(": bag header")));
    QVERIFY(!QFileInfo::exists(missing));

    const QString broken = dir.filePath(QStringLiteral("broken.bag"));
    const QByteArray bytes = rawBag({{BagFormat::TypeInt16, QStringLiteral("a"), le16(1)}}).chopped(2);
    {
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QFile::setPermissions(broken, QFile::ReadOwner);
    const QDateTime before = QFileInfo(broken).lastModified();
    PropertyBag bag = PropertyBag::load(broken);
    QVERIFY(bag.fault());
    QVERIFY(bag.fault()->message().startsWith(broken + QStringLiteral(": entry 0")));
    readFailure(bag, QStringLiteral("a"), ReadAs::Int16);
    QFile file(broken);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), bytes);
    QCOMPARE(QFileInfo(broken).lastModified(), before);

    const QString huge = dir.filePath(QStringLiteral("huge.bag"));
    QFile big(huge);
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(BagFormat::maxBagBytes + 1)); // sparse: refused by its size, not read
    big.close();
    PropertyBag tooBig = PropertyBag::load(huge);
    QVERIFY(tooBig.fault());
    QVERIFY(tooBig.fault()->what.contains(QStringLiteral("more than")));

    // Opened, a FIFO would hold the bar's load until something wrote to it.
    const QString pipe = dir.filePath(QStringLiteral("pipe.bag"));
    QVERIFY(replaceWithKind(pipe, QStringLiteral("fifo")));
    const ReadWatchdog watchdog(pipe);
    PropertyBag fromPipe = PropertyBag::load(pipe);
    QVERIFY(fromPipe.fault());
    QVERIFY2(fromPipe.fault()->what.contains(QStringLiteral("not a regular file but a FIFO")), qPrintable(fromPipe.fault()->what));
}

void TestPropertyBag::writeRefusesWhatCannotBeStored_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Value>("value");
    QTest::addColumn<QString>("why");
    QTest::newRow("no name") << QString() << Value(std::int16_t(1)) << QStringLiteral("needs a name");
    QTest::newRow("name too long") << QString(70000, QLatin1Char('n')) << Value(std::int16_t(1)) << QStringLiteral("65535");
    QTest::newRow("font size 0") << QStringLiteral("Font") << Value(font(QStringLiteral("Tahoma"), 0)) << QStringLiteral("font size 0");
    QTest::newRow("font beyond 1000 pt") << QStringLiteral("Font") << Value(font(QStringLiteral("Tahoma"), BagFormat::maxFontSize + 1))
                                         << QStringLiteral("font size");
    QTest::newRow("font weight") << QStringLiteral("Font") << Value(font(QStringLiteral("Tahoma"), 82500, 2000)) << QStringLiteral("weight 2000");
    QTest::newRow("font name not single-byte") << QStringLiteral("Font") << Value(font(QStringLiteral("\u6771\u4eac"), 82500))
                                               << QStringLiteral("U+6771");
    QTest::newRow("font name over 255") << QStringLiteral("Font") << Value(font(QString(256, QLatin1Char('T')), 82500))
                                        << QStringLiteral("more than 255");
}

void TestPropertyBag::writeRefusesWhatCannotBeStored()
{
    QFETCH(QString, name);
    QFETCH(Value, value);
    QFETCH(QString, why);
    PropertyBag bag(QStringLiteral("w.bag"));
    try {
        bag.write(name, value, std::int32_t(0));
        QFAIL("write stored what it cannot store");
    } catch (const KalvoraError& error) {
        QVERIFY2(error.message().startsWith(QStringLiteral("w.bag: cannot write")), qPrintable(error.message()));
        QVERIFY2(error.message().contains(why), qPrintable(error.message()));
    }
    QCOMPARE(bag.count(), 0);
}

void TestPropertyBag::crashers()
{
    // Inputs the fuzzer once broke the reader with, and its seeds: each must read or fail cleanly.
    int inputs = 0;
    for (const QString& folder : {QStringLiteral("/tests/platform_bag/crashers"), QStringLiteral("/fuzz/seeds")}) {
        const QDir dir(QStringLiteral(KALVORA_SOURCE_DIR) + folder);
        for (const QString& name : dir.entryList(QDir::Files)) {
            if (name.startsWith(QLatin1String("README")))
                continue;
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            BagExercise::run(file.readAll());
            ++inputs;
        }
    }
    QVERIFY(inputs > 0);
}

QTEST_MAIN(TestPropertyBag)
#include "tst_PropertyBag.moc"
