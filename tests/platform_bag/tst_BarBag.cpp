#include "BagBytes.h"
#include "BagFormat.h"
#include "BarBag.h"
#include "GifWriter.h"
#include "PropertyBag.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

namespace {

const QString sourceDir = QStringLiteral(KALVORA_SOURCE_DIR);
const QString storedBag = sourceDir + QStringLiteral("/layouts/QMButton.bag");
const QString buttonsDir = sourceDir + QStringLiteral("/layouts/buttons");

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(path));
    return file.readAll();
}

using namespace BagBytes;

QImage decodeGif(const QByteArray& gif)
{
    QBuffer buffer;
    buffer.setData(gif);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    return reader.read();
}

} // namespace

class TestBarBag final : public QObject {
    Q_OBJECT

private slots:
    void storedEntries_data();
    void storedEntries();
    void storedHeaderAndChain();
    void regeneratingGivesTheCommittedBytes();
    void loadsAsTheBarReadsIt();
    void gifWriterRoundTrip_data();
    void gifWriterRoundTrip();

private:
    /// The 46 entries of the stored bag, in order: name, value type and the value's exact bytes.
    struct Expected {
        QString name;
        std::uint16_t type;
        QByteArray value;
    };
    static QList<Expected> expectedEntries();
};

QList<TestBarBag::Expected> TestBarBag::expectedEntries()
{
    const QByteArray pictureId = QByteArray::fromHex("0452e30b918fce119de300aa004bb851");
    const QByteArray tahomaBold = QByteArray::fromHex("0352e30b918fce119de300aa004bb851" "01" "0000" "00" "bc02" "44420100" "06") + "Tahoma";
    QList<Expected> entries;
    entries.append({QStringLiteral("_extentx"), BagFormat::TypeInt32, le32(26961)});
    entries.append({QStringLiteral("_extenty"), BagFormat::TypeInt32, le32(2302)});
    for (const BarBag::ButtonImage& image : BarBag::images) {
        const QByteArray gif = fileBytes(buttonsDir + QLatin1Char('/') + QString::fromLatin1(image.file));
        entries.append({QStringLiteral("picture%1").arg(image.button), BagFormat::TypeObject,
                        pictureId + QByteArray("lt\0\0", 4) + le32(static_cast<std::uint32_t>(gif.size())) + gif});
    }
    for (int i = 0; i < 12; ++i)
        entries.append({QStringLiteral("font"), BagFormat::TypeObject, tahomaBold});
    for (int i = 0; i < 12; ++i)
        entries.append({QStringLiteral("indexgroup"), BagFormat::TypeString, le32(14) + utf16(QStringLiteral("Formular-Namen"))});
    for (int n = 1; n <= 12; ++n) {
        const QString caption = QString::number(n);
        entries.append({QStringLiteral("text%1").arg(n), BagFormat::TypeString, le32(static_cast<std::uint32_t>(caption.size())) + utf16(caption)});
    }
    entries.append({QStringLiteral("borderstyle"), BagFormat::TypeInt16, le16(1)});
    return entries;
}

void TestBarBag::storedEntries_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("value");
    const QList<Expected> entries = expectedEntries();
    QCOMPARE(entries.size(), 46);
    for (int i = 0; i < entries.size(); ++i)
        QTest::addRow("%d %s", i, qPrintable(entries[i].name)) << i << entries[i].name << int(entries[i].type) << entries[i].value;
}

void TestBarBag::storedEntries()
{
    // Walks the file by hand, independently of the parser, to the entry asked for.
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(int, type);
    QFETCH(QByteArray, value);
    const QByteArray bag = fileBytes(storedBag);
    const auto u16 = [&bag](qint64 at) { return qFromLittleEndian<std::uint16_t>(bag.constData() + at); };
    const auto i32 = [&bag](qint64 at) { return qFromLittleEndian<std::int32_t>(bag.constData() + at); };
    qint64 at = 8;
    for (int i = 0; i < index; ++i) {
        QVERIFY(i32(at + 8) > 0);
        at += i32(at + 8);
    }
    const qint64 nameUnits = u16(at + 2);
    QCOMPARE(int(u16(at)), type);
    QCOMPARE(bag.mid(at + 12, 2 * nameUnits), utf16(name));
    QCOMPARE(qFromLittleEndian<std::uint32_t>(bag.constData() + at + 4), BagFormat::nameHash(name));
    const qint64 valueStart = at + 12 + 2 * nameUnits;
    const qint64 end = index == 45 ? bag.size() : at + i32(at + 8);
    QCOMPARE(bag.mid(valueStart, value.size()), value);
    QCOMPARE(end - valueStart - value.size(), (4 - (valueStart + value.size()) % 4) % 4); // only padding follows
    QCOMPARE(bag.mid(valueStart + value.size(), end - valueStart - value.size()), QByteArray(end - valueStart - value.size(), '\0'));
    if (index == 45)
        QCOMPARE(at + i32(at + 8), qint64(8)); // the last entry leads back to the first
}

void TestBarBag::storedHeaderAndChain()
{
    const QByteArray bytes = fileBytes(storedBag);
    QCOMPARE(qFromLittleEndian<std::uint32_t>(bytes.constData()), std::uint32_t(45715));
    QCOMPARE(qint64(qFromLittleEndian<std::uint32_t>(bytes.constData() + 4)), qint64(bytes.size()));
    const PropertyBag bag = PropertyBag::parse(bytes, storedBag);
    QVERIFY2(!bag.fault(), qPrintable(bag.fault() ? bag.fault()->message() : QString()));
    QCOMPARE(bag.count(), 46);
    for (const BarBag::ButtonImage& image : BarBag::images) {
        const qsizetype i = 1 + (&image - BarBag::images.data()) + 1;
        const StdPicture picture = std::get<StdPicture>(bag.valueAt(i));
        QCOMPARE(picture.format(), QByteArray("gif"));
        QCOMPARE(picture.size(), image.size);
    }
}

void TestBarBag::regeneratingGivesTheCommittedBytes()
{
    QCOMPARE(BarBag::build(buttonsDir).serialize(), fileBytes(storedBag));
}

void TestBarBag::loadsAsTheBarReadsIt()
{
    PropertyBag bag = PropertyBag::load(storedBag);
    const StdFont ambient;
    for (int n = 1; n <= 12; ++n) {
        const bool hasPicture = std::any_of(BarBag::images.begin(), BarBag::images.end(), [n](const auto& i) { return i.button == n; });
        QCOMPARE(bag.readPicture(QStringLiteral("Picture%1").arg(n)).isNull(), !hasPicture);
    }
    for (int i = 0; i < 12; ++i)
        QCOMPARE(bag.readFont(QStringLiteral("Font"), ambient), BarBag::labelFont());
    for (int i = 0; i < 12; ++i)
        QCOMPARE(bag.readString(QStringLiteral("IndexGroup"), QString()), QStringLiteral("Formular-Namen"));
    for (int n = 1; n <= 12; ++n)
        QCOMPARE(bag.readString(QStringLiteral("Text%1").arg(n), QStringLiteral("Text")), QString::number(n));
    QCOMPARE(bag.readInt16(QStringLiteral("BorderStyle"), 0), 1);
}

void TestBarBag::gifWriterRoundTrip_data()
{
    QTest::addColumn<QImage>("image");
    QImage one(1, 1, QImage::Format_ARGB32);
    one.fill(qRgb(10, 20, 30));
    QTest::newRow("one pixel") << one;

    QImage clear(5, 3, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    clear.setPixel(2, 1, qRgb(200, 0, 0));
    QTest::newRow("mostly transparent") << clear;

    // Many colours in noise: long runs of new codes fill the 4096-code table and force clear codes, and
    // the palette needs all eight bits.
    QImage noise(120, 90, QImage::Format_ARGB32);
    QRandomGenerator random(4);
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, qRgb(int(random.bounded(15)) * 17, int(random.bounded(17)) * 15, 99));
    QTest::newRow("255 colours of noise") << noise;

    QImage stripes(75, 60, QImage::Format_ARGB32);
    for (int y = 0; y < stripes.height(); ++y)
        for (int x = 0; x < stripes.width(); ++x)
            stripes.setPixel(x, y, (x / 5 + y / 4) % 3 == 0 ? qRgb(240, 240, 240) : qRgb(60, 70, 80));
    QTest::newRow("long runs") << stripes;
}

void TestBarBag::gifWriterRoundTrip()
{
    QFETCH(QImage, image);
    const QImage decoded = decodeGif(GifWriter::encode(image)).convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(decoded.size(), image.size());
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb want = image.pixel(x, y);
            const QRgb got = decoded.pixel(x, y);
            if (qAlpha(want) == 0)
                QVERIFY2(qAlpha(got) == 0, qPrintable(QStringLiteral("pixel %1,%2 should be transparent").arg(x).arg(y)));
            else
                QVERIFY2(got == want, qPrintable(QStringLiteral("pixel %1,%2: %3 instead of %4").arg(x).arg(y).arg(got, 8, 16).arg(want, 8, 16)));
        }
    }
}

QTEST_MAIN(TestBarBag)
#include "tst_BarBag.moc"
