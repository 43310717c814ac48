#include "AccessStatus.h"
#include "AccountStore.h"
#include "EngineTestSupport.h"
#include "KalvoraError.h"
#include "SignInDialog.h"
#include "TextDatabase.h"
#include "TagStore.h"

#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QWidget>

namespace {

const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
const QString password = QStringLiteral("operator-pass1");

} // namespace

/// The station's side of access control on an embedded runtime: the sign-in dialog that a refused
/// switch opens, the shortcut, and who is signed in in the window titles.
class TestAccessStation : public QObject {
    Q_OBJECT

private slots:
    void refusedSwitchSignsInAndSwitches();
};

void TestAccessStation::refusedSwitchSignsInAndSwitches()
{
    QTemporaryDir dir;
    const QString projects = copyProject(dir.path());
    QFile rules(QDir(projects).filePath(QStringLiteral("Kalvora/access.json")));
    QVERIFY(rules.open(QIODevice::WriteOnly));
    rules.write(R"({"format": 1, "write": [{"role": "operator", "variables": ["Ch1.Kalvora.WaterPump"]}]})");
    rules.close();
    RuntimeOptions options = testOptions(dir.path());
    AccountStore accounts(QDir(options.dataDirectory).filePath(QStringLiteral("Kalvora/accounts.json")), PasswordHasher(PasswordHasher::minimal()));
    QVERIFY(QDir().mkpath(QFileInfo(accounts.path()).absolutePath()));
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

QTEST_MAIN(TestAccessStation)
#include "tst_access_station.moc"
