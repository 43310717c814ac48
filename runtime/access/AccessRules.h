#pragma once

#include "Role.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

/// \brief Which role may do what in one project, read from the project's access.json. Without that
/// file the project runs open: everything is allowed, signed in or not. With it, anything no rule
/// names is refused. check() is a pure look-up, cheap enough to run on every write.
class AccessRules final {
public:
    enum class Action { Write, Acknowledge, Shelve, Unshelve, ManageAccounts, EndSession };

    struct Decision {
        bool allowed = false;
        QString reason;              ///< why refused; empty when allowed
        std::optional<Role> needed;  ///< the least role that would be allowed; none when nobody may
        /// Signing in (again) would help: the action is refused only for want of a role.
        bool signInHelps() const { return !allowed && needed.has_value(); }
    };

    struct Loaded;

    static constexpr int fileFormat = 1;
    static constexpr qint64 maxFileBytes = 4 * 1024 * 1024;
    static QString fileName() { return QStringLiteral("access.json"); }

    /// Open rules: everything allowed.
    AccessRules() = default;

    /// Reads `path`; a missing file gives open rules. Every variable and alarm group the file names
    /// must be in `variables` and `alarmGroups` (a pattern must match at least one).
    static Loaded load(const QString& path, const QStringList& variables, const QStringList& alarmGroups);

    bool isOpen() const { return m_open; }
    /// How long a session may stay without an action before it locks: "idleLockMinutes" (1 to 1440),
    /// 15 minutes when the file does not say.
    qint64 idleLockMs() const { return m_idleLockMs; }
    static constexpr int defaultIdleLockMinutes = 15;
    static constexpr int maxIdleLockMinutes = 24 * 60;
    /// `role`: the role of the session acting, none when nobody is signed in (or the session is locked).
    Decision check(Action action, const QString& target, std::optional<Role> role) const;

    /// Whether `name` matches `pattern`, where '*' stands for any run of characters, dots included.
    static bool matches(QStringView pattern, QStringView name);
    static QString actionName(Action action);

private:
    /// The least role for each target; no role (nullopt) means anyone, signed in or not.
    using Table = QHash<QString, std::optional<Role>>;
    const Table* tableOf(Action action) const;

    bool m_open = true;
    qint64 m_idleLockMs = defaultIdleLockMinutes * 60 * 1000LL;
    Table m_write;
    Table m_acknowledge;
    Table m_shelve;
};

struct AccessRules::Loaded {
    AccessRules rules;
    QString error; ///< "<file>, field write[0].variables[2]: reason"; empty when read
};
