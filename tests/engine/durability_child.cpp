// Records as fast as it can until it is killed; reports every sample time that is on disk.
// Arguments: projects folder, data folder, clock start (ms), hours of history.
// Or "pack" and an archive file: opens it, says "O", lets the packer work, says "D" when it is done.
#include "ArchiveStore.h"
#include "Runtime.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("pack")) {
        SqliteArchiveBackend archive(args.at(2));
        if (!archive.open(nullptr).isEmpty())
            return 3;
        std::fputs("O\n", stdout);
        std::fflush(stdout);
        if (!archive.waitPacked(60000))
            return 4;
        std::fputs("D\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    if (args.size() != 5) {
        std::fprintf(stderr, "usage: engine_durability_child projects data startMs backfillHours\n");
        return 2;
    }
    RuntimeOptions options;
    options.projectsRoot = args.at(1);
    options.dataDirectory = args.at(2);
    options.realTime = false;
    options.startTimeMs = args.at(3).toLongLong();
    options.backfillHours = args.at(4).toInt();
    Runtime runtime(options, &app);
    const auto say = [](const QByteArray& line) {
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
        std::fflush(stdout);
    };
    QObject::connect(&runtime, &Runtime::progress, &app, [&](const QString& step) {
        if (step.startsWith(QStringLiteral("Verlauf")))
            say("H\n");
    });
    QObject::connect(&runtime.archive(), &ArchiveStore::recorded, &app, [&](qint64 t) { say("C " + QByteArray::number(t) + '\n'); });
    QObject::connect(&runtime, &Runtime::startFailed, &app, [&](const QString& reason) {
        say("F " + reason.toUtf8() + '\n');
        app.exit(3);
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] { runtime.advance(1); });
    QObject::connect(&runtime, &Runtime::started, &app, [&] {
        say("S\n");
        ticker.start(0);
    });
    runtime.start(QStringLiteral("Kalvora"));
    return app.exec();
}
