#include "Runtime.h"

#include "AlarmEngine.h"
#include "AlarmJournal.h"
#include "ArchiveStore.h"
#include "Credentials.h"
#include "KalvoraError.h"
#include "ModbusConfig.h"
#include "ModbusSource.h"
#include "PlantSimulator.h"
#include "ProjectLoader.h"
#include "SimulationSource.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>

#include <cmath>

namespace {

// One event-loop step of generated history; keeps the start window responsive.
constexpr qint64 BackfillChunkMs = 3600 * 1000;
// The alarm journal is trimmed once a minute of recording.
constexpr qint64 JournalTrimEvery = 60;
constexpr int JournalTrimBatch = 200;

} // namespace

Runtime::Runtime(RuntimeOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_tags(new TagStore(this))
    , m_texts(new TextDatabase(this))
    , m_alarms(new AlarmEngine(*m_tags, *m_texts, this))
    , m_archive(new ArchiveStore(this))
    , m_timer(new QTimer(this))
    , m_embeddedHistory(*m_archive, m_alarms->journal())
    , m_history(&m_embeddedHistory)
{
    // An alarm command a station could not pass on is told like a refused write.
    connect(m_alarms, &AlarmEngine::commandFailed, this, &Runtime::writeFailed);
    m_alarms->setClock([this] { return now(); });
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &Runtime::tickGuarded);
    // Operator writes go to the source, which shows them once the plant has taken them; every one of
    // them, taken or refused, goes into the audit journal.
    m_tags->setWriteHandlers(
        [this](const QString& name, const QVariant& value) {
            if (!m_source)
                return false;
            m_source->write(writeRequest(name, value));
            return true;
        },
        [this](const QString& name, const QVariant& value, const QString& reason) {
            journalWrite(writeRequest(name, value), QStringLiteral("refused"), reason);
        });
    const auto damaged = [this](const QString& notice) {
        m_notices.append(notice);
        m_archiveDamagedUntil = now() + DamageShownMs;
    };
    connect(m_archive, &ArchiveStore::damagedReplaced, this, damaged);
    // The journals are kept as the archive is, and a damaged one raises the same fault.
    m_alarms->journal().setDamageHandler(damaged);
    m_audit.setDamageHandler(damaged);
    setUpAccess();
}

void Runtime::setUpAccess()
{
    AccessClock clock = m_options.accessClock ? m_options.accessClock : AccessClock([] { return QDateTime::currentMSecsSinceEpoch(); });
    m_access = new RuntimeAccess(std::move(clock), [this](const AuditEntry& entry) { journalAudit(entry); }, this);
    m_defaultOperator = m_alarms->operatorName();
    // The session locks and ends on the wall clock, also while nothing is clicked.
    m_sessionTimer = new QTimer(this);
    m_sessionTimer->setInterval(1000);
    connect(m_sessionTimer, &QTimer::timeout, m_access, &RuntimeAccess::sweep);
    connect(m_access, &RuntimeAccess::sessionsChanged, this, [this] {
        const Session* s = localSession();
        m_alarms->setOperator(s ? QSysInfo::machineHostName() + QLatin1Char('/') + s->userName : m_defaultOperator);
        Q_EMIT sessionChanged();
    });
    // A refused write reaches the refusal handler like a failed check and is journalled there.
    m_tags->setWriteGate([this](const QString& name, const QVariant& value) -> QString {
        if (!m_writeStation.isEmpty()) {
            const AccessRules::Decision d = m_access->check(AccessRules::Action::Write, name, Actor{m_writeStation, m_writeUser, m_writeRole});
            return d.allowed ? QString() : d.reason;
        }
        return gate(AccessRules::Action::Write, name, [this, name, value] {
            try {
                m_tags->write(name, value);
            } catch (const KalvoraError& e) {
                Q_EMIT writeFailed(name, e.message());
            }
        });
    });
    m_alarms->setCommandGate([this](const QString& action, const QString& group, const QString& alarm, std::function<void()> retry) {
        const AccessRules::Action a = action == QLatin1String("acknowledge") ? AccessRules::Action::Acknowledge
            : action == QLatin1String("shelve")                             ? AccessRules::Action::Shelve
                                                                            : AccessRules::Action::Unshelve;
        const QString reason = gate(a, group, std::move(retry));
        if (!reason.isEmpty())
            journalRefused(action, alarm.isEmpty() ? group : alarm, localActor(), reason);
        return reason;
    });
    // Every alarm command carried out here, from these screens or a station's, is audited.
    connect(m_alarms, &AlarmEngine::commandCarried, this, [this](const QString& action, const QString& target, const QString& result, const QString& by) {
        const qsizetype slash = by.indexOf(QLatin1Char('/'));
        journalAudit(AuditEntry{0, now(), by.left(slash), slash < 0 ? QString() : by.mid(slash + 1), action, target, {}, result, QStringLiteral("ok"), {}, {}});
    });
}

QString Runtime::gate(AccessRules::Action action, const QString& target, std::function<void()> retry)
{
    if (m_access->isOpen())
        return {};
    const AccessRules::Decision decision = m_access->check(action, target, localActor(), m_localToken);
    if (decision.allowed)
        return {};
    if (decision.signInHelps()) {
        m_pendingAction = std::move(retry);
        Q_EMIT signInRequired(decision.reason);
    }
    return decision.reason;
}

Actor Runtime::localActor()
{
    const Session* s = localSession();
    if (!s)
        return {QSysInfo::machineHostName(), qEnvironmentVariable("USER", qEnvironmentVariable("USERNAME")), std::nullopt};
    return m_access->actor(QSysInfo::machineHostName(), m_localToken);
}

const Session* Runtime::localSession()
{
    if (m_localToken.isEmpty())
        return nullptr;
    const Session* s = m_access->sessions().find(m_localToken);
    if (!s)
        m_localToken.clear(); // ended by age or by an administrator
    return s;
}

QString Runtime::signIn(const QString& user, const QString& password)
{
    const QString station = QSysInfo::machineHostName();
    const Session* current = localSession();
    const bool resume = current && current->locked && Credentials::sameUser(current->userName, user);
    const RuntimeAccess::SignIn result = resume ? m_access->unlock(station, m_localToken, password) : m_access->signIn(station, user, password);
    if (!result.error.isEmpty())
        return result.error;
    if (!resume) {
        if (!m_localToken.isEmpty())
            m_access->signOut(m_localToken);
        m_localToken = result.session.token;
        Q_EMIT m_access->sessionsChanged();
    }
    if (const std::function<void()> pending = std::exchange(m_pendingAction, nullptr))
        pending();
    return {};
}

void Runtime::signOut()
{
    m_pendingAction = nullptr;
    if (!m_localToken.isEmpty())
        m_access->signOut(std::exchange(m_localToken, QByteArray()));
}

void Runtime::journalRefused(const QString& action, const QString& target, const Actor& actor, const QString& reason)
{
    journalAudit(AuditEntry{0, now(), actor.station, actor.user, action, target, {}, {}, QStringLiteral("refused"), reason, {}});
}

void Runtime::journalAudit(const AuditEntry& entry)
{
    // A station keeps no journal: the server journals what reaches it.
    if (isStation())
        return;
    // The action itself stands; a line the file refuses is held and raises the archive fault.
    m_audit.append(entry);
    publishArchiveFault(now());
}

PlantSimulator* Runtime::simulator()
{
    return m_source ? m_source->simulator() : nullptr;
}

QString Runtime::statusPrefix(const Project& project)
{
    return project.simulation.prefix + QStringLiteral("System.");
}

QString Runtime::commFaultVariable(const Project& project)
{
    return statusPrefix(project) + QStringLiteral("CommFault");
}

WriteRequest Runtime::writeRequest(const QString& name, const QVariant& value)
{
    return {m_nextWrite++, name, value, m_tags->value(name).value, now(), m_writeStation, m_writeUser};
}

void Runtime::writeFrom(const QString& station, const QString& user, const QString& name, const QVariant& value, std::optional<Role> role)
{
    m_writeStation = station;
    m_writeUser = user;
    m_writeRole = role;
    // Reset however the write ends: the next local click is this machine's again.
    const auto reset = qScopeGuard([this] {
        m_writeStation.clear();
        m_writeUser.clear();
        m_writeRole.reset();
    });
    m_tags->write(name, value);
}

void Runtime::journalWrite(const WriteRequest& request, const QString& result, const QString& reason)
{
    const bool remote = !request.station.isEmpty();
    const Actor local = remote ? Actor{} : localActor();
    const AuditEntry entry{0, now(), remote ? request.station : local.station, remote ? request.user : local.user, QStringLiteral("write"),
        request.variable, AuditJournal::valueText(request.oldValue), AuditJournal::valueText(request.value), result, reason, {}};
    if (result != QStringLiteral("ok"))
        qWarning().noquote() << QStringLiteral("Operator write %1 = %2 %3: %4").arg(entry.target, entry.newValue, result, reason);
    journalAudit(entry);
}

void Runtime::dropSource()
{
    if (!m_source)
        return;
    // A station's alarm commands and history reads went through the source: not past its end.
    m_alarms->setCommandSink(nullptr);
    m_history = &m_embeddedHistory;
    m_source->stop();
    delete m_source;
    m_source = nullptr;
}

void Runtime::publishStatus(qint64 nowMs)
{
    const QString name = commFaultVariable(m_project);
    if (m_tags->contains(name))
        m_tags->publish(name, m_source && m_source->isFaulty(), TagQuality::Good, nowMs);
}

void Runtime::sourceUpdated(qint64 nowMs)
{
    if (m_state != State::Running)
        return;
    try {
        publishStatus(nowMs);
        m_alarms->evaluate(nowMs);
        record(nowMs);
    } catch (const KalvoraError& e) {
        fail(e.message());
    } catch (const std::exception& e) {
        fail(QString::fromLocal8Bit(e.what()));
    }
}

Runtime::~Runtime()
{
    m_timer->stop();
    closeStorage(m_state == State::Running);
}

QString Runtime::projectDirectory() const
{
    const QString root = m_options.projectsRoot.isEmpty()
        ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("project"))
        : m_options.projectsRoot;
    return QDir(root).filePath(m_projectName);
}

QString Runtime::dataFolder() const
{
    const QString root = m_options.dataDirectory.isEmpty()
        ? QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("Kalvora"))
        : m_options.dataDirectory;
    return QDir(root).filePath(m_projectName);
}

qint64 Runtime::now() const
{
    return m_options.realTime ? QDateTime::currentMSecsSinceEpoch() : m_virtualNow;
}

void Runtime::setSpeed(double factor)
{
    if (!(factor > 0.0) || factor > 3600.0)
        throw KalvoraError(QStringLiteral("Plant speed %1 is outside 0 to 3600").arg(factor));
    m_speed = factor;
}

void Runtime::start(const QString& projectName)
{
    if (m_state != State::Stopped && m_state != State::Failed)
        return;
    m_projectName = m_options.projectOverride.isEmpty() ? projectName : m_options.projectOverride;
    m_lastError.clear();
    m_notices.clear();
    m_state = State::Starting;
    m_virtualNow = m_options.startTimeMs > 0 ? m_options.startTimeMs : QDateTime::currentMSecsSinceEpoch();
    m_lastRecorded = 0;
    m_archiveDamagedUntil = 0;
    m_archiveFaultShown = -1;
    m_steps.clear();
    schedule([this] { loadProject(); });
    if (isStation()) {
        schedule([this] { goLive(); });
        QTimer::singleShot(0, this, &Runtime::runStep);
        return;
    }
    schedule([this] {
        openStore(QStringLiteral("Archiv wird geöffnet"), QStringLiteral("archive.sqlite"), [this](const QString& path, QString* notice) {
            const HistorySettings& history = m_project.history;
            if (history.store == HistoryStoreKind::Embedded)
                return m_archive->open(std::make_unique<SqliteArchiveBackend>(path, m_options.archiveLayout), notice);
            if (!m_options.historyServer.archive || !m_options.historyServer.alarmJournal)
                return QStringLiteral("%1: this program keeps history only in files and cannot use the database server the project names")
                    .arg(QDir::toNativeSeparators(QDir(projectDirectory()).filePath(QStringLiteral("project.json"))));
            return m_archive->open(m_options.historyServer.archive(history.connection), notice);
        });
    });
    schedule([this] {
        openStore(QStringLiteral("Alarmjournal wird geöffnet"), QStringLiteral("alarms.sqlite"),
            [this](const QString& path, QString* notice) {
                if (m_project.history.store == HistoryStoreKind::Embedded)
                    return m_alarms->openJournal(path, notice);
                return m_alarms->openJournal(m_options.historyServer.alarmJournal(m_project.history.connection), notice);
            });
        // The audit journal of operator writes lies beside the alarm journal and opens with it.
        if (m_state == State::Starting) {
            QString notice;
            const QString error = m_audit.open(QDir(dataFolder()).filePath(QStringLiteral("audit.sqlite")), &notice);
            if (!error.isEmpty())
                return failStart(error);
            if (!notice.isEmpty()) {
                m_notices.append(notice);
                qWarning().noquote() << notice;
            }
        }
    });
    schedule([this] { prepareHistory(); });
    QTimer::singleShot(0, this, &Runtime::runStep);
}

void Runtime::schedule(Step step)
{
    m_steps.push_back(std::move(step));
}

void Runtime::runStep()
{
    if (m_state != State::Starting || m_steps.empty())
        return;
    Step step = std::move(m_steps.front());
    m_steps.pop_front();
    try {
        step();
    } catch (const KalvoraError& e) {
        failStart(e.message());
        return;
    } catch (const std::exception& e) {
        failStart(QString::fromLocal8Bit(e.what()));
        return;
    }
    if (m_state == State::Starting && !m_steps.empty())
        QTimer::singleShot(0, this, &Runtime::runStep);
}

bool Runtime::report(const QString& step)
{
    Q_EMIT progress(step);
    // A handler of progress() may have stopped the runtime.
    return m_state == State::Starting;
}

void Runtime::failStart(const QString& reason)
{
    m_steps.clear();
    closeStorage(false);
    dropSource();
    m_state = State::Failed;
    m_lastError = reason;
    qWarning().noquote() << "Runtime start failed:" << reason;
    Q_EMIT startFailed(reason);
}

void Runtime::loadProject()
{
    if (!report(QStringLiteral("Projekt wird geladen")))
        return;
    if (const QString fault = ProjectLoader::nameFault(m_projectName); !fault.isEmpty())
        return failStart(fault);
    const QString folder = projectDirectory();
    if (!QFileInfo(folder).isDir())
        return failStart(QStringLiteral("The runtime project \"%1\" was not found: the folder %2 does not exist")
                             .arg(m_projectName, QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath())));
    ProjectLoadResult loaded = ProjectLoader::load(folder);
    if (!loaded.ok())
        return failStart(loaded.error);
    ModbusConfigResult modbus;
    if (loaded.project.source == PlantSourceKind::Modbus) {
        modbus = ModbusConfigLoader::load(folder, loaded.project.variables, statusPrefix(loaded.project));
        if (!modbus.ok())
            return failStart(modbus.error);
    }
    m_project = std::move(loaded.project);
    // A station takes its permissions from the server, which checks every command it sends.
    if (!isStation()) {
        QStringList variables, groups;
        for (const TagDefinition& def : std::as_const(m_project.variables))
            variables.append(def.name);
        for (const AlarmGroupDefinition& group : std::as_const(m_project.alarmGroups))
            groups.append(group.name);
        m_localToken.clear();
        if (const QString error = m_access->load(folder, dataFolder(), variables, groups); !error.isEmpty())
            return failStart(error);
        if (m_access->isOpen())
            m_sessionTimer->stop();
        else
            m_sessionTimer->start();
    }

    for (const TagDefinition& def : std::as_const(m_project.variables))
        m_tags->define(def);
    m_texts->clear();
    for (const TextEntry& t : std::as_const(m_project.texts))
        m_texts->insert(t.languageId, t.group, t.key, t.text);
    m_alarms->setDefinitions(m_project.alarmGroups, m_project.alarms);
    m_archive->setSettings(m_project.archive);
    dropSource();
    if (isStation()) {
        // The server keeps the plant's time; values are stamped with the server's clock.
        m_options.realTime = true;
        m_source = m_options.remoteSource(StationLink{m_project, projectDirectory(), *m_tags, *m_alarms, this});
        connect(m_source, &PlantSource::updated, this, &Runtime::sourceUpdated);
        m_alarms->setCommandSink(m_source->alarmCommands());
        if (HistoryReader* remote = m_source->history())
            m_history = remote;
    } else if (m_project.source == PlantSourceKind::Modbus) {
        // A PLC keeps its own time: its values are stamped with the moment they arrive.
        m_options.realTime = true;
        m_source = new ModbusSource(*m_tags, std::move(modbus.config), this);
        connect(m_source, &PlantSource::updated, this, &Runtime::sourceUpdated);
    } else {
        m_source = new SimulationSource(*m_tags, m_project.simulation, this);
    }
    connect(m_source, &PlantSource::writeFinished, this, [this](const WriteRequest& request, bool ok, const QString& reason) {
        journalWrite(request, ok ? QStringLiteral("ok") : QStringLiteral("failed"), reason);
        if (!ok)
            Q_EMIT writeFailed(request.variable, reason);
    });
    m_speed = m_options.speed > 0.0 ? m_options.speed : m_project.simulation.speed;
    m_trendSource.clear();
    if (PlantSimulator* sim = simulator())
        for (int i = 0; i < m_archive->trendCount(); ++i)
            m_trendSource.push_back(sim->indexOf(m_archive->trendAt(i).variable));
}

void Runtime::openStore(const QString& step, const QString& file, const std::function<QString(const QString&, QString*)>& open)
{
    if (!report(step))
        return;
    QString notice;
    const QString error = open(QDir(dataFolder()).filePath(file), &notice);
    if (!error.isEmpty())
        return failStart(error);
    if (!notice.isEmpty()) {
        m_notices.append(notice);
        qWarning().noquote() << notice;
        report(notice);
    }
}

void Runtime::prepareHistory()
{
    PlantSimulator* sim = simulator();
    // A real plant has no history to make up and no state of ours to resume.
    if (!sim) {
        schedule([this] { goLive(); });
        return;
    }
    // The consumers' demand follows the local time of day, from wherever the plant's history begins.
    const auto timeOfDay = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).time().msecsSinceStartOfDay() / 1000.0; };
    if (!m_archive->isEmpty() || m_options.backfillHours <= 0) {
        // The plant carries on where it was when the runtime last recorded.
        const QJsonDocument saved = QJsonDocument::fromJson(m_archive->plantState());
        if (saved.isObject() && !sim->restoreState(saved.object()))
            qWarning().noquote() << "Runtime: the saved plant state does not fit the project; the plant starts from the project's state";
        sim->setTimeOfDay(timeOfDay(now()));
        schedule([this] { goLive(); });
        return;
    }
    const qint64 until = now() / 1000 * 1000;
    const qint64 from = until - static_cast<qint64>(m_options.backfillHours) * 3600 * 1000;
    sim->setTimeOfDay(timeOfDay(from));
    m_archive->beginBulk();
    schedule([this, from, until] { backfill(from, until, from); });
}

void Runtime::backfill(qint64 from, qint64 until, qint64 chunkStart)
{
    const int percent = static_cast<int>((chunkStart - from) * 100 / std::max<qint64>(1, until - from));
    if (!report(QStringLiteral("Verlauf der letzten %1 Stunden wird erzeugt (%2 %)").arg(m_options.backfillHours).arg(percent)))
        return;
    // History runs at the plant's own pace, one second per sample, whatever the demonstration speed.
    const qint64 interval = 1000;
    const qint64 chunkEnd = std::min(until, chunkStart + BackfillChunkMs);
    const int trends = m_archive->trendCount();
    std::vector<std::vector<double>> values(static_cast<size_t>(trends));
    PlantSimulator& sim = *simulator();
    for (qint64 t = chunkStart; t < chunkEnd; t += interval) {
        sim.advance(interval / 1000.0);
        for (int i = 0; i < trends; ++i)
            if (m_trendSource[static_cast<size_t>(i)] >= 0)
                values[static_cast<size_t>(i)].push_back(sim.numericValue(m_trendSource[static_cast<size_t>(i)]));
    }
    // Trend by trend, so each insert lands next to the previous one in the file.
    for (int i = 0; i < trends; ++i) {
        qint64 t = chunkStart + interval;
        for (double v : values[static_cast<size_t>(i)]) {
            m_archive->bulkAdd(i, t, v);
            t += interval;
        }
    }
    if (chunkEnd < until) {
        schedule([this, from, until, chunkEnd] { backfill(from, until, chunkEnd); });
        return;
    }
    m_archive->endBulk(true);
    m_lastRecorded = until;
    schedule([this] { goLive(); });
}

void Runtime::goLive()
{
    const QString step = isStation() ? QStringLiteral("Verbindung zum Server wird aufgebaut")
        : simulator()                ? QStringLiteral("Simulation wird gestartet")
                                     : QStringLiteral("Verbindung zur Steuerung wird aufgebaut");
    if (!report(step))
        return;
    if (!m_source->startsAtOnce()) {
        // Queued: the answer may drop the source, which must not happen inside its own signal.
        connect(m_source, &PlantSource::live, this, &Runtime::becomeRunning, Qt::QueuedConnection);
        connect(m_source, &PlantSource::startRefused, this, [this](const QString& reason) {
            if (m_state == State::Starting)
                failStart(reason);
        }, Qt::QueuedConnection);
        // A station may be switched on before its server: the start window says what it waits for.
        connect(m_source, &PlantSource::waiting, this, [this, step](const QString& what) {
            if (m_state == State::Starting)
                report(step + QStringLiteral(": ") + what);
        });
        m_source->start(now());
        return;
    }
    m_source->start(now());
    becomeRunning();
}

void Runtime::becomeRunning()
{
    if (m_state != State::Starting)
        return;
    const qint64 t = now();
    publishStatus(t);
    m_alarms->evaluate(t);
    record(t);
    publishArchiveFault(t);
    m_state = State::Running;
    // A station's values and alarms come from the server; it has nothing to tick, record or check.
    if (isStation()) {
        Q_EMIT started();
        return;
    }
    if (m_options.realTime)
        m_timer->start(m_project.simulation.tickMilliseconds);
    // A file that opened may still be damaged inside; it is checked while the runtime works on. The
    // check reads the whole file: begun during the start it competes for the disk and the second
    // core (the overview came 10 ms later), so it waits until the station is up.
    QTimer::singleShot(ArchiveCheckDelayMs, m_archive, [this] {
        if (m_archive->isOpen() && m_state == State::Running)
            m_archive->startCheck();
    });
    Q_EMIT started();
}

void Runtime::advance(int ticks)
{
    if (m_state != State::Running)
        throw KalvoraError(QStringLiteral("The runtime cannot advance: it is not running"));
    for (int i = 0; i < ticks && m_state == State::Running; ++i)
        tick();
}

void Runtime::tickGuarded()
{
    // A fault while running stops the runtime cleanly instead of escaping into the event loop.
    try {
        tick();
    } catch (const KalvoraError& e) {
        fail(e.message());
    } catch (const std::exception& e) {
        fail(QString::fromLocal8Bit(e.what()));
    }
}

void Runtime::tick()
{
    if (m_state != State::Running)
        return;
    const int tickMs = m_project.simulation.tickMilliseconds;
    if (!m_options.realTime)
        m_virtualNow += tickMs;
    const qint64 t = now();
    m_source->tick(t, tickMs / 1000.0 * m_speed);
    publishStatus(t);
    m_alarms->evaluate(t);
    record(t);
}

void Runtime::record(qint64 nowMs)
{
    const qint64 interval = m_project.archive.recordIntervalMs;
    const qint64 slot = nowMs / interval * interval;
    if (slot <= m_lastRecorded)
        return;
    if (isStation()) {
        // The server records; charts that follow the present read its new samples once per interval.
        m_lastRecorded = slot;
        Q_EMIT m_archive->recorded(slot);
        return;
    }
    if (!m_archive->isOpen()) {
        publishArchiveFault(nowMs);
        return;
    }
    for (int i = 0; i < m_archive->trendCount(); ++i) {
        const TagValue v = m_tags->value(m_archive->trendAt(i).variable);
        if (v.isGood())
            m_archive->add(i, slot, v.value.typeId() == QMetaType::Bool ? (v.value.toBool() ? 1.0 : 0.0) : v.value.toDouble());
    }
    if (PlantSimulator* sim = simulator())
        m_archive->setPlantState(QJsonDocument(sim->saveState()).toJson(QJsonDocument::Compact));
    m_archive->commit();
    m_lastRecorded = slot;
    ++m_recordCount;
    AlarmJournal& journal = m_alarms->journal();
    if (m_recordCount % JournalRetryEvery == 0) {
        if (journal.heldCount() > 0)
            journal.retry();
        if (m_audit.heldCount() > 0)
            m_audit.retry();
    }
    if (m_recordCount % JournalTrimEvery == 0 && journal.writeFault().isEmpty()) {
        // A store that refuses the trim (a server just gone) is trimmed a minute later; the runtime runs on.
        try {
            journal.removeOlderThan(nowMs - static_cast<qint64>(m_project.archive.retentionDays) * 86400000LL, JournalTrimBatch);
        } catch (const KalvoraError& e) {
            qWarning().noquote() << "Alarm journal: removing old entries failed:" << e.message();
        }
    }
    publishArchiveFault(nowMs);
}

void Runtime::publishArchiveFault(qint64 nowMs)
{
    // A station shows the server's archive fault.
    if (isStation())
        return;
    if (!m_tags->contains(QString::fromLatin1(ArchiveFaultVariable)))
        return;
    const bool fault = nowMs < m_archiveDamagedUntil || !m_archive->writeFault().isEmpty() || !m_archive->isOpen()
        || !m_alarms->journal().writeFault().isEmpty() || !m_audit.writeFault().isEmpty();
    if (static_cast<int>(fault) == m_archiveFaultShown)
        return;
    m_archiveFaultShown = fault;
    m_tags->publish(QString::fromLatin1(ArchiveFaultVariable), fault, TagQuality::Good, nowMs);
}

void Runtime::closeStorage(bool savePlant)
{
    try {
        if (savePlant && m_archive->isOpen() && simulator())
            m_archive->setPlantState(QJsonDocument(simulator()->saveState()).toJson(QJsonDocument::Compact));
        m_archive->close();
    } catch (const KalvoraError& e) {
        // The file is closed all the same; what could not be written is reported.
        m_lastError = m_lastError.isEmpty() ? e.message() : m_lastError;
        qWarning().noquote() << "Runtime: closing the archive:" << e.message();
    }
    m_alarms->closeJournal();
    m_audit.close();
}

void Runtime::stop()
{
    if (m_state == State::Stopping)
        return;
    const bool wasRunning = m_state == State::Running;
    m_state = State::Stopping;
    m_timer->stop();
    m_steps.clear();
    if (m_source)
        m_source->stop();
    closeStorage(wasRunning);
    // Controls show "no value" once nobody delivers any.
    for (const TagDefinition& def : std::as_const(m_project.variables))
        m_tags->publish(def.name, m_tags->value(def.name).value, TagQuality::NotDelivered, now());
    dropSource();
    m_state = State::Stopped;
    Q_EMIT stopped();
}

void Runtime::fail(const QString& reason)
{
    qCritical().noquote() << "Runtime fault:" << reason;
    m_lastError = reason;
    stop();
}
