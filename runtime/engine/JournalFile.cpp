#include "JournalFile.h"

#include <QDebug>

JournalFile::JournalFile(QString what, int schemaVersion, SqliteDatabase::Upgrade upgrade, QList<QByteArray> statements)
    : m_what(std::move(what))
    , m_schemaVersion(schemaVersion)
    , m_upgrade(std::move(upgrade))
    , m_statements(std::move(statements))
{
}

QString JournalFile::open(const QString& path, QString* notice)
{
    close();
    // A journal is small enough to be checked whole before the start goes on: a damage found later
    // would otherwise stop the start at its first read.
    SqliteDatabase::OpenResult opened = SqliteDatabase::open(path, m_what, m_schemaVersion, m_upgrade, true);
    if (!opened.database)
        return opened.error;
    try {
        for (const QByteArray& sql : std::as_const(m_statements))
            (void)opened.database->prepare(sql.constData());
    } catch (const KalvoraError& e) {
        return SqliteDatabase::unexpectedSchema(m_what, path, e);
    }
    if (notice)
        *notice = opened.notice;
    m_db = std::move(opened.database);
    return {};
}

void JournalFile::replace(const QString& reason)
{
    m_lastNotice = SqliteDatabase::replaceDamaged(m_db, m_what, reason, m_schemaVersion, m_upgrade);
    qCritical().noquote() << m_lastNotice;
    if (m_onDamage)
        m_onDamage(m_lastNotice);
}
