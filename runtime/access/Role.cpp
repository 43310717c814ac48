#include "Role.h"

#include <array>

namespace {

const std::array<QString, 4>& names()
{
    static const std::array<QString, 4> list{QStringLiteral("viewer"), QStringLiteral("operator"), QStringLiteral("engineer"),
        QStringLiteral("administrator")};
    return list;
}

} // namespace

QString roleName(Role role)
{
    return names().at(static_cast<std::size_t>(role));
}

std::optional<Role> parseRole(const QString& name)
{
    for (std::size_t i = 0; i < names().size(); ++i) {
        if (names()[i] == name)
            return static_cast<Role>(i);
    }
    return std::nullopt;
}

QStringList roleNames()
{
    return QStringList(names().begin(), names().end());
}
