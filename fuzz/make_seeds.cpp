// Writes the hand-made seed bags into fuzz/seeds: small bags of every value kind and shape the reader
// knows, plus a few values it must refuse, so the fuzzer starts from every branch of the format.

#include "BagFormat.h"
#include "PropertyBag.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QtEndian>

#include <cstdio>

namespace {

const QByteArray tinyGif = QByteArray::fromHex("47494638396101000100800000ffffff00000021f90401000000002c00000000010001000002024401003b");

StdPicture picture(const QByteArray& bytes)
{
    return *StdPicture::decode(bytes);
}

QByteArray png()
{
    QImage image(4, 3, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

void save(const QDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "make_seeds: cannot write %s\n", qPrintable(file.fileName()));
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QDir dir(app.arguments().value(1, QStringLiteral(KALVORA_SOURCE_DIR "/fuzz/seeds")));
    QDir().mkpath(dir.path());

    save(dir, QStringLiteral("empty.bag"), PropertyBag().serialize());

    PropertyBag kinds;
    kinds.write(QStringLiteral("_extentx"), std::int32_t(26961));
    kinds.write(QStringLiteral("Picture1"), picture(tinyGif));
    kinds.write(QStringLiteral("Picture2"), picture(png()));
    StdFont font;
    font.name = QStringLiteral("Tahoma");
    font.weight = 700;
    font.italic = font.underline = font.strikeout = true;
    kinds.write(QStringLiteral("Font"), font);
    kinds.write(QStringLiteral("IndexGroup"), QStringLiteral("Formular-Namen"));
    kinds.write(QStringLiteral("Text1"), QStringLiteral("1"));
    kinds.write(QStringLiteral("BorderStyle"), std::int16_t(1));
    save(dir, QStringLiteral("kinds.bag"), kinds.serialize());

    PropertyBag single;
    single.write(QStringLiteral("Font"), font);
    save(dir, QStringLiteral("single-font.bag"), single.serialize());

    PropertyBag repeated;
    for (int i = 0; i < 4; ++i) {
        repeated.write(QStringLiteral("Font"), font);
        repeated.write(QStringLiteral("IndexGroup"), QStringLiteral("G%1").arg(i));
    }
    repeated.write(QStringLiteral("BorderStyle"), QStringLiteral("1"));
    repeated.write(QStringLiteral("Picture1"), QStringLiteral("not a picture"));
    save(dir, QStringLiteral("repeated-and-wrong-kinds.bag"), repeated.serialize());

    // A value type and a class the reader does not know, behind a sound entry.
    QByteArray odd = single.serialize();
    QByteArray unknown = odd;
    qToLittleEndian<std::uint16_t>(7, unknown.data() + 8);
    save(dir, QStringLiteral("unknown-type.bag"), unknown);
    QByteArray unknownClass = odd;
    unknownClass[8 + 12 + 8] = '\x55';
    save(dir, QStringLiteral("unknown-class.bag"), unknownClass);

    QFile stored(QStringLiteral(KALVORA_SOURCE_DIR "/layouts/QMButton.bag"));
    if (stored.open(QIODevice::ReadOnly))
        save(dir, QStringLiteral("QMButton.bag"), stored.readAll());
    return 0;
}
