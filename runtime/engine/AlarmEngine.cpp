#include "AlarmEngine.h"

#include "SqliteAlarmJournal.h"
#include "TagStore.h"
#include "TextDatabase.h"

#include <QDateTime>
#include <QSysInfo>

#include <algorithm>
#include <utility>

AlarmEngine::AlarmEngine(TagStore& tags, TextDatabase& texts, QObject* parent)
    : QObject(parent)
    , m_tags(tags)
    , m_texts(texts)
    , m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("USERNAME");
    m_operator = QSysInfo::machineHostName() + QLatin1Char('/') + user;
    // Alarm texts are read in the current language each time a list asks, so a list that redraws on
    // this shows the new language at once.
    connect(&m_texts, &TextDatabase::languageChanged, this, [this] {
        QSet<QString> all;
        for (auto it = m_groups.keyBegin(); it != m_groups.keyEnd(); ++it)
            all.insert(*it);
        announce(all);
    });
}

AlarmEngine::~AlarmEngine() = default;

void AlarmEngine::setDefinitions(const QList<AlarmGroupDefinition>& groups, const QList<AlarmDefinition>& alarms)
{
    m_definitions = alarms;
    m_live.assign(static_cast<size_t>(alarms.size()), Live{});
    m_byId.clear();
    m_changed.clear();
    for (qsizetype i = 0; i < alarms.size(); ++i)
        m_byId.insert(alarms.at(i).id, static_cast<int>(i));
    m_priority.clear();
    QSet<QString> touched;
    for (const AlarmGroupDefinition& g : groups) {
        m_priority.insert(g.name, g.priority);
        AlarmGroup& object = group(g.name);
        object.m_priority = g.priority;
        object.m_defined = true;
        touched.insert(g.name);
    }
    announce(touched);
}

QStringList AlarmEngine::groupNames() const
{
    QStringList names;
    for (auto it = m_groups.cbegin(); it != m_groups.cend(); ++it)
        if ((*it)->isDefined())
            names.append(it.key());
    names.sort();
    return names;
}

AlarmGroup& AlarmEngine::group(const QString& name)
{
    auto it = m_groups.find(name);
    if (it == m_groups.end())
        it = m_groups.insert(name, new AlarmGroup(*this, name, this));
    return **it;
}

AlarmInfo AlarmEngine::info(int index) const
{
    const AlarmDefinition& def = m_definitions.at(index);
    const Live& live = m_live[static_cast<size_t>(index)];
    AlarmInfo a;
    a.id = def.id;
    a.number = index + 1;
    a.group = def.group;
    a.text = m_texts.text(def.textGroup, live.textKey.isEmpty() ? def.textKey : live.textKey);
    a.state = live.state;
    a.cameMs = live.cameMs;
    a.wentMs = live.wentMs;
    a.acknowledgedMs = live.acknowledgedMs;
    a.priority = m_priority.value(def.group);
    a.helpTopic = def.helpTopic;
    a.value = live.value;
    a.shelvedUntilMs = live.shelvedUntilMs;
    a.acknowledgedBy = live.acknowledgedBy;
    a.shelvedBy = live.shelvedBy;
    return a;
}

QList<AlarmInfo> AlarmEngine::alarms(const QString& group) const
{
    QList<int> indices;
    for (qsizetype i = 0; i < m_definitions.size(); ++i)
        if (const Live& live = m_live[static_cast<size_t>(i)];
            m_definitions.at(i).group == group && live.state != AlarmState::Normal && live.shelvedUntilMs == 0)
            indices.append(static_cast<int>(i));
    // Newest first; alarms that came together keep the project's order.
    std::stable_sort(indices.begin(), indices.end(), [this](int a, int b) {
        return m_live[static_cast<size_t>(a)].cameMs > m_live[static_cast<size_t>(b)].cameMs;
    });
    QList<AlarmInfo> result;
    result.reserve(indices.size());
    for (int i : indices)
        result.append(info(i));
    return result;
}

QList<AlarmInfo> AlarmEngine::shelvedAlarms(const QString& group) const
{
    QList<int> indices;
    for (qsizetype i = 0; i < m_definitions.size(); ++i)
        if (m_definitions.at(i).group == group && m_live[static_cast<size_t>(i)].shelvedUntilMs > 0)
            indices.append(static_cast<int>(i));
    std::stable_sort(indices.begin(), indices.end(), [this](int a, int b) {
        return m_live[static_cast<size_t>(a)].shelvedUntilMs < m_live[static_cast<size_t>(b)].shelvedUntilMs;
    });
    QList<AlarmInfo> result;
    result.reserve(indices.size());
    for (int i : indices)
        result.append(info(i));
    return result;
}

AlarmInfo AlarmEngine::alarm(const QString& id) const
{
    const int index = m_byId.value(id, -1);
    return index < 0 ? AlarmInfo{} : info(index);
}

void AlarmEngine::record(int index, const QString& event, qint64 timeMs, QList<AlarmJournalEntry>& entries, QSet<QString>& touched,
                         const QString& by)
{
    const AlarmDefinition& def = m_definitions.at(index);
    const Live& live = m_live[static_cast<size_t>(index)];
    AlarmJournalEntry entry{timeMs, def.id, def.group, event, live.state, live.cameMs, live.wentMs, live.acknowledgedMs, live.value, {}};
    entry.shelvedUntilMs = live.shelvedUntilMs;
    entry.station = by;
    entries.append(entry);
    noteChanged(index, touched);
}

void AlarmEngine::noteChanged(int index, QSet<QString>& touched)
{
    m_changed.append(index);
    touched.insert(m_definitions.at(index).group);
}

void AlarmEngine::evaluate(qint64 nowMs)
{
    if (m_sink)
        return;
    QList<AlarmJournalEntry> entries;
    QSet<QString> touched;
    for (qsizetype i = 0; i < m_definitions.size(); ++i) {
        Live& live = m_live[static_cast<size_t>(i)];
        if (live.shelvedUntilMs > 0 && nowMs >= live.shelvedUntilMs) {
            live.shelvedUntilMs = 0;
            live.shelvedBy.clear();
            record(static_cast<int>(i), QStringLiteral("shelve-expired"), nowMs, entries, touched);
        }
    }
    for (qsizetype i = 0; i < m_definitions.size(); ++i) {
        const AlarmDefinition& def = m_definitions.at(i);
        Live& live = m_live[static_cast<size_t>(i)];
        const TagValue current = m_tags.value(def.variable);
        // Without a good value nothing is known: the alarm keeps its state.
        if (!current.isGood())
            continue;
        const double v = current.value.toDouble();
        const bool on = current.value.toBool();
        bool comes = false;
        bool goes = false;
        switch (def.condition) {
        case AlarmCondition::Above:
            comes = v > def.limit;
            goes = v < def.limit - def.deadband;
            break;
        case AlarmCondition::Below:
            comes = v < def.limit;
            goes = v > def.limit + def.deadband;
            break;
        case AlarmCondition::On:
            comes = on;
            goes = !on;
            break;
        case AlarmCondition::Off:
            comes = !on;
            goes = on;
            break;
        }
        const bool active = live.state == AlarmState::ActiveUnacknowledged || live.state == AlarmState::ActiveAcknowledged;
        if (active) {
            if (goes) {
                live.state = live.state == AlarmState::ActiveAcknowledged ? AlarmState::Normal : AlarmState::ReturnedUnacknowledged;
                live.wentMs = nowMs;
                live.value = v;
                record(static_cast<int>(i), QStringLiteral("went"), nowMs, entries, touched);
            }
            continue;
        }
        if (!comes) {
            live.pendingSinceMs = -1;
            continue;
        }
        if (live.pendingSinceMs < 0)
            live.pendingSinceMs = nowMs;
        if (nowMs - live.pendingSinceMs < def.delayMs)
            continue;
        // A new occurrence; one still waiting for acknowledgement from before is superseded.
        live.state = AlarmState::ActiveUnacknowledged;
        live.cameMs = nowMs;
        live.wentMs = 0;
        live.acknowledgedMs = 0;
        live.acknowledgedBy.clear();
        live.pendingSinceMs = -1;
        live.value = v;
        record(static_cast<int>(i), QStringLiteral("came"), nowMs, entries, touched);
    }
    write(entries);
    announce(touched);
}

bool AlarmEngine::acknowledgeAt(int index, qint64 nowMs, const QString& by, QList<AlarmJournalEntry>& entries, QSet<QString>& touched)
{
    Live& live = m_live[static_cast<size_t>(index)];
    if (live.state == AlarmState::ActiveUnacknowledged)
        live.state = AlarmState::ActiveAcknowledged;
    else if (live.state == AlarmState::ReturnedUnacknowledged)
        live.state = AlarmState::Normal;
    else
        return false;
    live.acknowledgedMs = nowMs;
    live.acknowledgedBy = by;
    record(index, QStringLiteral("acknowledged"), nowMs, entries, touched, by);
    return true;
}

bool AlarmEngine::permitted(const QString& action, const QString& group, const QString& alarm, std::function<void()> retry)
{
    if (!m_gate)
        return true;
    const QString reason = m_gate(action, group, alarm, std::move(retry));
    if (reason.isEmpty())
        return true;
    Q_EMIT commandFailed(alarm.isEmpty() ? group : alarm, reason);
    return false;
}

int AlarmEngine::acknowledge(const QString& group)
{
    if (!permitted(QStringLiteral("acknowledge"), group, {}, [this, group] { acknowledge(group); }))
        return 0;
    if (m_sink) {
        // What the owner will acknowledge, as far as this mirror knows.
        int count = 0;
        for (const AlarmInfo& a : alarms(group))
            count += a.state == AlarmState::ActiveUnacknowledged || a.state == AlarmState::ReturnedUnacknowledged;
        m_sink->acknowledge(group);
        return count;
    }
    return acknowledge(group, m_operator);
}

int AlarmEngine::acknowledge(const QString& group, const QString& by)
{
    const qint64 now = m_clock();
    QList<AlarmJournalEntry> entries;
    QSet<QString> touched;
    int count = 0;
    for (qsizetype i = 0; i < m_definitions.size(); ++i)
        // A shelved alarm is not on the list the operator acknowledges.
        if (m_definitions.at(i).group == group && m_live[static_cast<size_t>(i)].shelvedUntilMs == 0
            && acknowledgeAt(static_cast<int>(i), now, by, entries, touched))
            ++count;
    write(entries);
    announce(touched);
    if (count > 0)
        Q_EMIT commandCarried(QStringLiteral("acknowledge"), group, QString::number(count), by);
    return count;
}

bool AlarmEngine::acknowledgeAlarm(const QString& id)
{
    if (!permitted(QStringLiteral("acknowledge"), alarm(id).group, id, [this, id] { acknowledgeAlarm(id); }))
        return false;
    if (m_sink) {
        const AlarmInfo a = alarm(id);
        if (a.state != AlarmState::ActiveUnacknowledged && a.state != AlarmState::ReturnedUnacknowledged)
            return false;
        m_sink->acknowledgeAlarm(id);
        return true;
    }
    return acknowledgeAlarm(id, m_operator);
}

bool AlarmEngine::acknowledgeAlarm(const QString& id, const QString& by)
{
    const int index = m_byId.value(id, -1);
    if (index < 0)
        return false;
    QList<AlarmJournalEntry> entries;
    QSet<QString> touched;
    const bool done = acknowledgeAt(index, m_clock(), by, entries, touched);
    write(entries);
    announce(touched);
    if (done)
        Q_EMIT commandCarried(QStringLiteral("acknowledge"), id, QStringLiteral("1"), by);
    return done;
}

bool AlarmEngine::shelve(const QString& id, qint64 durationMs)
{
    if (!permitted(QStringLiteral("shelve"), alarm(id).group, id, [this, id, durationMs] { shelve(id, durationMs); }))
        return false;
    if (m_sink) {
        if (!m_byId.contains(id) || durationMs <= 0 || durationMs > MaxShelveMs)
            return false;
        m_sink->shelve(id, durationMs);
        return true;
    }
    return shelve(id, durationMs, m_operator);
}

bool AlarmEngine::shelve(const QString& id, qint64 durationMs, const QString& by)
{
    const int index = m_byId.value(id, -1);
    if (index < 0 || durationMs <= 0 || durationMs > MaxShelveMs)
        return false;
    const qint64 now = m_clock();
    m_live[static_cast<size_t>(index)].shelvedUntilMs = now + durationMs;
    m_live[static_cast<size_t>(index)].shelvedBy = by;
    QList<AlarmJournalEntry> entries;
    QSet<QString> touched;
    record(index, QStringLiteral("shelved"), now, entries, touched, by);
    write(entries);
    announce(touched);
    Q_EMIT commandCarried(QStringLiteral("shelve"), id, QString::number(durationMs) + QStringLiteral(" ms"), by);
    return true;
}

bool AlarmEngine::unshelve(const QString& id)
{
    if (!permitted(QStringLiteral("unshelve"), alarm(id).group, id, [this, id] { unshelve(id); }))
        return false;
    if (m_sink) {
        if (alarm(id).shelvedUntilMs == 0)
            return false;
        m_sink->unshelve(id);
        return true;
    }
    return unshelve(id, m_operator);
}

bool AlarmEngine::unshelve(const QString& id, const QString& by)
{
    const int index = m_byId.value(id, -1);
    if (index < 0 || m_live[static_cast<size_t>(index)].shelvedUntilMs == 0)
        return false;
    m_live[static_cast<size_t>(index)].shelvedUntilMs = 0;
    m_live[static_cast<size_t>(index)].shelvedBy.clear();
    QList<AlarmJournalEntry> entries;
    QSet<QString> touched;
    record(index, QStringLiteral("unshelved"), m_clock(), entries, touched, by);
    write(entries);
    announce(touched);
    Q_EMIT commandCarried(QStringLiteral("unshelve"), id, {}, by);
    return true;
}

bool AlarmEngine::applyState(const AlarmInfo& state, const QString& textKey)
{
    const int index = m_byId.value(state.id, -1);
    if (index < 0)
        return false;
    Live& live = m_live[static_cast<size_t>(index)];
    live.state = state.state;
    live.cameMs = state.cameMs;
    live.wentMs = state.wentMs;
    live.acknowledgedMs = state.acknowledgedMs;
    live.acknowledgedBy = state.acknowledgedBy;
    live.value = state.value;
    live.shelvedUntilMs = state.shelvedUntilMs;
    live.shelvedBy = state.shelvedBy;
    live.textKey = textKey;
    live.pendingSinceMs = -1;
    QSet<QString> touched;
    noteChanged(index, touched);
    announce(touched);
    return true;
}

bool AlarmEngine::raiseLocally(const QString& id, const QString& textKey, qint64 nowMs)
{
    const int index = m_byId.value(id, -1);
    if (index < 0)
        return false;
    AlarmInfo state = info(index);
    state.state = AlarmState::ActiveUnacknowledged;
    state.cameMs = nowMs;
    state.wentMs = 0;
    state.acknowledgedMs = 0;
    state.acknowledgedBy.clear();
    state.value = 1.0;
    // The text goes in with the state: the lists and lines announced read both at once.
    return applyState(state, textKey);
}

void AlarmEngine::write(const QList<AlarmJournalEntry>& entries)
{
    m_journal.append(entries);
}

void AlarmEngine::announce(const QSet<QString>& groups)
{
    QStringList sorted(groups.begin(), groups.end());
    sorted.sort();
    // Taken before anything is emitted: a receiver may change alarms again.
    const QList<int> changedAlarms = std::exchange(m_changed, {});
    for (const QString& name : std::as_const(sorted)) {
        if (AlarmGroup* g = m_groups.value(name)) {
            QSet<int> seen;
            for (int index : changedAlarms)
                if (m_definitions.at(index).group == name && !seen.contains(index)) {
                    seen.insert(index);
                    Q_EMIT g->alarmChanged(m_definitions.at(index).id);
                }
            Q_EMIT g->changed();
        }
        Q_EMIT changed(name);
    }
}

QString AlarmEngine::openJournal(const QString& path, QString* notice)
{
    return openJournal(std::make_unique<SqliteAlarmJournal>(path), notice);
}

QString AlarmEngine::openJournal(std::unique_ptr<AlarmJournalStore> store, QString* notice)
{
    const QString error = m_journal.open(std::move(store), notice);
    if (!error.isEmpty())
        return error;
    const QHash<QString, AlarmJournalEntry> last = m_journal.lastEntries();
    QSet<QString> touched;
    for (qsizetype i = 0; i < m_definitions.size(); ++i) {
        const auto it = last.constFind(m_definitions.at(i).id);
        if (it == last.constEnd())
            continue;
        Live& live = m_live[static_cast<size_t>(i)];
        live.state = it->state;
        live.cameMs = it->cameMs;
        live.wentMs = it->wentMs;
        live.acknowledgedMs = it->acknowledgedMs;
        live.value = it->value;
        // A shelf whose time ran out while the station was down ends with the next evaluation.
        live.shelvedUntilMs = it->shelvedUntilMs;
        // Who did it is known when it was the last thing that happened to the alarm.
        if (it->event == QLatin1String("acknowledged"))
            live.acknowledgedBy = it->station;
        if (it->event == QLatin1String("shelved"))
            live.shelvedBy = it->station;
        live.pendingSinceMs = -1;
        noteChanged(static_cast<int>(i), touched);
    }
    announce(touched);
    return {};
}

void AlarmEngine::closeJournal()
{
    m_journal.close();
}
