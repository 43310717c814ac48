// Regenerates the navigation bar's stored bag, layouts/QMButton.bag, from the button images in
// layouts/buttons and the bar's settings. With --check it only compares and fails on a difference.

#include "BarBag.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Builds the navigation bar's stored property bag."));
    options.addHelpOption();
    const QCommandLineOption buttons(QStringLiteral("buttons"), QStringLiteral("folder of the button images"), QStringLiteral("folder"),
                                     QStringLiteral(KALVORA_SOURCE_DIR "/layouts/buttons"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("bag file to write"), QStringLiteral("file"),
                                 QStringLiteral(KALVORA_SOURCE_DIR "/layouts/QMButton.bag"));
    const QCommandLineOption check(QStringLiteral("check"), QStringLiteral("compare with the bag file instead of writing it"));
    options.addOptions({buttons, out, check});
    options.process(app);

    try {
        const PropertyBag bag = BarBag::build(options.value(buttons));
        const QByteArray bytes = bag.serialize();
        const QString path = options.value(out);
        if (options.isSet(check)) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "makebag: cannot read %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
                return 1;
            }
            if (file.readAll() != bytes) {
                std::fprintf(stderr, "makebag: %s differs from what the images and settings give; run makebag\n", qPrintable(path));
                return 1;
            }
            std::printf("%s is up to date (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
            return 0;
        }
        // A bag that does not read back cleanly is never written.
        const PropertyBag readBack = PropertyBag::parse(bytes, path);
        if (readBack.fault())
            throw readBack.fault()->error();
        for (qsizetype i = 0; i < readBack.count(); ++i)
            readBack.valueAt(i);
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
            std::printf("%s unchanged (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
            return 0;
        }
        existing.close();
        bag.save(path);
        std::printf("wrote %s (%lld bytes)\n", qPrintable(path), static_cast<long long>(bytes.size()));
        return 0;
    } catch (const KalvoraError& error) {
        std::fprintf(stderr, "makebag: %s\n", qPrintable(error.message()));
        return 1;
    }
}
