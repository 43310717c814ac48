#include "AccountStore.h"

#include "AccessJson.h"
#include "AccessLog.h"
#include "Credentials.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include <limits>

namespace {

QString field(qsizetype index, const char* key)
{
    return QStringLiteral("accounts[%1].%2").arg(index).arg(QLatin1String(key));
}

} // namespace

AccountStore::AccountStore(QString path, PasswordHasher hasher)
    : m_path(std::move(path))
    , m_hasher(hasher)
{
}

QString AccountStore::load()
{
    const AccessJson::Document doc = AccessJson::read(m_path, maxFileBytes);
    if (doc.missing) {
        m_accounts.clear();
        return {};
    }
    if (!doc.error.isEmpty())
        return doc.error;
    QList<Account> accounts;
    if (const QString error = parse(doc.root, &accounts); !error.isEmpty())
        return error;
    m_accounts = accounts;
    qCDebug(lcAccess) << "read" << m_accounts.size() << "accounts from" << m_path;
    return {};
}

QString AccountStore::parse(const QJsonObject& root, QList<Account>* accounts) const
{
    if (const QString key = AccessJson::unknownKey(root, {QStringLiteral("format"), QStringLiteral("accounts")}); !key.isEmpty())
        return AccessJson::fault(m_path, key, QStringLiteral("unknown field; here the fields are format and accounts"));
    if (root.value(QLatin1String("format")) != QJsonValue(fileFormat))
        return AccessJson::fault(m_path, QStringLiteral("format"), QStringLiteral("expected %1").arg(fileFormat));
    if (!root.value(QLatin1String("accounts")).isArray())
        return AccessJson::fault(m_path, QStringLiteral("accounts"), QStringLiteral("expected a list [ ... ]"));
    const QJsonArray list = root.value(QLatin1String("accounts")).toArray();
    const QStringList fields{QStringLiteral("user"), QStringLiteral("fullName"), QStringLiteral("role"), QStringLiteral("hash"),
        QStringLiteral("failedSignIns"), QStringLiteral("lockedUntil")};
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (!list.at(i).isObject())
            return AccessJson::fault(m_path, QStringLiteral("accounts[%1]").arg(i), QStringLiteral("expected an object { ... }"));
        const QJsonObject o = list.at(i).toObject();
        if (const QString key = AccessJson::unknownKey(o, fields); !key.isEmpty())
            return AccessJson::fault(m_path, QStringLiteral("accounts[%1].%2").arg(i).arg(key),
                QStringLiteral("unknown field; here the fields are %1").arg(fields.join(QStringLiteral(", "))));
        for (const char* key : {"user", "fullName", "role", "hash"}) {
            if (!o.value(QLatin1String(key)).isString())
                return AccessJson::fault(m_path, field(i, key), QStringLiteral("expected a text in quotes"));
        }
        for (const char* key : {"failedSignIns", "lockedUntil"}) {
            const QJsonValue v = o.value(QLatin1String(key));
            if (!v.isDouble() || v.toDouble() < 0 || v.toDouble() > 9007199254740991.0 || v.toDouble() != static_cast<double>(v.toInteger()))
                return AccessJson::fault(m_path, field(i, key), QStringLiteral("expected a whole number of 0 or more"));
        }
        Account a;
        a.userName = o.value(QLatin1String("user")).toString();
        a.fullName = o.value(QLatin1String("fullName")).toString();
        a.passwordHash = o.value(QLatin1String("hash")).toString().toLatin1();
        a.lockedUntilMs = o.value(QLatin1String("lockedUntil")).toInteger();
        a.failedSignIns = static_cast<int>(qMin<qint64>(o.value(QLatin1String("failedSignIns")).toInteger(), std::numeric_limits<int>::max()));
        if (const QString why = Credentials::checkUserName(a.userName); !why.isEmpty())
            return AccessJson::fault(m_path, field(i, "user"), why);
        if (const QString why = Credentials::checkFullName(a.fullName); !why.isEmpty())
            return AccessJson::fault(m_path, field(i, "fullName"), why);
        const std::optional<Role> role = parseRole(o.value(QLatin1String("role")).toString());
        if (!role)
            return AccessJson::fault(m_path, field(i, "role"),
                QStringLiteral("unknown role \"%1\"; the roles are %2").arg(o.value(QLatin1String("role")).toString(), roleNames().join(QStringLiteral(", "))));
        a.role = *role;
        if (!PasswordHasher::isArgon2idHash(a.passwordHash))
            return AccessJson::fault(m_path, field(i, "hash"), QStringLiteral("not an Argon2id password hash"));
        for (qsizetype j = 0; j < accounts->size(); ++j) {
            if (Credentials::sameUser(accounts->at(j).userName, a.userName))
                return AccessJson::fault(m_path, field(i, "user"), QStringLiteral("the user \"%1\" is given twice (also accounts[%2])").arg(a.userName).arg(j));
        }
        accounts->append(a);
    }
    return {};
}

QString AccountStore::save() const
{
    QJsonArray list;
    for (const Account& a : m_accounts) {
        list.append(QJsonObject{{QStringLiteral("user"), a.userName}, {QStringLiteral("fullName"), a.fullName},
            {QStringLiteral("role"), roleName(a.role)}, {QStringLiteral("hash"), QString::fromLatin1(a.passwordHash)},
            {QStringLiteral("failedSignIns"), a.failedSignIns}, {QStringLiteral("lockedUntil"), a.lockedUntilMs}});
    }
    const QByteArray bytes =
        QJsonDocument(QJsonObject{{QStringLiteral("format"), fileFormat}, {QStringLiteral("accounts"), list}}).toJson(QJsonDocument::Indented);
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return QStringLiteral("%1: cannot create the folder").arg(m_path);
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return QStringLiteral("%1: cannot write the file: %2").arg(m_path, file.errorString());
#ifdef Q_OS_UNIX
    // Password hashes are for the owner's eyes only, whatever the umask says.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return QStringLiteral("%1: cannot make the file private to its owner").arg(m_path);
    }
#endif
    if (file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("%1: cannot write the file: %2").arg(m_path, file.errorString());
    return {};
}

const Account* AccountStore::find(const QString& userName) const
{
    for (const Account& a : m_accounts) {
        if (Credentials::sameUser(a.userName, userName))
            return &a;
    }
    return nullptr;
}

Account* AccountStore::findMutable(const QString& userName)
{
    // Non-const access, so a list shared with a copy (such as the one change() keeps) detaches first.
    for (Account& a : m_accounts) {
        if (Credentials::sameUser(a.userName, userName))
            return &a;
    }
    return nullptr;
}

template <class Apply>
QString AccountStore::update(Apply&& apply)
{
    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!QDir().mkpath(QFileInfo(m_path).absolutePath()))
        return QStringLiteral("%1: cannot create the folder").arg(m_path);
    if (!lock.tryLock(lockWaitMs))
        return QStringLiteral("%1: another program is changing the accounts (lock %1.lock)").arg(m_path);
    if (const QString error = load(); !error.isEmpty())
        return error;
    const QList<Account> before = m_accounts;
    QString error = apply();
    if (error.isEmpty())
        error = save();
    if (!error.isEmpty())
        m_accounts = before;
    return error;
}

template <class Change>
QString AccountStore::change(const QString& userName, Change&& change)
{
    // A copy: the caller's name may live in the list that reading the file afresh replaces.
    const QString name = userName;
    return update([&]() -> QString {
        Account* account = findMutable(name);
        if (!account)
            return QStringLiteral("there is no user \"%1\"").arg(name);
        return change(*account);
    });
}

QString AccountStore::add(const QString& userName, const QString& fullName, Role role, const QString& password)
{
    for (const QString& why : {Credentials::checkUserName(userName), Credentials::checkFullName(fullName),
             Credentials::checkPassword(userName, password)}) {
        if (!why.isEmpty())
            return why;
    }
    const QByteArray hash = m_hasher.hash(password);
    if (hash.isEmpty())
        return QStringLiteral("the password could not be hashed (not enough memory)");
    return update([&]() -> QString {
        if (const Account* there = find(userName))
            return QStringLiteral("the user \"%1\" exists already").arg(there->userName);
        m_accounts.append(Account{userName, fullName, role, hash, 0, 0});
        return {};
    });
}

QString AccountStore::remove(const QString& userName)
{
    return update([&]() -> QString {
        const Account* account = find(userName);
        if (!account)
            return QStringLiteral("there is no user \"%1\"").arg(userName);
        m_accounts.removeAt(account - m_accounts.constData());
        return {};
    });
}

QString AccountStore::setRole(const QString& userName, Role role)
{
    return change(userName, [role](Account& a) {
        a.role = role;
        return QString();
    });
}

QString AccountStore::setFullName(const QString& userName, const QString& fullName)
{
    return change(userName, [&fullName](Account& a) {
        const QString why = Credentials::checkFullName(fullName);
        if (why.isEmpty())
            a.fullName = fullName;
        return why;
    });
}

QString AccountStore::resetPassword(const QString& userName, const QString& password)
{
    return change(userName, [this, &password](Account& a) {
        if (const QString why = Credentials::checkPassword(a.userName, password); !why.isEmpty())
            return why;
        const QByteArray hash = m_hasher.hash(password);
        if (hash.isEmpty())
            return QStringLiteral("the password could not be hashed (not enough memory)");
        a.passwordHash = hash;
        a.failedSignIns = 0;
        a.lockedUntilMs = 0;
        return QString();
    });
}

QString AccountStore::unlock(const QString& userName)
{
    return setSignInState(userName, 0, 0);
}

QString AccountStore::setSignInState(const QString& userName, int failedSignIns, qint64 lockedUntilMs)
{
    const auto set = [&](Account& a) {
        a.failedSignIns = failedSignIns;
        a.lockedUntilMs = lockedUntilMs;
        return QString();
    };
    const QString name = userName;
    const QString error = change(name, set);
    // Kept in memory even when the file refuses it: a full or read-only disk must not lift the limit
    // on failed sign-ins.
    if (!error.isEmpty())
        if (Account* account = findMutable(name))
            set(*account);
    return error;
}
