// kalvora-archive migrate --to CONNECTION [--audit AUDIT.sqlite] ARCHIVE.sqlite [ALARMS.sqlite]
//
// Copies an embedded archive (and alarm journal, and audit journal) into PostgreSQL. Run it again after an interruption:
// it continues where it stopped. Exit status 0 when the counts agree at the end.
#include "ArchiveMigration.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser args;
    args.setApplicationDescription(QStringLiteral("Copies the embedded archive, alarm journal and audit journal into a PostgreSQL server."));
    args.addHelpOption();
    args.addPositionalArgument(QStringLiteral("command"), QStringLiteral("migrate"));
    args.addPositionalArgument(QStringLiteral("archive"), QStringLiteral("The archive file (archive.sqlite)."));
    args.addPositionalArgument(QStringLiteral("journal"), QStringLiteral("The alarm journal file (alarms.sqlite), optional."));
    args.addOption({QStringLiteral("to"), QStringLiteral("The server's connection string, e.g. \"host=... dbname=...\"."), QStringLiteral("connection")});
    args.addOption({QStringLiteral("audit"), QStringLiteral("The audit journal file (audit.sqlite), optional."), QStringLiteral("file")});
    args.addOption({QStringLiteral("batch"), QStringLiteral("Samples or entries per transaction (default 200000)."), QStringLiteral("count")});
    args.process(app);
    const QStringList positional = args.positionalArguments();
    if (positional.size() < 2 || positional.size() > 3 || positional.first() != u"migrate" || !args.isSet(QStringLiteral("to"))) {
        std::fprintf(stderr, "usage: kalvora-archive migrate --to CONNECTION [--audit AUDIT.sqlite] ARCHIVE.sqlite [ALARMS.sqlite]\n");
        return 2;
    }
    ArchiveMigration::Options options;
    options.archiveFile = positional.at(1);
    options.journalFile = positional.value(2);
    options.connection = args.value(QStringLiteral("to"));
    options.auditFile = args.value(QStringLiteral("audit"));
    if (args.isSet(QStringLiteral("batch"))) {
        bool ok = false;
        options.batch = args.value(QStringLiteral("batch")).toInt(&ok);
        if (!ok || options.batch < 1) {
            std::fprintf(stderr, "kalvora-archive: --batch takes a whole number above 0\n");
            return 2;
        }
    }
    ArchiveMigration migration(options, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    const QString error = migration.run();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "kalvora-archive: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("done: every count agrees\n");
    return 0;
}
