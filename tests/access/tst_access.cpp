#include "AccessRules.h"
#include "AccountStore.h"
#include "AuditChain.h"
#include "SessionManager.h"
#include "SignInGuard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>

namespace {

constexpr qint64 minute = 60 * 1000;

const QStringList variables{QStringLiteral("Ch1.Kalvora.Unit1.Switch"), QStringLiteral("Ch1.Kalvora.Unit1.Setpoint"),
    QStringLiteral("Ch1.Kalvora.Unit2.Switch"), QStringLiteral("Ch1.Kalvora.Storage.Outlet")};
const QStringList groups{QStringLiteral("FCentralAlarms1"), QStringLiteral("FCentralAlarms2")};

/// The first rule that names a variable decides: Unit1.Setpoint needs an engineer although the
/// pattern after it would let an operator write it.
const char* const projectRules = R"({
  "format": 1,
  "description": "operators switch, engineers set points and shelve",
  "write": [
    {"role": "engineer", "variables": ["Ch1.Kalvora.Unit1.Setpoint"]},
    {"role": "operator", "variables": ["Ch1.Kalvora.Unit*"]}
  ],
  "acknowledge": [
    {"role": "anyone", "groups": ["FCentralAlarms2"]},
    {"role": "operator", "groups": ["FCentralAlarms1"]}
  ],
  "shelve": [{"role": "engineer", "groups": ["*"]}]
})";

QString write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

PasswordHasher cheap()
{
    return PasswordHasher(PasswordHasher::minimal());
}

/// A chain of five rows as the journal would write them.
QList<AuditRow> chain()
{
    QList<AuditRow> rows;
    QByteArray previous = AuditChain::genesis();
    for (int i = 1; i <= 5; ++i) {
        AuditRow row{i, 1000LL * i, QStringLiteral("ab"), QStringLiteral("c"), QStringLiteral("write"), QStringLiteral("Ch1.Kalvora.Unit1.Switch"),
            QString::number(i % 2), QString::number((i + 1) % 2), QStringLiteral("ok"), {}, {}};
        row.hash = AuditChain::hashOf(row, previous);
        previous = row.hash;
        rows.append(row);
    }
    return rows;
}

/// An audit journal file: "nochain" has the table as written before rows were chained; the others carry
/// the chain, "edited" with one value changed afterwards, "cut" without its newest row, "headless"
/// without the record of its newest row.
void writeAuditFile(const QString& path, const QString& kind)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* db = nullptr;
    QCOMPARE(sqlite3_open(path.toUtf8().constData(), &db), SQLITE_OK);
    const bool chained = kind != QLatin1String("nochain");
    QByteArray sql = chained ? "CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER, station TEXT, user TEXT, action TEXT, target TEXT, "
                               "old_value TEXT, new_value TEXT, result TEXT, reason TEXT, hash TEXT);"
                             : "CREATE TABLE audit(id INTEGER PRIMARY KEY, time INTEGER, station TEXT, user TEXT, variable TEXT, "
                               "old_value TEXT, new_value TEXT, result TEXT, reason TEXT);";
    for (const AuditRow& r : chain().mid(0, 3)) {
        sql += chained ? QStringLiteral("INSERT INTO audit VALUES(%1, %2, '%3', '%4', '%5', '%6', '%7', '%8', '%9', '', '%10');")
                             .arg(r.id).arg(r.timeMs).arg(r.station, r.user, r.action, r.target, r.oldValue, r.newValue, r.result)
                             .arg(QString::fromLatin1(r.hash.toHex()))
                             .toUtf8()
                       : QStringLiteral("INSERT INTO audit VALUES(%1, %2, 's', 'u', 'v', '0', '1', 'ok', '');").arg(r.id).arg(r.timeMs).toUtf8();
    }
    if (chained) // the journal's record of its newest row
        sql += "CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL); INSERT INTO meta VALUES('audit_head_id', '3'), ('audit_head_hash', '"
            + chain().at(2).hash.toHex() + "');";
    if (kind == QLatin1String("edited"))
        sql += "UPDATE audit SET new_value = '7' WHERE id = 2;";
    if (kind == QLatin1String("cut"))
        sql += "DELETE FROM audit WHERE id = 3;";
    if (kind == QLatin1String("headless"))
        sql += "DELETE FROM meta;";
    QCOMPARE(sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

} // namespace

class TestAccess : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void permissions_data();
    void permissions();
    void rulesFaults_data();
    void rulesFaults();
    void accountFileFaults_data();
    void accountFileFaults();
    void accountFileSaved();
    void onlyRegularFilesWithinLimit_data();
    void onlyRegularFilesWithinLimit();
    void credentials_data();
    void credentials();
    void signInLock();
    void lockedSignInCostsNoHash();
    void everNewNamesMeetTheGuardLimit();
    void idleLock();
    void auditChain_data();
    void auditChain();
    void tool_data();
    void tool();

private:
    QTemporaryDir m_dir;
    QByteArray m_hash; ///< a valid Argon2id hash of "password1"
    QString m_accounts; ///< a file with the account anna (operator, "password1")
};

void TestAccess::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_hash = cheap().hash(QStringLiteral("password1"));
    QVERIFY(PasswordHasher::isArgon2idHash(m_hash));
    m_accounts = m_dir.filePath(QStringLiteral("template/accounts.json"));
    AccountStore store(m_accounts, cheap());
    QCOMPARE(store.add(QStringLiteral("anna"), QStringLiteral("Anna Berg"), Role::Operator, QStringLiteral("password1")), QString());
}

void TestAccess::permissions_data()
{
    QTest::addColumn<bool>("withRules");
    QTest::addColumn<AccessRules::Action>("action");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("role"); // "" for nobody signed in
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<QString>("needed"); // "" when allowed or when no role would do

    using A = AccessRules::Action;
    const QString sw1 = QStringLiteral("Ch1.Kalvora.Unit1.Switch");
    const QString setpoint = QStringLiteral("Ch1.Kalvora.Unit1.Setpoint");
    const QString outlet = QStringLiteral("Ch1.Kalvora.Storage.Outlet");
    const QString g1 = groups.at(0);
    const QString g2 = groups.at(1);
    const auto row = [](const char* name, bool rules, A action, const QString& target, const char* role, bool allowed, const char* needed) {
        QTest::newRow(name) << rules << action << target << QString::fromLatin1(role) << allowed << QString::fromLatin1(needed);
    };
    row("open: write, nobody signed in", false, A::Write, outlet, "", true, "");
    row("open: manage accounts, nobody signed in", false, A::ManageAccounts, {}, "", true, "");
    row("write switch: nobody", true, A::Write, sw1, "", false, "operator");
    row("write switch: viewer", true, A::Write, sw1, "viewer", false, "operator");
    row("write switch: operator", true, A::Write, sw1, "operator", true, "");
    row("write switch: administrator includes operator", true, A::Write, sw1, "administrator", true, "");
    row("write switch of unit 2 by pattern", true, A::Write, QStringLiteral("Ch1.Kalvora.Unit2.Switch"), "operator", true, "");
    row("write set point: first rule wins over the pattern", true, A::Write, setpoint, "operator", false, "engineer");
    row("write set point: engineer", true, A::Write, setpoint, "engineer", true, "");
    row("write a variable no rule names", true, A::Write, outlet, "administrator", false, "");
    row("write an unknown variable", true, A::Write, QStringLiteral("Ch1.Kalvora.Unit9.Switch"), "administrator", false, "");
    row("acknowledge: anyone, not signed in", true, A::Acknowledge, g2, "", true, "");
    row("acknowledge: nobody", true, A::Acknowledge, g1, "", false, "operator");
    row("acknowledge: operator", true, A::Acknowledge, g1, "operator", true, "");
    row("shelve: operator", true, A::Shelve, g1, "operator", false, "engineer");
    row("unshelve: engineer", true, A::Unshelve, g2, "engineer", true, "");
    row("unshelve: nobody", true, A::Unshelve, g2, "", false, "engineer");
    row("manage accounts: engineer", true, A::ManageAccounts, {}, "engineer", false, "administrator");
    row("manage accounts: administrator", true, A::ManageAccounts, {}, "administrator", true, "");
    row("end a session: operator", true, A::EndSession, {}, "operator", false, "administrator");
}

void TestAccess::permissions()
{
    QFETCH(bool, withRules);
    QFETCH(AccessRules::Action, action);
    QFETCH(QString, target);
    QFETCH(QString, role);
    QFETCH(bool, allowed);
    QFETCH(QString, needed);

    // Without access.json the project runs open.
    const QString path = withRules ? write(m_dir.filePath(QStringLiteral("rules/access.json")), projectRules) : m_dir.filePath(QStringLiteral("none/access.json"));
    const AccessRules::Loaded loaded = AccessRules::load(path, variables, groups);
    QCOMPARE(loaded.error, QString());
    QCOMPARE(loaded.rules.isOpen(), !withRules);

    const AccessRules::Decision decision = loaded.rules.check(action, target, role.isEmpty() ? std::nullopt : parseRole(role));
    QCOMPARE(decision.allowed, allowed);
    QCOMPARE(decision.needed ? roleName(*decision.needed) : QString(), needed);
    QCOMPARE(decision.reason.isEmpty(), allowed);
}

void TestAccess::rulesFaults_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected"); // the message after "<file>"

    QTest::newRow("bad syntax") << QByteArray("{\"format\": 1,\n\"write\": [}\n") << QStringLiteral(", line 2, column 12: ");
    QTest::newRow("a key given twice") << QByteArray("{\"format\": 1,\n \"write\": [],\n \"write\": []}") << QStringLiteral(", line 3, column 2: the field \"write\" is given twice");
    QTest::newRow("unknown section") << QByteArray(R"({"format": 1, "writes": []})") << QStringLiteral(", field writes: unknown field");
    QTest::newRow("no format") << QByteArray(R"({"write": []})") << QStringLiteral(", field format: expected 1");
    QTest::newRow("unknown field in a rule") << QByteArray(R"({"format": 1, "write": [{"role": "operator", "variables": ["*"], "roles": 1}]})")
                                             << QStringLiteral(", field write[0].roles: unknown field");
    QTest::newRow("unknown role") << QByteArray(R"({"format": 1, "shelve": [{"role": "superuser", "groups": ["*"]}]})")
                                  << QStringLiteral(", field shelve[0].role: unknown role \"superuser\"");
    QTest::newRow("unknown variable") << QByteArray(R"({"format": 1, "write": [{"role": "operator", "variables": ["Ch1.Kalvora.Unit1.Switch", "Ch1.Kalvora.Unit9.Switch"]}]})")
                                      << QStringLiteral(", field write[0].variables[1]: unknown variable \"Ch1.Kalvora.Unit9.Switch\"");
    QTest::newRow("pattern matching nothing") << QByteArray(R"({"format": 1, "write": [{"role": "operator", "variables": ["Ch2.*"]}]})")
                                              << QStringLiteral(", field write[0].variables[0]: the pattern \"Ch2.*\" matches no variable");
    QTest::newRow("unknown alarm group") << QByteArray(R"({"format": 1, "acknowledge": [{"role": "operator", "groups": ["FCentralAlarms3"]}]})")
                                         << QStringLiteral(", field acknowledge[0].groups[0]: unknown alarm group");
    QTest::newRow("empty list of variables") << QByteArray(R"({"format": 1, "write": [{"role": "operator", "variables": []}]})")
                                             << QStringLiteral(", field write[0].variables: expected a list");
    QTest::newRow("idle lock of no minutes") << QByteArray(R"({"format": 1, "idleLockMinutes": 0})")
                                             << QStringLiteral(", field idleLockMinutes: expected a whole number of minutes from 1 to 1440");
    QTest::newRow("idle lock as text") << QByteArray(R"({"format": 1, "idleLockMinutes": "15"})")
                                       << QStringLiteral(", field idleLockMinutes: expected a whole number");
}

void TestAccess::rulesFaults()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = write(m_dir.filePath(QStringLiteral("faults/access.json")), content);
    const AccessRules::Loaded loaded = AccessRules::load(path, variables, groups);
    QVERIFY2(loaded.error.startsWith(path + expected), qPrintable(loaded.error));
}

void TestAccess::accountFileFaults_data()
{
    QTest::addColumn<QByteArray>("accounts"); // the text inside "accounts": [ ... ], or a whole file
    QTest::addColumn<QString>("expected");

    const QByteArray anna = R"({"user": "anna", "fullName": "", "role": "operator", "hash": "%HASH%", "failedSignIns": 0, "lockedUntil": 0})";
    const auto with = [&anna](const char* from, const char* to) { return QByteArray(anna).replace(from, to); };
    QTest::newRow("bad syntax") << QByteArray("{\"format\": 1,\n\"accounts\": [\n") << QStringLiteral(", line 3, column 1: ");
    QTest::newRow("no accounts list") << QByteArray(R"({"format": 1})") << QStringLiteral(", field accounts: expected a list");
    QTest::newRow("unknown field") << with("\"lockedUntil\"", "\"email\": \"a@b\", \"lockedUntil\"") << QStringLiteral(", field accounts[0].email: unknown field");
    QTest::newRow("a field given twice") << with("\"role\": \"operator\"", "\"role\": \"operator\", \"role\": \"administrator\"")
                                         << QStringLiteral(", line 1, column 81: the field \"role\" is given twice");
    QTest::newRow("duplicate user") << anna + ",\n" + with("\"anna\"", "\"Anna\"") << QStringLiteral(", field accounts[1].user: the user \"Anna\" is given twice (also accounts[0])");
    QTest::newRow("unknown role") << with("operator", "boss") << QStringLiteral(", field accounts[0].role: unknown role \"boss\"");
    QTest::newRow("missing role") << with("\"role\": \"operator\", ", "") << QStringLiteral(", field accounts[0].role: expected a text");
    QTest::newRow("argon2i hash") << with("%HASH%", "$argon2i$v=19$m=32768,t=4,p=1$c29tZXNhbHQ$iWh06vD8Fy27wf9npn6FXWiCX4K6pW6Ue1Bnzz07Z8A")
                                  << QStringLiteral(", field accounts[0].hash: not an Argon2id password hash");
    QTest::newRow("plain password for a hash") << with("%HASH%", "password1") << QStringLiteral(", field accounts[0].hash: not an Argon2id");
    QTest::newRow("hash demanding 4 GiB") << with("%HASH%", "$argon2id$v=19$m=4194304,t=2,p=1$c29tZXNhbHQxMjM0NTY$iWh06vD8Fy27wf9npn6FXWiCX4K6pW6Ue1Bnzz07Z8A")
                                          << QStringLiteral(", field accounts[0].hash: not an Argon2id");
    QTest::newRow("control character in a name") << with("\"anna\"", "\"an\\u0007na\"") << QStringLiteral(", field accounts[0].user: the user name contains a control character");
    QTest::newRow("negative count") << with("\"failedSignIns\": 0", "\"failedSignIns\": -1") << QStringLiteral(", field accounts[0].failedSignIns: expected a whole number");
    QTest::newRow("fractional time") << with("\"lockedUntil\": 0", "\"lockedUntil\": 0.5") << QStringLiteral(", field accounts[0].lockedUntil: expected a whole number");
}

void TestAccess::accountFileFaults()
{
    QFETCH(QByteArray, accounts);
    QFETCH(QString, expected);
    accounts.replace("%HASH%", m_hash);
    const QByteArray content = accounts.startsWith('{') && accounts.contains("\"format\"") ? accounts : "{\"format\": 1, \"accounts\": [" + accounts + "]}";
    const QString path = m_dir.filePath(QStringLiteral("faults/accounts.json"));
    QFile::remove(path);
    QVERIFY(QFile::copy(m_accounts, path));
    AccountStore store(path, cheap());
    QCOMPARE(store.load(), QString());
    write(path, content);
    const QString error = store.load();
    QVERIFY2(error.startsWith(path + expected), qPrintable(error));
    // A refused file changes nothing that was read before.
    QCOMPARE(store.accounts().size(), 1);
    QCOMPARE(store.accounts().first().userName, QStringLiteral("anna"));
}

void TestAccess::accountFileSaved()
{
    const QString path = m_dir.filePath(QStringLiteral("saved/data/accounts.json"));
    const mode_t umaskBefore = ::umask(0);
    AccountStore store(path, cheap());
    QCOMPARE(store.add(QStringLiteral("anna"), QStringLiteral("Anna Berg"), Role::Operator, QStringLiteral("password1")), QString());
    QCOMPARE(store.add(QStringLiteral("otto"), QStringLiteral("Otto Lenz"), Role::Administrator, QStringLiteral("zweites Passwort")), QString());
    QCOMPARE(store.setSignInState(QStringLiteral("otto"), 3, 0), QString());
    ::umask(umaskBefore);
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    AccountStore again(path, cheap());
    QCOMPARE(again.load(), QString());
    QCOMPARE(again.accounts().size(), 2);
    const Account* otto = again.find(QStringLiteral("OTTO"));
    QVERIFY(otto);
    QCOMPARE(otto->fullName, QStringLiteral("Otto Lenz"));
    QCOMPARE(otto->role, Role::Administrator);
    QCOMPARE(otto->failedSignIns, 3);
    QVERIFY(PasswordHasher::verify(otto->passwordHash, QStringLiteral("zweites Passwort")));

    // Two holders of the file (the engineer's tool, a runtime counting a failed sign-in) keep each other's changes.
    QCOMPARE(store.add(QStringLiteral("vera"), {}, Role::Viewer, QStringLiteral("password2")), QString());
    QCOMPARE(again.setSignInState(QStringLiteral("anna"), 1, 0), QString());
    AccountStore third(path, cheap());
    QCOMPARE(third.load(), QString());
    QVERIFY(third.find(QStringLiteral("vera")) && third.find(QStringLiteral("anna"))->failedSignIns == 1);

    // A change the disk refuses is taken back: the folder gives way to a file.
    const QList<Account> held = again.accounts();
    QVERIFY(QDir(QFileInfo(path).absolutePath()).removeRecursively());
    write(QFileInfo(path).absolutePath(), "x");
    QVERIFY(!again.setRole(QStringLiteral("otto"), Role::Viewer).isEmpty());
    QCOMPARE(again.find(QStringLiteral("otto"))->role, Role::Administrator);
    QVERIFY(!again.resetPassword(QStringLiteral("otto"), QStringLiteral("drittes Passwort")).isEmpty());
    QVERIFY(PasswordHasher::verify(again.find(QStringLiteral("otto"))->passwordHash, QStringLiteral("zweites Passwort")));
    QCOMPARE(held.at(1).failedSignIns, 3); // a copy taken before is not changed behind its back
    QCOMPARE(again.setSignInState(QStringLiteral("otto"), 4, 0).isEmpty(), false);
    QCOMPARE(held.at(1).failedSignIns, 3);
    AccountStore blocked(write(m_dir.filePath(QStringLiteral("saved/blocker")), "x") + QStringLiteral("/accounts.json"), cheap());
    QVERIFY(!blocked.add(QStringLiteral("anna"), {}, Role::Viewer, QStringLiteral("password1")).isEmpty());
    QVERIFY(blocked.accounts().isEmpty());
}

void TestAccess::onlyRegularFilesWithinLimit_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral(": not a regular file");
    QTest::newRow("FIFO, no writer") << QStringLiteral("fifo") << QStringLiteral(": not a regular file");
    QTest::newRow("5 MB") << QStringLiteral("large") << QStringLiteral(": the file has 5000000 bytes, more than the 4194304 it may have");
}

void TestAccess::onlyRegularFilesWithinLimit()
{
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    const QString path = m_dir.filePath(QStringLiteral("special/") + kind);
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkpath(path));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QFile(write(path, "{}")).resize(5'000'000));
    QCOMPARE(AccessRules::load(path, variables, groups).error, path + expected);
    AccountStore store(path, cheap());
    QCOMPARE(store.load(), path + expected);
}

void TestAccess::credentials_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected"); // "" when the account is added

    const QString good = QStringLiteral("password1");
    QTest::newRow("fine") << QStringLiteral("anna") << good << QString();
    QTest::newRow("64 characters") << QString(64, QLatin1Char('u')) << good << QString();
    QTest::newRow("8 characters, umlauts") << QStringLiteral("anna") << QStringLiteral("äöüßäöüß") << QString();
    QTest::newRow("empty user") << QString() << good << QStringLiteral("the user name is empty");
    QTest::newRow("65 characters") << QString(65, QLatin1Char('u')) << good << QStringLiteral("the user name is longer than 64 characters");
    QTest::newRow("tab in name") << QStringLiteral("an\tna") << good << QStringLiteral("the user name contains a control character");
    QTest::newRow("right-to-left mark in name") << QStringLiteral("anna") + QChar(0x202E) << good << QStringLiteral("the user name contains a control character");
    QTest::newRow("blanks only") << QStringLiteral("   ") << good << QStringLiteral("the user name starts or ends with blanks");
    QTest::newRow("leading blank") << QStringLiteral(" anna") << good << QStringLiteral("the user name starts or ends with blanks");
    QTest::newRow("empty password") << QStringLiteral("anna") << QString() << QStringLiteral("the password is empty");
    QTest::newRow("7 characters") << QStringLiteral("anna") << QStringLiteral("passwor") << QStringLiteral("the password is shorter than 8 characters");
    QTest::newRow("the user name in capitals") << QStringLiteral("operator1") << QStringLiteral("OPERATOR1") << QStringLiteral("the password must not be the user name");
    QTest::newRow("1025 bytes") << QStringLiteral("anna") << QString(1025, QLatin1Char('p')) << QStringLiteral("the password is longer than 1024 bytes");
    QTest::newRow("600 umlauts, 1200 bytes") << QStringLiteral("anna") << QString(600, QChar(0xE4)) << QStringLiteral("the password is longer than 1024 bytes");
    QTest::newRow("100 MB pasted") << QStringLiteral("anna") << QString(100'000'000, QLatin1Char('p')) << QStringLiteral("the password is longer than 1024 bytes");
}

void TestAccess::credentials()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    AccountStore store(m_dir.filePath(QStringLiteral("credentials/accounts.json")), cheap());
    QCOMPARE(store.load(), QString());
    QCOMPARE(store.add(user, {}, Role::Viewer, password), expected);
    if (expected.isEmpty()) {
        QVERIFY(PasswordHasher::verify(store.find(user)->passwordHash, password));
        QCOMPARE(store.remove(user), QString());
    }
    QVERIFY(store.accounts().isEmpty());
}

void TestAccess::signInLock()
{
    const QString path = m_dir.filePath(QStringLiteral("lock/accounts.json"));
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(QFile::copy(m_accounts, path));
    AccountStore store(path, cheap());
    QCOMPARE(store.load(), QString());
    qint64 now = 1'000'000;
    SignInGuard guard(store, [&now] { return now; }, 15 * minute);
    using O = SignInResult::Outcome;
    const QString anna = QStringLiteral("anna");
    const QString right = QStringLiteral("password1");
    const QString wrong = QStringLiteral("password2");

    QCOMPARE(guard.verify(anna, wrong).outcome, O::Wrong);
    QCOMPARE(guard.verify(anna, right).outcome, O::SignedIn);
    QCOMPARE(store.find(anna)->failedSignIns, 0); // success resets the count
    for (int i = 1; i < SignInGuard::failuresBeforeLock; ++i)
        QCOMPARE(guard.verify(anna, i == 2 ? QString(5000, QLatin1Char('x')) : wrong).outcome, O::Wrong);
    // The count survives a restart.
    AccountStore reread(path, cheap());
    QCOMPARE(reread.load(), QString());
    QCOMPARE(reread.find(anna)->failedSignIns, SignInGuard::failuresBeforeLock - 1);

    SignInResult locked = guard.verify(anna, wrong);
    QCOMPARE(locked.outcome, O::Locked);
    QVERIFY(locked.lockedNow);
    QCOMPARE(locked.lockedUntilMs, now + 15 * minute);
    now += 15 * minute - 1;
    locked = guard.verify(anna, right);
    QCOMPARE(locked.outcome, O::Locked);
    QVERIFY(!locked.lockedNow);
    now += 1;
    const SignInResult in = guard.verify(QStringLiteral("ANNA"), right);
    QCOMPARE(in.outcome, O::SignedIn);
    QCOMPARE(in.userName, anna);
    QCOMPARE(in.role, Role::Operator);

    // An administrator lifts a lock before its time.
    for (int i = 0; i < SignInGuard::failuresBeforeLock; ++i)
        guard.verify(anna, wrong);
    QCOMPARE(guard.verify(anna, right).outcome, O::Locked);
    QCOMPARE(store.unlock(anna), QString());
    QCOMPARE(guard.verify(anna, right).outcome, O::SignedIn);

    // An unknown name reads as a wrong password and locks alike.
    const SignInResult ghost = guard.verify(QStringLiteral("ghost"), right);
    QCOMPARE(ghost.outcome, O::Unknown);
    QCOMPARE(ghost.message(), guard.verify(anna, wrong).message());
    for (int i = 1; i < SignInGuard::failuresBeforeLock; ++i)
        guard.verify(QStringLiteral("ghost"), right);
    QCOMPARE(guard.verify(QStringLiteral("Ghost"), right).outcome, O::Locked);

    // A disk that refuses the counters does not lift the limit: the folder gives way to a file.
    QCOMPARE(guard.verify(anna, right).outcome, O::SignedIn);
    QVERIFY(QDir(QFileInfo(path).absolutePath()).removeRecursively());
    write(QFileInfo(path).absolutePath(), "x");
    SignInResult last;
    for (int i = 0; i < SignInGuard::failuresBeforeLock; ++i)
        last = guard.verify(anna, wrong);
    QVERIFY(!last.saveError.isEmpty());
    QCOMPARE(last.outcome, O::Locked);
    QCOMPARE(guard.verify(anna, right).outcome, O::Locked);
}

void TestAccess::lockedSignInCostsNoHash()
{
    // At the real cost one hash takes tens of milliseconds; a locked account must refuse far faster.
    const QString path = m_dir.filePath(QStringLiteral("hammer/accounts.json"));
    AccountStore store(path, PasswordHasher(PasswordHasher::interactive()));
    QCOMPARE(store.add(QStringLiteral("anna"), {}, Role::Operator, QStringLiteral("password1")), QString());
    SignInGuard guard(store, [] { return qint64(0); });
    for (int i = 0; i < SignInGuard::failuresBeforeLock; ++i)
        guard.verify(QStringLiteral("anna"), QStringLiteral("guess%1").arg(i));
    for (int i = 0; i < SignInGuard::failuresBeforeLock; ++i)
        guard.verify(QStringLiteral("nobody"), QStringLiteral("guess%1").arg(i));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 500; ++i) {
        QCOMPARE(guard.verify(QStringLiteral("anna"), QStringLiteral("password1")).outcome, SignInResult::Outcome::Locked);
        QCOMPARE(guard.verify(QStringLiteral("nobody"), QStringLiteral("password1")).outcome, SignInResult::Outcome::Locked);
    }
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QStringLiteral("1,000 refusals took %1 ms").arg(timer.elapsed())));
}

void TestAccess::everNewNamesMeetTheGuardLimit()
{
    AccountStore store(m_accounts, cheap());
    QCOMPARE(store.load(), QString());
    qint64 now = 0;
    SignInGuard guard(store, [&now] { return now; });
    for (int i = 0; i < SignInGuard::maxFailuresPerWindow; ++i)
        QCOMPARE(guard.verify(QStringLiteral("name%1").arg(i), QStringLiteral("password1")).outcome, SignInResult::Outcome::Unknown);
    now = SignInGuard::windowMs - 1;
    const SignInResult refused = guard.verify(QStringLiteral("anna"), QStringLiteral("password1"));
    QCOMPARE(refused.outcome, SignInResult::Outcome::Locked);
    QCOMPARE(refused.lockedUntilMs, SignInGuard::windowMs);
    now = SignInGuard::windowMs;
    QCOMPARE(guard.verify(QStringLiteral("anna"), QStringLiteral("password1")).outcome, SignInResult::Outcome::SignedIn);
}

void TestAccess::idleLock()
{
    qint64 now = 5'000'000;
    SessionManager sessions([&now] { return now; }, 15 * minute, 8 * 60 * minute);
    using S = SessionManager::State;
    const Session opened = sessions.open(QStringLiteral("anna"), Role::Operator, QStringLiteral("station-2"));
    const QByteArray token = opened.token;
    QCOMPARE(token.size(), 64);
    QCOMPARE(opened.id.size(), 16);
    QVERIFY(sessions.operate(token));

    // Activity keeps the session open; 15 minutes without it lock the session.
    now += 15 * minute - 1;
    QVERIFY(sessions.operate(token));
    now += 15 * minute - 1;
    QCOMPARE(sessions.state(token), S::Active);
    now += 1;
    QCOMPARE(sessions.state(token), S::Locked);
    QCOMPARE(sessions.find(token)->userName, QStringLiteral("anna")); // still shows who is signed in
    QVERIFY(!sessions.operate(token));
    SessionManager::Sweep sweep = sessions.sweep();
    QCOMPARE(sweep.locked.size(), 1); // noticed once, although a look-up applied it
    QCOMPARE(sweep.locked.first().id, opened.id);
    QVERIFY(sweep.locked.first().token.isEmpty());
    QVERIFY(sessions.sweep().locked.isEmpty());
    QVERIFY(sessions.resume(token));
    QVERIFY(sessions.operate(token));

    // Forged tokens and ids.
    QByteArray forged = token;
    forged[63] = forged[63] == '0' ? '1' : '0';
    for (const QByteArray& t : {forged, QByteArray(), token.left(63), token.toUpper()})
        QCOMPARE(sessions.state(t), S::Unknown);
    QVERIFY(!sessions.end(QByteArray("0123456789abcdef")));

    // An administrator ends another station's session by its id; sessions() never shows tokens.
    const Session other = sessions.open(QStringLiteral("otto"), Role::Viewer, QStringLiteral("station-3"));
    QCOMPARE(sessions.sessions().size(), 2);
    QVERIFY(sessions.sessions().first().token.isEmpty());
    QVERIFY(sessions.end(other.id));
    QCOMPARE(sessions.state(other.token), S::Unknown);

    // Age ends a session however active it is.
    now = opened.issuedMs + 8 * 60 * minute;
    QCOMPARE(sessions.state(token), S::Unknown);
    QCOMPARE(sessions.sweep().expired.size(), 1);
    QVERIFY(sessions.sessions().isEmpty());
}

void TestAccess::auditChain_data()
{
    QTest::addColumn<QString>("tamper");
    QTest::addColumn<qint64>("brokenId"); // 0 when the chain verifies
    QTest::addColumn<QString>("reason");

    QTest::newRow("untouched") << QStringLiteral("none") << qint64(0) << QString();
    QTest::newRow("value edited") << QStringLiteral("edit") << qint64(3) << QStringLiteral("row 3 was changed");
    QTest::newRow("text moved across a field boundary") << QStringLiteral("shift") << qint64(3) << QStringLiteral("row 3 was changed");
    QTest::newRow("hash edited") << QStringLiteral("hash") << qint64(3) << QStringLiteral("row 3 was changed");
    QTest::newRow("row deleted") << QStringLiteral("delete") << qint64(4) << QStringLiteral("row 4 does not follow row 2: the rows between are missing");
    QTest::newRow("first row deleted") << QStringLiteral("deleteFirst") << qint64(2) << QStringLiteral("row 2 was changed");
    QTest::newRow("pair swapped, ids kept") << QStringLiteral("swap") << qint64(2) << QStringLiteral("row 2 was changed");
    QTest::newRow("pair swapped with ids") << QStringLiteral("swapRows") << qint64(3) << QStringLiteral("row 3 does not follow row 1");
    QTest::newRow("row inserted, hashed in") << QStringLiteral("insert") << qint64(3) << QStringLiteral("row 3 was changed");
    // The chain alone cannot see rows cut off at its end.
    QTest::newRow("last row deleted") << QStringLiteral("deleteLast") << qint64(0) << QString();
}

void TestAccess::auditChain()
{
    QFETCH(QString, tamper);
    QFETCH(qint64, brokenId);
    QFETCH(QString, reason);
    QList<AuditRow> rows = chain();
    if (tamper == QLatin1String("edit")) {
        rows[2].newValue = QStringLiteral("1");
    } else if (tamper == QLatin1String("shift")) {
        rows[2].station = QStringLiteral("a");
        rows[2].user = QStringLiteral("bc");
    } else if (tamper == QLatin1String("hash")) {
        rows[2].hash[0] = static_cast<char>(rows[2].hash[0] ^ 1);
    } else if (tamper == QLatin1String("delete")) {
        rows.removeAt(2);
    } else if (tamper == QLatin1String("deleteFirst")) {
        rows.removeFirst();
    } else if (tamper == QLatin1String("deleteLast")) {
        rows.removeLast();
    } else if (tamper == QLatin1String("swap")) {
        std::swap(rows[1].newValue, rows[2].newValue);
        std::swap(rows[1].oldValue, rows[2].oldValue);
        std::swap(rows[1].hash, rows[2].hash);
    } else if (tamper == QLatin1String("swapRows")) {
        rows.swapItemsAt(1, 2);
    } else if (tamper == QLatin1String("insert")) {
        AuditRow forged = rows[1];
        forged.newValue = QStringLiteral("0");
        forged.hash = AuditChain::hashOf(forged, rows[1].hash);
        rows.insert(2, forged);
        for (qsizetype i = 2; i < rows.size(); ++i)
            rows[i].id = i + 1;
    }
    const AuditChain::Verdict verdict = AuditChain::verify(rows);
    QCOMPARE(verdict.ok, brokenId == 0);
    QCOMPARE(verdict.id, brokenId);
    QVERIFY2(verdict.reason.startsWith(reason), qPrintable(verdict.reason));
    if (verdict.ok)
        QCOMPARE(verdict.checked, rows.size());
    else
        QCOMPARE(rows.at(verdict.index).id, brokenId);
}

void TestAccess::tool_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("audit"); // "" or the kind of audit file to place first
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output"); // found in standard output or standard error
    QTest::addColumn<QString>("accountsAfter");

    const auto args = [](const char* text) { return QString::fromLatin1(text).split(QLatin1Char(' ')); };
    const QString before = QStringLiteral("anna:operator");
    QTest::newRow("list") << args("list") << QByteArray() << QString() << 0 << QStringLiteral("anna\toperator\tAnna Berg") << before;
    QTest::newRow("add") << args("add bob viewer Bob Meier") << QByteArray("password7\npassword7\n") << QString() << 0 << QStringLiteral("add: done")
                         << QStringLiteral("anna:operator bob:viewer");
    QTest::newRow("add, passwords differ") << args("add bob viewer") << QByteArray("password7\npassword8\n") << QString() << 1
                                           << QStringLiteral("the two passwords differ") << before;
    QTest::newRow("add, input ends") << args("add bob viewer") << QByteArray("password7\n") << QString() << 1 << QStringLiteral("input ended") << before;
    QTest::newRow("add, name taken") << args("add ANNA viewer") << QByteArray() << QString() << 1 << QStringLiteral("the user \"anna\" exists already") << before;
    QTest::newRow("add, unknown role") << args("add bob boss") << QByteArray() << QString() << 1 << QStringLiteral("unknown role \"boss\"") << before;
    QTest::newRow("add, password is the name") << args("add Robert1234 viewer") << QByteArray("robert1234\nrobert1234\n") << QString() << 1
                                               << QStringLiteral("the password must not be the user name") << before;
    QTest::newRow("add, bad name refused before the password") << args("add  viewer") << QByteArray() << QString() << 1
                                                               << QStringLiteral("the user name is empty") << before;
    QTest::newRow("add, 3 MB pasted") << args("add bob viewer") << QByteArray(3'000'000, 'p') + "\n" << QString() << 1
                                      << QStringLiteral("longer than 1024 bytes") << before;
    QTest::newRow("remove") << args("remove anna") << QByteArray() << QString() << 0 << QStringLiteral("remove: done") << QString();
    QTest::newRow("remove, no such user") << args("remove ghost") << QByteArray() << QString() << 1 << QStringLiteral("there is no user \"ghost\"") << before;
    QTest::newRow("set-role") << args("set-role anna engineer") << QByteArray() << QString() << 0 << QStringLiteral("set-role: done")
                              << QStringLiteral("anna:engineer");
    QTest::newRow("reset-password") << args("reset-password anna") << QByteArray("password9\npassword9\n") << QString() << 0
                                    << QStringLiteral("reset-password: done") << before;
    QTest::newRow("unlock") << args("unlock anna") << QByteArray() << QString() << 0 << QStringLiteral("unlock: done") << before;
    QTest::newRow("too many arguments") << args("remove anna bob") << QByteArray() << QString() << 2 << QStringLiteral("usage: kalvora-users remove USER") << before;
    QTest::newRow("unknown command") << args("delete anna") << QByteArray() << QString() << 2 << QStringLiteral("unknown command \"delete\"") << before;
    QTest::newRow("verify-audit, no file") << args("verify-audit") << QByteArray() << QString() << 1 << QStringLiteral("audit.sqlite: the file is missing") << before;
    QTest::newRow("verify-audit, journal without chain") << args("verify-audit") << QByteArray() << QStringLiteral("nochain") << 3
                                                         << QStringLiteral("has no hash chain yet") << before;
    QTest::newRow("verify-audit, intact") << args("verify-audit") << QByteArray() << QStringLiteral("chained") << 0
                                          << QStringLiteral("3 rows, the chain is intact") << before;
    QTest::newRow("verify-audit, edited") << args("verify-audit") << QByteArray() << QStringLiteral("edited") << 1
                                          << QStringLiteral("the chain is broken at row 2: row 2 was changed") << before;
    QTest::newRow("verify-audit, newest row deleted") << args("verify-audit") << QByteArray() << QStringLiteral("cut") << 1
                                                     << QStringLiteral("broken at row 3: row 3 is missing") << before;
    QTest::newRow("verify-audit, record of the newest row deleted") << args("verify-audit") << QByteArray() << QStringLiteral("headless") << 1
                                                                    << QStringLiteral("cannot be checked to its end") << before;
}

void TestAccess::tool()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, input);
    QFETCH(QString, audit);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QFETCH(QString, accountsAfter);

    QTemporaryDir data;
    const QString folder = QDir(data.path()).filePath(QStringLiteral("Kalvora"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(m_accounts, QDir(folder).filePath(QStringLiteral("accounts.json"))));
    if (!audit.isEmpty())
        writeAuditFile(QDir(folder).filePath(QStringLiteral("audit.sqlite")), audit);

    const auto run = [&data](const QStringList& args, const QByteArray& stdinText) {
        QProcess tool;
        tool.start(QStringLiteral(KALVORA_USERS), QStringList{QStringLiteral("--data"), data.path()} + args);
        tool.write(stdinText);
        tool.closeWriteChannel();
        if (!tool.waitForFinished(60000))
            qFatal("kalvora-users did not finish");
        return std::pair{tool.exitCode(), QString::fromUtf8(tool.readAllStandardOutput() + tool.readAllStandardError())};
    };
    const auto [code, text] = run(arguments, input);
    QVERIFY2(text.contains(output), qPrintable(text));
    QCOMPARE(code, exitCode);

    AccountStore store(QDir(folder).filePath(QStringLiteral("accounts.json")));
    QCOMPARE(store.load(), QString());
    QStringList accounts;
    for (const Account& a : store.accounts())
        accounts.append(a.userName + QLatin1Char(':') + roleName(a.role));
    QCOMPARE(accounts.join(QLatin1Char(' ')), accountsAfter);
    if (arguments.first() == QLatin1String("reset-password"))
        QVERIFY(PasswordHasher::verify(store.find(QStringLiteral("anna"))->passwordHash, QStringLiteral("password9")));
}

QTEST_MAIN(TestAccess)
#include "tst_access.moc"
