#include "AccessRules.h"

#include "AccessJson.h"
#include "AccessLog.h"

#include <QJsonArray>

#include <cmath>

namespace {

const QString anyone = QStringLiteral("anyone");

struct Section {
    const char* key;
    const char* targets; ///< the list each rule of the section carries
    const char* what;    ///< for messages
};

const Section sections[] = {
    {"write", "variables", "variable"},
    {"acknowledge", "groups", "alarm group"},
    {"shelve", "groups", "alarm group"},
};

/// Reads one section into `table`; the first rule that names a target decides for it.
QString readSection(const QString& path, const QJsonObject& root, const Section& section, const QStringList& known,
    QHash<QString, std::optional<Role>>* table)
{
    const QString key = QLatin1String(section.key);
    const QJsonValue value = root.value(key);
    if (value.isUndefined())
        return {};
    if (!value.isArray())
        return AccessJson::fault(path, key, QStringLiteral("expected a list [ ... ] of rules"));
    const QJsonArray rules = value.toArray();
    const QString targetsKey = QLatin1String(section.targets);
    for (qsizetype i = 0; i < rules.size(); ++i) {
        const QString place = QStringLiteral("%1[%2]").arg(key).arg(i);
        if (!rules.at(i).isObject())
            return AccessJson::fault(path, place, QStringLiteral("expected an object { ... }"));
        const QJsonObject rule = rules.at(i).toObject();
        if (const QString unknown = AccessJson::unknownKey(rule, {QStringLiteral("role"), targetsKey}); !unknown.isEmpty())
            return AccessJson::fault(path, place + QLatin1Char('.') + unknown, QStringLiteral("unknown field; here the fields are role, %1 and description").arg(targetsKey));
        const QString roleText = rule.value(QLatin1String("role")).toString();
        std::optional<Role> role = parseRole(roleText);
        if (!role && roleText != anyone)
            return AccessJson::fault(path, place + QStringLiteral(".role"),
                QStringLiteral("%1; the roles are %2 and %3").arg(rule.value(QLatin1String("role")).isString() ? QStringLiteral("unknown role \"%1\"").arg(roleText) : QStringLiteral("missing or not a text"),
                    roleNames().join(QStringLiteral(", ")), anyone));
        const QJsonValue targets = rule.value(targetsKey);
        if (!targets.isArray() || targets.toArray().isEmpty())
            return AccessJson::fault(path, place + QLatin1Char('.') + targetsKey, QStringLiteral("expected a list [ ... ] of at least one name"));
        const QJsonArray names = targets.toArray();
        for (qsizetype j = 0; j < names.size(); ++j) {
            const QString field = QStringLiteral("%1.%2[%3]").arg(place, targetsKey).arg(j);
            const QString name = names.at(j).toString();
            if (!names.at(j).isString() || name.isEmpty())
                return AccessJson::fault(path, field, QStringLiteral("expected a %1 name in quotes").arg(QLatin1String(section.what)));
            qsizetype matched = 0;
            for (const QString& candidate : known) {
                if (AccessRules::matches(name, candidate)) {
                    ++matched;
                    table->insert(candidate, table->value(candidate, role)); // an earlier rule keeps its say
                }
            }
            if (matched == 0)
                return AccessJson::fault(path, field,
                    name.contains(QLatin1Char('*')) ? QStringLiteral("the pattern \"%1\" matches no %2 of the project").arg(name, QLatin1String(section.what))
                                                    : QStringLiteral("unknown %1 \"%2\"").arg(QLatin1String(section.what), name));
        }
    }
    return {};
}

} // namespace

AccessRules::Loaded AccessRules::load(const QString& path, const QStringList& variables, const QStringList& alarmGroups)
{
    Loaded loaded;
    const AccessJson::Document doc = AccessJson::read(path, maxFileBytes);
    if (doc.missing)
        return loaded;
    if (!doc.error.isEmpty()) {
        loaded.error = doc.error;
        return loaded;
    }
    QStringList keys{QStringLiteral("format"), QStringLiteral("idleLockMinutes")};
    for (const Section& s : sections)
        keys.append(QLatin1String(s.key));
    if (const QString unknown = AccessJson::unknownKey(doc.root, keys); !unknown.isEmpty()) {
        loaded.error = AccessJson::fault(path, unknown, QStringLiteral("unknown field; here the fields are %1 and description").arg(keys.join(QStringLiteral(", "))));
        return loaded;
    }
    if (doc.root.value(QLatin1String("format")) != QJsonValue(fileFormat)) {
        loaded.error = AccessJson::fault(path, QStringLiteral("format"), QStringLiteral("expected %1").arg(fileFormat));
        return loaded;
    }
    AccessRules rules;
    rules.m_open = false;
    if (const QJsonValue idle = doc.root.value(QLatin1String("idleLockMinutes")); !idle.isUndefined()) {
        const double minutes = idle.toDouble(-1);
        if (!idle.isDouble() || minutes != std::floor(minutes) || minutes < 1 || minutes > maxIdleLockMinutes) {
            loaded.error = AccessJson::fault(path, QStringLiteral("idleLockMinutes"), QStringLiteral("expected a whole number of minutes from 1 to %1").arg(maxIdleLockMinutes));
            return loaded;
        }
        rules.m_idleLockMs = static_cast<qint64>(minutes) * 60 * 1000;
    }
    Table* tables[] = {&rules.m_write, &rules.m_acknowledge, &rules.m_shelve};
    for (int i = 0; i < 3; ++i) {
        loaded.error = readSection(path, doc.root, sections[i], i == 0 ? variables : alarmGroups, tables[i]);
        if (!loaded.error.isEmpty())
            return loaded;
    }
    qCDebug(lcAccess) << "access rules from" << path << ":" << rules.m_write.size() << "variables," << rules.m_acknowledge.size()
                      << "groups to acknowledge," << rules.m_shelve.size() << "to shelve";
    loaded.rules = std::move(rules);
    return loaded;
}

const AccessRules::Table* AccessRules::tableOf(Action action) const
{
    switch (action) {
    case Action::Write: return &m_write;
    case Action::Acknowledge: return &m_acknowledge;
    case Action::Shelve:
    case Action::Unshelve: return &m_shelve;
    case Action::ManageAccounts:
    case Action::EndSession: break;
    }
    return nullptr;
}

AccessRules::Decision AccessRules::check(Action action, const QString& target, std::optional<Role> role) const
{
    if (m_open)
        return {true, {}, {}};
    std::optional<Role> needed = Role::Administrator;
    if (const Table* table = tableOf(action)) {
        const auto it = table->constFind(target);
        if (it == table->constEnd())
            return {false, QStringLiteral("no rule of %1 lets anyone %2 %3").arg(fileName(), actionName(action), target), std::nullopt};
        needed = *it;
    }
    if (!needed || (role && roleIncludes(*role, *needed)))
        return {true, {}, {}};
    const QString what = target.isEmpty() ? actionName(action) : actionName(action) + QLatin1Char(' ') + target;
    return {false,
        role ? QStringLiteral("%1 needs the role %2; %3 is not enough").arg(what, roleName(*needed), roleName(*role))
             : QStringLiteral("%1 needs signing in as %2 or higher").arg(what, roleName(*needed)),
        needed};
}

bool AccessRules::matches(QStringView pattern, QStringView name)
{
    // Greedy match with one backtrack point: the last '*' seen absorbs one more character on a mismatch.
    qsizetype p = 0, n = 0, star = -1, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && pattern[p] == name[n]) {
            ++p;
            ++n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

QString AccessRules::actionName(Action action)
{
    switch (action) {
    case Action::Write: return QStringLiteral("write");
    case Action::Acknowledge: return QStringLiteral("acknowledge");
    case Action::Shelve: return QStringLiteral("shelve");
    case Action::Unshelve: return QStringLiteral("unshelve");
    case Action::ManageAccounts: return QStringLiteral("manage accounts");
    case Action::EndSession: return QStringLiteral("end a session");
    }
    return {};
}
