#pragma once

#include <QString>
#include <QStringList>

#include <optional>

/// \brief An account's role; each role may do everything the roles before it may.
enum class Role { Viewer = 0, Operator = 1, Engineer = 2, Administrator = 3 };

/// "viewer", "operator", "engineer", "administrator".
QString roleName(Role role);
/// The role a name stands for (exactly as roleName() writes it), or none.
std::optional<Role> parseRole(const QString& name);
/// All role names, lowest first, for messages.
QStringList roleNames();
/// Whether `held` includes everything `needed` may do.
constexpr bool roleIncludes(Role held, Role needed)
{
    return static_cast<int>(held) >= static_cast<int>(needed);
}
