// kalvora-users: manages the operator accounts of a runtime's data folder and checks its audit chain.
// Passwords are asked for without echo on a terminal and read one per line otherwise.
// Exit codes: 0 done, 1 refused or failed, 2 wrong use, 3 (verify-audit) the journal has no chain yet,
// 4 (sessions, end-session) the broker or the server cannot be reached or does not answer.
#include "AccountChangeLog.h"
#include "AccountStore.h"
#include "AuditChain.h"
#include "AuditFile.h"
#include "BrokerSettings.h"
#include "SqliteAuditJournal.h"
#include "Credentials.h"
#include "PasswordPrompt.h"
#include "RequestClient.h"
#include "ServerSessions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QSysInfo>

#include <cstdio>
#include <functional>

#include <pwd.h>
#include <unistd.h>

namespace {

struct Command {
    const char* name;
    int arguments; ///< the least number of arguments after the command
    int most;      ///< and the most
    const char* usage;
};

const Command commands[] = {
    {"list", 0, 0, "list"},
    {"add", 2, 1000, "add USER ROLE [FULL NAME]"},
    {"remove", 1, 1, "remove USER"},
    {"set-role", 2, 2, "set-role USER ROLE"},
    {"reset-password", 1, 1, "reset-password USER"},
    {"unlock", 1, 1, "unlock USER"},
    {"verify-audit", 0, 1, "verify-audit [AUDIT FILE]"},
    {"sessions", 1, 1, "--station FILE [--server URL] sessions ADMIN"},
    {"end-session", 2, 2, "--station FILE [--server URL] end-session ADMIN SESSION-ID"},
};

bool atServer(const QString& command)
{
    return command == QLatin1String("sessions") || command == QLatin1String("end-session");
}

void print(const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

int fail(const QString& message, int code = 1)
{
    std::fprintf(stderr, "kalvora-users: %s\n", message.toLocal8Bit().constData());
    return code;
}

/// The runtime's data folder of the project, as the runtime itself computes it.
QString dataFolder(const QString& root, const QString& project)
{
    const QString base = root.isEmpty()
        ? QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Kalvora"))
        : root;
    return QDir(base).filePath(project);
}

int list(const AccountStore& store)
{
    if (store.accounts().isEmpty())
        print(QStringLiteral("No accounts in %1").arg(store.path()));
    for (const Account& a : store.accounts()) {
        QString line = QStringLiteral("%1\t%2\t%3").arg(a.userName, roleName(a.role), a.fullName);
        if (a.lockedUntilMs > 0)
            line += QStringLiteral("\tlocked until %1").arg(QDateTime::fromMSecsSinceEpoch(a.lockedUntilMs).toString(Qt::ISODate));
        else if (a.failedSignIns > 0)
            line += QStringLiteral("\t%1 failed sign-ins").arg(a.failedSignIns);
        print(line);
    }
    return 0;
}

/// Checks the chain of the journal in the file `path`, or on the server when `connection` is given.
int verifyAudit(const QString& path, const QString& connection)
{
    QString where = path;
    const AuditFile::Rows file = connection.isEmpty() ? AuditFile::read(path) : AuditFile::readServer(connection, &where);
    if (!file.error.isEmpty())
        return fail(file.error);
    if (file.noChain) {
        print(QStringLiteral("%1: the audit journal has no hash chain yet (written before rows were chained); nothing to verify").arg(where));
        return 3;
    }
    // Without the newest row's record, rows cut off at the end could not be told.
    if (!file.head)
        return fail(QStringLiteral("%1: the chain cannot be checked to its end: the record of the newest row (%2) is missing")
                        .arg(where, connection.isEmpty() ? QStringLiteral("meta %1, %2").arg(SqliteAuditJournal::headIdKey(), SqliteAuditJournal::headHashKey())
                                                         : QStringLiteral("table audit_journal_head")));
    const AuditChain::Verdict verdict = AuditChain::verify(file.rows, *file.head);
    if (!verdict.ok)
        return fail(QStringLiteral("%1: the chain is broken at row %2: %3").arg(where).arg(verdict.id).arg(verdict.reason));
    print(QStringLiteral("%1: %2 rows, the chain is intact").arg(where).arg(verdict.checked));
    return 0;
}

/// The engineer: the system's user running the tool, and who called sudo for it.
QString engineer()
{
    const passwd* entry = ::getpwuid(::geteuid());
    QString name = entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("uid %1").arg(::geteuid());
    if (const QString sudo = qEnvironmentVariable("SUDO_USER"); !sudo.isEmpty() && sudo != name)
        name += QStringLiteral(" (sudo by %1)").arg(sudo);
    return name;
}

/// Carries out an account change and logs it for the runtime's audit journal, both or neither: the
/// line goes first, under the log's lock, and is taken back when the change is refused.
QString journalled(const QString& folder, const AuditRow& row, const std::function<QString()>& apply)
{
    if (!QDir().mkpath(folder))
        return QStringLiteral("%1: cannot create the folder").arg(folder);
    const AccountChangeLog log(QDir(folder).filePath(AccountChangeLog::fileName()));
    QString error;
    const std::unique_ptr<QLockFile> lock = log.lock(&error);
    if (!lock)
        return error;
    const qint64 before = log.size();
    if (error = log.append(row); !error.isEmpty())
        return error;
    if (error = apply(); !error.isEmpty())
        if (const QString undo = log.truncate(before); !undo.isEmpty())
            error += QStringLiteral("; and the refused change stays logged: ") + undo;
    return error;
}

/// Lists or ends the sessions at the server of `project`, signed in as the administrator `args[0]`.
int serverSessions(const QString& command, const QStringList& args, const QString& project, const QString& stationFile, const QString& url)
{
    const BrokerSettings::Result login = BrokerSettings::stationLogIn(stationFile, url);
    if (!login.ok())
        return fail(login.error);
    const PasswordPrompt::Answer answer = PasswordPrompt::ask(QStringLiteral("Password for %1: ").arg(args.first()), false);
    if (!answer.error.isEmpty())
        return fail(answer.error);
    // Answers to the running station share the response topic; they are not the tool's business.
    QLoggingCategory::setFilterRules(QStringLiteral("kalvora.bus.debug=false\nkalvora.bus.info=false"));
    ServerSessions server(login.settings, project, RequestClient::DefaultTimeoutMs);
    const ServerSessions::Outcome outcome = server.run(args.first(), answer.password, command == QLatin1String("end-session") ? args.at(1) : QString());
    if (outcome.code != 0)
        return fail(outcome.error, outcome.code);
    for (const QString& line : outcome.lines)
        print(line);
    return 0;
}

std::optional<Role> roleArgument(const QString& text)
{
    const std::optional<Role> role = parseRole(text);
    if (!role)
        fail(QStringLiteral("unknown role \"%1\"; the roles are %2").arg(text, roleNames().join(QStringLiteral(", "))));
    return role;
}

int run(const QString& command, const QStringList& args, const QString& folder, const QString& connection)
{
    if (command == QLatin1String("verify-audit"))
        return verifyAudit(args.isEmpty() ? QDir(folder).filePath(QStringLiteral("audit.sqlite")) : args.first(), connection);
    AccountStore store(QDir(folder).filePath(AccountStore::fileName()));
    if (const QString error = store.load(); !error.isEmpty())
        return fail(error);
    if (command == QLatin1String("list"))
        return list(store);
    const QString& user = args.first();
    const Account* account = store.find(user);
    // What the audit journal is told: who changed which account how; never a password or its hash.
    AuditRow row{0, QDateTime::currentMSecsSinceEpoch(), QSysInfo::machineHostName(), engineer(), QStringLiteral("account-change"),
        account ? account->userName : user, account ? roleName(account->role) : QString(), {}, QStringLiteral("ok"), {}, {}};
    std::function<QString()> apply;
    if (command == QLatin1String("add") || command == QLatin1String("reset-password")) {
        const std::optional<Role> role = command == QLatin1String("add") ? roleArgument(args.at(1)) : Role::Viewer;
        if (!role)
            return 1;
        if (const QString why = Credentials::checkUserName(user); command == QLatin1String("add") && !why.isEmpty())
            return fail(why);
        if (command == QLatin1String("add") && account)
            return fail(QStringLiteral("the user \"%1\" exists already").arg(account->userName));
        if (command == QLatin1String("reset-password") && !account)
            return fail(QStringLiteral("there is no user \"%1\"").arg(user));
        const PasswordPrompt::Answer answer = PasswordPrompt::ask(QStringLiteral("Password for %1: ").arg(user), true);
        if (!answer.error.isEmpty())
            return fail(answer.error);
        const bool add = command == QLatin1String("add");
        const QString fullName = args.mid(2).join(QLatin1Char(' '));
        row.newValue = add ? roleName(*role) : row.oldValue;
        row.reason = add ? QStringLiteral("account added") : QStringLiteral("password reset");
        apply = [&store, add, user, fullName, role, password = answer.password] {
            return add ? store.add(user, fullName, *role, password) : store.resetPassword(user, password);
        };
    } else if (command == QLatin1String("remove")) {
        row.reason = QStringLiteral("account removed");
        apply = [&store, user] { return store.remove(user); };
    } else if (command == QLatin1String("set-role")) {
        const std::optional<Role> role = roleArgument(args.at(1));
        if (!role)
            return 1;
        row.newValue = roleName(*role);
        row.reason = QStringLiteral("role changed");
        apply = [&store, user, role] { return store.setRole(user, *role); };
    } else if (command == QLatin1String("unlock")) {
        row.newValue = row.oldValue;
        row.reason = QStringLiteral("account unlocked");
        apply = [&store, user] { return store.unlock(user); };
    }
    if (const QString error = journalled(folder, row, apply); !error.isEmpty())
        return fail(error);
    print(QStringLiteral("%1: done (%2)").arg(command, store.path()));
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kalvora-users"));
    QCommandLineParser parser;
    QString description = QStringLiteral("Manages the operator accounts of a Kalvora runtime, checks its audit chain, and lists or ends the sessions at a\n"
                                         "server as an administrator (exit code 4: the broker or the server cannot be reached).\nCommands:");
    for (const Command& c : commands)
        description += QStringLiteral("\n  ") + QLatin1String(c.usage);
    description += QStringLiteral("\nRoles: ") + roleNames().join(QStringLiteral(", "));
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addOption({QStringLiteral("data"), QStringLiteral("The runtime's data folder (default: the user's data folder)."), QStringLiteral("folder")});
    parser.addOption({QStringLiteral("project"), QStringLiteral("The runtime project; for sessions and end-session the server's (default: Kalvora)."), QStringLiteral("name"), QStringLiteral("Kalvora")});
    parser.addOption({QStringLiteral("connection"),
        QStringLiteral("verify-audit: the journal on this PostgreSQL server (the project's history connection) instead of a file."),
        QStringLiteral("conninfo")});
    parser.addOption({QStringLiteral("station"),
        QStringLiteral("sessions, end-session: the station's log-in file for the broker (as the station takes it)."), QStringLiteral("file")});
    parser.addOption({QStringLiteral("server"), QStringLiteral("sessions, end-session: the broker, instead of the station file's."),
        QStringLiteral("url")});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("What to do, see above."));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return fail(QStringLiteral("no command given; see --help"), 2);
    const QString command = positional.first();
    const QStringList args = positional.mid(1);
    for (const Command& c : commands) {
        if (command == QLatin1String(c.name)) {
            if (args.size() < c.arguments || args.size() > c.most)
                return fail(QStringLiteral("usage: kalvora-users %1").arg(QLatin1String(c.usage)), 2);
            if (parser.isSet(QStringLiteral("connection")) && (command != QLatin1String("verify-audit") || !args.isEmpty()))
                return fail(QStringLiteral("--connection goes with verify-audit without a file"), 2);
            const bool station = parser.isSet(QStringLiteral("station")) || parser.isSet(QStringLiteral("server"));
            if (atServer(command) != station)
                return fail(atServer(command) ? QStringLiteral("%1 needs --station FILE, the log-in of a station of the server").arg(command)
                                              : QStringLiteral("--station and --server go with sessions and end-session"),
                    2);
            if (atServer(command))
                return serverSessions(command, args, parser.value(QStringLiteral("project")), parser.value(QStringLiteral("station")),
                    parser.value(QStringLiteral("server")));
            return run(command, args, dataFolder(parser.value(QStringLiteral("data")), parser.value(QStringLiteral("project"))),
                parser.value(QStringLiteral("connection")));
        }
    }
    return fail(QStringLiteral("unknown command \"%1\"; see --help").arg(command), 2);
}
