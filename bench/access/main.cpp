// Measures the access room and prints its figures:
//   one Argon2id verification at the cost new accounts get (p50 and p95 of 20), the same through a
//   sign-in, and the cost of AccessRules::check per call on a project of 1,000 writable variables,
//   as a share of one core at 1,000 checks a second; then on a running runtime of the KalvoraAccess
//   project: a refused switch, sign-in, the switch carried out (p50/p95 of 20), and the runtime's
//   check of one write with its session look-up; last the same sign-in to the switch from a station of
//   kalvora-server (in process, with a real mosquitto).
#include "AccessRules.h"
#include "AccountStore.h"
#include "BrokerConfig.h"
#include "KalvoraError.h"
#include "MosquittoBroker.h"
#include "RemoteSource.h"
#include "Runtime.h"
#include "Server.h"
#include "SignInGuard.h"
#include "TagStore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

void printPercentiles(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&ms](double q) { return ms[static_cast<std::size_t>(q * static_cast<double>(ms.size() - 1) + 0.5)]; };
    std::printf("%-44s p50 %6.1f ms   p95 %6.1f ms   (%zu runs)\n", what, at(0.5), at(0.95), ms.size());
}

/// The password is checked on a worker thread (or by the server); the answer comes through the event loop.
QString signInAndWait(Runtime& runtime, const QString& user, const QString& password)
{
    std::optional<QString> error;
    const QMetaObject::Connection c = QObject::connect(&runtime, &Runtime::signInFinished, &runtime, [&error](const QString& e) { error = e; });
    if (runtime.signIn(user, password))
        (void)QTest::qWaitFor([&error] { return error.has_value(); }, 10000);
    QObject::disconnect(c);
    return error.value_or(QStringLiteral("no answer"));
}

/// Starts `runtime` on `project` and waits; false when it does not run.
bool startAndWait(Runtime& runtime, const QString& project)
{
    QObject::connect(&runtime, &Runtime::startFailed, &runtime, [](const QString& reason) { std::fprintf(stderr, "%s\n", qPrintable(reason)); });
    runtime.start(project);
    (void)QTest::qWaitFor([&runtime] { return runtime.state() == Runtime::State::Running || runtime.state() == Runtime::State::Failed; }, 60000);
    return runtime.state() == Runtime::State::Running;
}

/// The same through kalvora-server (in process, a real mosquitto): a station's switch refused, its
/// sign-in by request, the switch taken at the server (p50/p95 of 20).
int stationFigures(const QString& root, const QString& password)
{
    const QString project = QStringLiteral("KalvoraAccess");
    const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
    MosquittoBroker broker;
    broker.addAccount(QStringLiteral("server"), QStringLiteral("server-pw"), BrokerConfig::serverAccess(project));
    broker.addAccount(QStringLiteral("A"), QStringLiteral("A-pw"), BrokerConfig::stationAccess(project, QStringLiteral("A")));
    if (!broker.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(broker.errorString()));
        return 1;
    }
    ServerOptions server;
    server.runtime.dataDirectory = QDir(root).filePath(QStringLiteral("data")); // otto's account, as above
    server.runtime.backfillHours = 0;
    server.project = project;
    server.broker.port = broker.port();
    server.broker.userName = QStringLiteral("server");
    server.broker.password = QStringLiteral("server-pw");
    Server kalvoraServer(server);
    kalvoraServer.start();
    RuntimeOptions options;
    options.dataDirectory = QDir(root).filePath(QStringLiteral("station"));
    RemoteStationOptions remote;
    remote.broker.port = broker.port();
    remote.broker.userName = QStringLiteral("A");
    remote.broker.password = QStringLiteral("A-pw");
    options.remoteSource = RemoteSource::factory(remote);
    Runtime station(options);
    if (!startAndWait(station, project))
        return 1;
    int written = 0;
    QObject::connect(&kalvoraServer.runtime().tags(), &TagStore::written, &station, [&written] { ++written; });
    int asked = 0;
    QObject::connect(&station, &Runtime::signInRequired, &station, [&asked] { ++asked; });
    std::vector<double> signInToAction;
    for (int i = 0; i < 20; ++i) {
        station.signOut();
        const int before = written;
        station.tags().write(pump, i % 2 == 0);
        if (!QTest::qWaitFor([&] { return asked == i + 1; }, 10000))
            return 1;
        QElapsedTimer t;
        t.start();
        if (!signInAndWait(station, QStringLiteral("otto"), password).isEmpty() || !QTest::qWaitFor([&] { return written == before + 1; }, 10000))
            return 1;
        signInToAction.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    printPercentiles("sign-in to the switch carried out (station of a server)", signInToAction);
    station.stop();
    kalvoraServer.stop();
    return 0;
}

/// Sign-in to the action carried out, and the check per write, on a runtime of the KalvoraAccess project.
int runtimeFigures(const QString& root)
{
    RuntimeOptions options;
    options.dataDirectory = QDir(root).filePath(QStringLiteral("data"));
    options.realTime = false;
    options.backfillHours = 0;
    const QString pump = QStringLiteral("Ch1.Kalvora.WaterPump");
    const QString password = QStringLiteral("operator-pass1");
    AccountStore accounts(QDir(options.dataDirectory).filePath(QStringLiteral("KalvoraAccess/accounts.json")));
    QDir().mkpath(QFileInfo(accounts.path()).absolutePath());
    if (const QString error = accounts.add(QStringLiteral("otto"), {}, Role::Operator, password); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    Runtime runtime(options);
    bool done = false;
    QObject::connect(&runtime, &Runtime::started, &runtime, [&done] { done = true; });
    QObject::connect(&runtime, &Runtime::startFailed, &runtime, [&done](const QString& reason) {
        std::fprintf(stderr, "%s\n", qPrintable(reason));
        done = true;
    });
    runtime.start(QStringLiteral("KalvoraAccess"));
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (runtime.state() != Runtime::State::Running)
        return 1;
    int written = 0;
    QObject::connect(&runtime.tags(), &TagStore::written, &runtime, [&written] { ++written; });
    std::vector<double> signInToAction;
    for (int i = 0; i < 20; ++i) {
        runtime.signOut();
        try {
            runtime.tags().write(pump, i % 2 == 0);
            return 1; // the rules let nobody switch unsigned
        } catch (const KalvoraError&) {
        }
        const int before = written;
        QElapsedTimer t;
        t.start();
        if (!signInAndWait(runtime, QStringLiteral("otto"), password).isEmpty() || written != before + 1)
            return 1;
        signInToAction.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    printPercentiles("sign-in to the switch carried out (runtime)", signInToAction);

    constexpr int writes = 200'000;
    QElapsedTimer t;
    t.start();
    int allowed = 0;
    for (int i = 0; i < writes; ++i)
        allowed += runtime.access().check(AccessRules::Action::Write, pump, runtime.localActor()).allowed ? 1 : 0;
    const double ns = static_cast<double>(t.nsecsElapsed()) / writes;
    std::printf("runtime check of one write (session look-up and rule): %.0f ns (%d allowed); 1,000 writes/s take %.4f %% of one core\n", ns,
        allowed, ns * 1000 / 1e9 * 100);
    runtime.stop();
    return stationFigures(root, password);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const PasswordHasher::Cost cost = PasswordHasher::interactive();
    std::printf("Argon2id cost: opslimit %llu, memlimit %zu MiB\n", cost.opsLimit, cost.memLimit / (1024 * 1024));

    AccountStore store(QDir(dir.path()).filePath(AccountStore::fileName()), PasswordHasher(cost));
    if (const QString error = store.add(QStringLiteral("anna"), {}, Role::Operator, QStringLiteral("password1")); !error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    constexpr int runs = 20;
    std::vector<double> verify;
    std::vector<double> signIn;
    SignInGuard guard(store, [] { return QDateTime::currentMSecsSinceEpoch(); });
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        PasswordHasher::verify(store.find(QStringLiteral("anna"))->passwordHash, QStringLiteral("password1"));
        verify.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        t.restart();
        if (!guard.verify(QStringLiteral("anna"), QStringLiteral("password1")).ok())
            return 1;
        signIn.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    printPercentiles("one Argon2id verification", verify);
    printPercentiles("one sign-in (SignInGuard::verify)", signIn);

    // 1,000 writable variables over 3 units; the rules mix exact names and patterns.
    QStringList variables;
    for (int unit = 1; unit <= 3; ++unit) {
        for (int i = 0; i < 333; ++i)
            variables.append(QStringLiteral("Ch1.Kalvora.Unit%1.Value%2").arg(unit).arg(i));
    }
    variables.append(QStringLiteral("Ch1.Kalvora.Storage.Outlet"));
    const QString rulesPath = QDir(dir.path()).filePath(AccessRules::fileName());
    QFile file(rulesPath);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"format": 1, "write": [
        {"role": "engineer", "variables": ["Ch1.Kalvora.Unit1.Value1", "Ch1.Kalvora.Storage.Outlet"]},
        {"role": "operator", "variables": ["Ch1.Kalvora.Unit*"]}]})");
    file.close();
    QElapsedTimer loadTimer;
    loadTimer.start();
    const AccessRules::Loaded loaded = AccessRules::load(rulesPath, variables, {});
    const double loadMs = static_cast<double>(loadTimer.nsecsElapsed()) / 1e6;
    if (!loaded.error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(loaded.error));
        return 1;
    }
    constexpr int checks = 2'000'000;
    int allowed = 0;
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < checks; ++i)
        allowed += loaded.rules.check(AccessRules::Action::Write, variables.at(i % variables.size()), Role::Operator).allowed ? 1 : 0;
    const double nsPerCheck = static_cast<double>(t.nsecsElapsed()) / checks;
    std::printf("access.json of 1,000 variables read in %.1f ms\n", loadMs);
    std::printf("AccessRules::check: %.0f ns per call (%d of %d allowed); 1,000 checks/s take %.4f %% of one core\n", nsPerCheck, allowed,
        checks, nsPerCheck * 1000 / 1e9 * 100);
    return runtimeFigures(dir.path());
}
