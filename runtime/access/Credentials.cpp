#include "Credentials.h"

namespace {

bool hasControl(const QString& text)
{
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            return true;
    }
    return false;
}

} // namespace

QString Credentials::checkUserName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("the user name is empty");
    if (name.size() > maxUserNameLength)
        return QStringLiteral("the user name is longer than %1 characters").arg(maxUserNameLength);
    if (hasControl(name))
        return QStringLiteral("the user name contains a control character");
    if (name.trimmed() != name)
        return QStringLiteral("the user name starts or ends with blanks");
    return {};
}

QString Credentials::checkFullName(const QString& name)
{
    if (name.size() > maxFullNameLength)
        return QStringLiteral("the full name is longer than %1 characters").arg(maxFullNameLength);
    if (hasControl(name))
        return QStringLiteral("the full name contains a control character");
    return {};
}

QString Credentials::checkPassword(const QString& userName, const QString& password)
{
    // The size in UTF-16 units bounds the UTF-8 size from below, so a huge text stops here unconverted.
    if (password.size() > maxPasswordBytes || password.toUtf8().size() > maxPasswordBytes)
        return QStringLiteral("the password is longer than %1 bytes").arg(maxPasswordBytes);
    if (password.isEmpty())
        return QStringLiteral("the password is empty");
    if (password.size() < minPasswordLength)
        return QStringLiteral("the password is shorter than %1 characters").arg(minPasswordLength);
    if (sameUser(password, userName))
        return QStringLiteral("the password must not be the user name");
    return {};
}

bool Credentials::sameUser(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}
