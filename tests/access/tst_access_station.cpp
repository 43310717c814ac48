#include "AccessStatus.h"
#include "AccountStore.h"
#include "AuditChain.h"
#include "EngineTestSupport.h"
#include "KalvoraError.h"
#include "SignInDialog.h"
#include "TextDatabase.h"
#include "TagStore.h"

#include <QDateTime>
#include <QLabel>
#include <QProcess>
#include <QSysInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>

namespace {

const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
const QString password = QStringLiteral("operator-pass1");

/// The demo project in `root` with access control on: operators may switch the water pump.
RuntimeOptions accessProject(const QString& root)
{
    QFile rules(QDir(copyProject(root)).filePath(QStringLiteral("Kalvora/access.json")));
    if (!rules.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(rules.fileName()));
    rules.write(R"({"format": 1, "write": [{"role": "operator", "variables": ["Ch1.Kalvora.WaterPump"]}]})");
    return testOptions(root);
}

} // namespace

/// The station's side of access control on an embedded runtime: the sign-in dialog that a refused
/// switch opens, the shortcut, and who is signed in in the window titles.
class TestAccessStation : public QObject {
    Q_OBJECT

private slots:
    void refusedSwitchSignsInAndSwitches();
    void accountChangesReachTheRunningRuntime_data();
    void accountChangesReachTheRunningRuntime();
};

void TestAccessStation::refusedSwitchSignsInAndSwitches()
{
    QTemporaryDir dir;
    const RuntimeOptions options = accessProject(dir.path());
    AccountStore accounts(QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/accounts.json")), PasswordHasher(PasswordHasher::minimal()));
    QCOMPARE(accounts.add(QStringLiteral("otto"), {}, Role::Operator, password), QString());
    Runtime runtime(options);
    AccessStatus status(runtime);
    QCOMPARE(startAndWait(runtime), QString());
    QWidget screen;
    screen.setWindowTitle(QStringLiteral("Kalvora"));
    screen.show();
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — nicht angemeldet"));

    const bool before = runtime.tags().value(pump).value.toBool();
    QVERIFY_THROWS_EXCEPTION(KalvoraError, runtime.tags().write(pump, !before));
    QVERIFY(status.dialog());
    const QList<QLineEdit*> fields = status.dialog()->findChildren<QLineEdit*>();
    QCOMPARE(fields.at(1)->echoMode(), QLineEdit::Password);
    fields.at(0)->setText(QStringLiteral("otto"));
    fields.at(1)->setText(QStringLiteral("wrong-password"));
    QSignalSpy answered(&runtime, &Runtime::signInFinished);
    status.dialog()->accept();
    // Back at once: the password is checked on a worker, the dialog waits, a second try is turned away.
    QVERIFY(runtime.isSigningIn() && answered.isEmpty() && !fields.at(1)->isEnabled());
    QVERIFY(!runtime.signIn(QStringLiteral("otto"), password));
    QVERIFY(answered.wait());
    QCOMPARE(answered.takeFirst().first().toString(), QStringLiteral("Wrong user name or password."));
    QVERIFY(status.dialog() && status.dialog()->isVisible()); // stays open for another try
    fields.at(1)->setText(password);
    status.dialog()->accept();
    QTRY_VERIFY(!status.dialog());
    runtime.advance(2);
    QCOMPARE(runtime.tags().value(pump).value.toBool(), !before);
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — Bediener otto"));
    // The dialog and the title speak the screens' language.
    runtime.texts().setLanguageId(TextDatabase::English);
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — operator otto"));
    // A window that sets its own title (a language switch reloads its texts) keeps who is signed in.
    screen.setWindowTitle(QStringLiteral("Kalvora (English)"));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora (English) — operator otto"));
    screen.setWindowTitle(QStringLiteral("Kalvora"));
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — operator otto"));
    {
        SignInDialog english(runtime, {}, nullptr);
        QCOMPARE(english.windowTitle(), QStringLiteral("Sign in"));
        QStringList labels;
        for (const QLabel* label : english.findChildren<QLabel*>())
            labels.append(label->text());
        QVERIFY2(labels.contains(QStringLiteral("Sign in to operate the plant.")) && labels.contains(QStringLiteral("Password")), qPrintable(labels.join(u'|')));
    }
    runtime.texts().setLanguageId(TextDatabase::German);

    // Ctrl+Alt+L on any window signs out.
    QTest::keyClick(&screen, Qt::Key_L, Qt::ControlModifier | Qt::AltModifier);
    QVERIFY(!runtime.localSession());
    QCOMPARE(screen.windowTitle(), QStringLiteral("Kalvora — nicht angemeldet"));
    runtime.stop();
}

void TestAccessStation::accountChangesReachTheRunningRuntime_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("journalled"); // target, old value, new value and reason of the audit row
    QTest::addColumn<bool>("sessionStays");  // otto's session, signed in before the change
    QTest::addColumn<QString>("signIn");     // user and password tried afterwards
    QTest::addColumn<QString>("signedIn");   // the role then, or the refusal
    QTest::addColumn<QByteArray>("logged");  // already in the change log when the runtime starts

    QTest::newRow("add") << QStringLiteral("add vera viewer Vera Viewer") << QByteArray("vera-pass12\nvera-pass12\n")
                         << QStringLiteral("vera||viewer|account added") << true << QStringLiteral("vera vera-pass12") << QStringLiteral("viewer") << QByteArray();
    QTest::newRow("remove") << QStringLiteral("remove otto") << QByteArray() << QStringLiteral("otto|operator||account removed") << false
                            << QStringLiteral("otto operator-pass1") << QStringLiteral("Wrong user name or password.") << QByteArray();
    QTest::newRow("set-role") << QStringLiteral("set-role otto engineer") << QByteArray() << QStringLiteral("otto|operator|engineer|role changed") << false
                              << QStringLiteral("otto operator-pass1") << QStringLiteral("engineer") << QByteArray();
    QTest::newRow("reset-password, the old one refused") << QStringLiteral("reset-password otto") << QByteArray("otto-new-pass\notto-new-pass\n")
                                                         << QStringLiteral("otto|operator|operator|password reset") << true
                                                         << QStringLiteral("otto operator-pass1") << QStringLiteral("Wrong user name or password.") << QByteArray();
    QTest::newRow("reset-password, the new one taken") << QStringLiteral("reset-password otto") << QByteArray("otto-new-pass\notto-new-pass\n")
                                                       << QStringLiteral("otto|operator|operator|password reset") << true
                                                       << QStringLiteral("otto otto-new-pass") << QStringLiteral("operator") << QByteArray();
    QTest::newRow("unlock") << QStringLiteral("unlock anna") << QByteArray() << QStringLiteral("anna|operator|operator|account unlocked") << true
                            << QStringLiteral("anna operator-pass1") << QStringLiteral("operator") << QByteArray();
    // A line cut short by a tool that died is journalled as such, not lost, and blocks nothing after it.
    QTest::newRow("after a damaged line") << QStringLiteral("set-role anna viewer") << QByteArray()
                                          << QStringLiteral("anna|operator|viewer|role changed") << true << QStringLiteral("anna operator-pass1")
                                          << QStringLiteral("Too many failed sign-ins") << QByteArray(R"({"time": 17, "station": "desk", "us)");
}

void TestAccessStation::accountChangesReachTheRunningRuntime()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, input);
    QFETCH(QString, journalled);
    QFETCH(bool, sessionStays);
    QFETCH(QString, signIn);
    QFETCH(QString, signedIn);
    QFETCH(QByteArray, logged);
    QTemporaryDir dir;
    const RuntimeOptions options = accessProject(dir.path());
    AccountStore accounts(QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/accounts.json")), PasswordHasher(PasswordHasher::minimal()));
    for (const QString& user : {QStringLiteral("otto"), QStringLiteral("anna")})
        QCOMPARE(accounts.add(user, {}, Role::Operator, password), QString());
    // anna is locked out, as five wrong passwords in a row leave her.
    QCOMPARE(accounts.setSignInState(QStringLiteral("anna"), 0, QDateTime::currentMSecsSinceEpoch() + 3'600'000), QString());
    QFile log(QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/account-changes.log")));
    QVERIFY(logged.isEmpty() || (log.open(QIODevice::WriteOnly) && log.write(logged) == logged.size()));
    log.close();
    Runtime runtime(options);
    QCOMPARE(startAndWait(runtime), QString());
    QCOMPARE(signInAndWait(runtime, QStringLiteral("otto"), password), QString());

    QProcess tool;
    tool.start(QStringLiteral(KALVORA_USERS), QStringList{QStringLiteral("--data"), options.dataDirectory} + command.split(u' '));
    tool.write(input);
    tool.closeWriteChannel();
    QVERIFY(tool.waitForFinished(30000));
    QVERIFY2(tool.exitCode() == 0, tool.readAllStandardError().constData());

    // The change, and after it the end of a session it took away.
    AuditEntry row;
    const auto newest = [&runtime, &row] {
        for (const AuditEntry& e : runtime.audit().history(2))
            if (e.action == u"account-change")
                return QStringList{(row = e).target, e.oldValue, e.newValue, e.reason}.join(u'|');
        return QString();
    };
    QTRY_COMPARE(newest(), journalled);
    QCOMPARE(row.station, QSysInfo::machineHostName());
    QVERIFY(!row.user.isEmpty());
    // Nothing waits in the log once the journal has the change, and the chain takes it in.
    QTRY_COMPARE(QFileInfo(log).size(), 0);
    QList<AuditEntry> rows = runtime.audit().history(100);
    const bool damageJournalled = std::any_of(rows.cbegin(), rows.cend(), [](const AuditEntry& e) {
        return e.result == u"failed" && e.reason.contains(u"account-changes.log, line 1: not an account change");
    });
    QCOMPARE(damageJournalled, !logged.isEmpty());
    std::reverse(rows.begin(), rows.end());
    QVERIFY(AuditChain::verify(rows, runtime.audit().head()).ok);

    QTRY_COMPARE(runtime.localSession() != nullptr, sessionStays);
    runtime.signOut();
    const QStringList credentials = signIn.split(u' ');
    const QString refused = signInAndWait(runtime, credentials.at(0), credentials.at(1));
    QVERIFY2((refused.isEmpty() ? roleName(runtime.localSession()->role) : refused).startsWith(signedIn), qPrintable(refused));
    runtime.stop();
}

QTEST_MAIN(TestAccessStation)
#include "tst_access_station.moc"
