#include "StationRole.h"

#include "AlarmEngine.h"
#include "BenchStation.h"
#include "BrokerSettings.h"
#include "PlcBench.h"
#include "QMSAlarmList.h"
#include "QMSVarOut.h"
#include "RemoteSource.h"
#include "Runtime.h"
#include "TagStore.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QJsonArray>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace StationRole {

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

namespace {

void answer(const QString& line)
{
    std::printf("@%s\n", qPrintable(line));
    std::fflush(stdout);
}

QString argument(const QStringList& arguments, const char* name)
{
    const qsizetype at = arguments.indexOf(QString::fromLatin1(name));
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

/// Answers once at the first paint of the alarm list that shows the alarm acknowledged.
class SteadyWatch final : public QObject {
public:
    explicit SteadyWatch(QMSAlarmList& list)
        : m_list(list)
    {
        list.installEventFilter(this);
    }
    QString armedFor;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || armedFor.isEmpty())
            return false;
        for (const AlarmInfo& row : m_list.alarms())
            if (row.id == armedFor && row.isAcknowledged()) {
                armedFor.clear();
                answer(QStringLiteral("steady %1").arg(monotonicNs()));
            }
        return false;
    }

private:
    QMSAlarmList& m_list;
};

/// Checks every millisecond until `check` holds, then runs `then`: precise enough for figures in tens
/// of milliseconds, and no busy loop that would take the core from the processes being measured.
void awaitThen(QObject* context, std::function<bool()> check, std::function<void()> then)
{
    auto* timer = new QTimer(context);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, context, [timer, check = std::move(check), then = std::move(then)] {
        if (!check())
            return;
        timer->deleteLater();
        timer->stop();
        then();
    });
    timer->start();
}

QStringList mappedVariables(const QString& projectFolder)
{
    QStringList names;
    const QJsonArray map = PlcBench::readJson(QDir(projectFolder).filePath(QStringLiteral("modbus.json"))).object().value(QStringLiteral("map")).toArray();
    for (const QJsonValue& m : map)
        names.append(m.toObject().value(QStringLiteral("variable")).toString());
    return names;
}

} // namespace

int run(const QStringList& arguments)
{
    RuntimeOptions options;
    options.projectsRoot = argument(arguments, "--projects");
    options.projectOverride = argument(arguments, "--project");
    options.dataDirectory = argument(arguments, "--data");
    const QString login = argument(arguments, "--station");
    if (!login.isEmpty()) {
        const BrokerSettings::Result read = BrokerSettings::readFile(login);
        if (!read.ok()) {
            std::fprintf(stderr, "%s\n", qPrintable(read.error));
            return 1;
        }
        RemoteStationOptions station;
        station.broker = read.settings;
        station.user = QStringLiteral("bench");
        options.remoteSource = RemoteSource::factory(station);
    }
    BenchStation bench(options);
    if (!bench.startUp(60000))
        return 1;
    Runtime& runtime = bench.runtime();
    TagStore& tags = runtime.tags();
    const QStringList mapped = mappedVariables(QDir(options.projectsRoot).filePath(options.projectOverride));
    const auto every = [&](bool good) {
        return std::all_of(mapped.begin(), mapped.end(), [&](const QString& name) { return tags.value(name).isGood() == good; });
    };
    QObject::connect(&runtime, &Runtime::writeFailed, [](const QString& variable, const QString& reason) {
        std::fprintf(stderr, "write to %s failed: %s\n", qPrintable(variable), qPrintable(reason));
    });

    // What is measured: a value control on the PLC's clock, an alarm list of the bench alarm's group.
    QMSVarOut clockView(runtime, nullptr);
    clockView.setProperty("processVariable", PlcBench::Clock);
    clockView.resize(120, 24);
    clockView.show();
    PlcBench::ClockPaintWatch paints(tags);
    clockView.installEventFilter(&paints);
    QMSAlarmList alarmList(runtime, nullptr);
    alarmList.setProperty("alarmGroup", QStringLiteral("FCentralAlarms1"));
    alarmList.resize(600, 200);
    alarmList.show();
    SteadyWatch steady(alarmList);
    AlarmEngine& alarms = runtime.alarms();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    bool inputClosed = false;
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            // The benchmark is gone (or done): stop listening, the closed input would wake us forever.
            input.setEnabled(false);
            inputClosed = true;
            QCoreApplication::quit();
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QStringList words = QString::fromUtf8(pending.left(end)).split(u' ', Qt::SkipEmptyParts);
            pending.remove(0, end + 1);
            const QString command = words.value(0);
            const QString id = words.value(1);
            if (command == QLatin1String("measure")) {
                paints.delaysMs.clear();
                paints.counting = true;
            } else if (command == QLatin1String("report")) {
                paints.counting = false;
                QStringList delays;
                for (const double d : paints.delaysMs)
                    delays.append(QString::number(d));
                answer(QStringLiteral("delays ") + delays.join(u' '));
            } else if (command == QLatin1String("write")) {
                tags.write(id, words.value(2).toDouble());
                answer(QStringLiteral("written"));
            } else if (command == QLatin1String("ack")) {
                const qint64 at = monotonicNs();
                alarms.acknowledgeAlarm(id);
                answer(QStringLiteral("acked %1").arg(at));
            } else if (command == QLatin1String("await-active")) {
                awaitThen(&runtime, [&alarms, id] { return alarms.alarm(id).state == AlarmState::ActiveUnacknowledged; },
                          [] { answer(QStringLiteral("active")); });
            } else if (command == QLatin1String("await-steady")) {
                steady.armedFor = id;
                answer(QStringLiteral("armed"));
            } else if (command == QLatin1String("await-normal")) {
                awaitThen(&runtime, [&alarms, id] { return alarms.alarm(id).state == AlarmState::Normal; }, [] { answer(QStringLiteral("normal")); });
            } else if (command == QLatin1String("await-bad") || command == QLatin1String("await-good")) {
                const bool good = command == QLatin1String("await-good");
                awaitThen(&runtime, [every, good] { return every(good); }, [good] { answer(QStringLiteral("%1 %2").arg(good ? QStringLiteral("good") : QStringLiteral("bad")).arg(monotonicNs())); });
                answer(QStringLiteral("armed"));
            } else if (command == QLatin1String("quit")) {
                QCoreApplication::quit();
            }
        }
    });

    if (!QTest::qWaitFor([&] { return every(true) || inputClosed; }, 30000) || inputClosed) {
        std::fprintf(stderr, "the values did not all arrive\n");
        return 1;
    }
    answer(QStringLiteral("ready"));
    QCoreApplication::exec();
    return 0;
}

} // namespace StationRole
