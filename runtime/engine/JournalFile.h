#pragma once

#include "SqliteDatabase.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

/// \brief The SQLite file of a journal, kept the way the archive is kept: checked when it opens, a
/// file found damaged then or in operation moved aside with its WAL and replaced by a fresh one, and
/// a file whose tables do not take the journal's statements refused at opening, so nothing is written
/// into a file that cannot hold it.
class JournalFile final {
public:
    /// Told, with the file named, when a damaged file was moved aside in operation (or could not be).
    using DamageHandler = std::function<void(const QString& notice)>;

    /// `what` names the file in messages; `statements` are every statement the journal runs.
    JournalFile(QString what, int schemaVersion, SqliteDatabase::Upgrade upgrade, QList<QByteArray> statements);

    /// Empty on success, otherwise why not; `notice` receives what the operator should know although
    /// it worked (a damaged file moved aside).
    QString open(const QString& path, QString* notice);
    void close() { m_db.reset(); }
    bool isOpen() const { return m_db != nullptr; }
    SqliteDatabase& db() { return *m_db; }
    void setDamageHandler(DamageHandler handler) { m_onDamage = std::move(handler); }

    /// Runs `work`; a damaged file found on the way is replaced, and false says `work` gave nothing.
    template <class F>
    bool read(F&& work)
    {
        return m_db && SqliteDatabase::guarded(work, [this](const QString& reason) { replace(reason); });
    }
    /// Runs `work`; a damaged file found on the way is replaced and `work` runs once more, into the
    /// fresh file. Any other refusal is thrown on.
    template <class F>
    void write(F&& work)
    {
        if (m_db && SqliteDatabase::guarded(work, [this](const QString& reason) { replace(reason); }))
            return;
        if (!m_db)
            throw KalvoraError(m_lastNotice);
        work();
    }

private:
    void replace(const QString& reason);

    QString m_what;
    int m_schemaVersion;
    SqliteDatabase::Upgrade m_upgrade;
    QList<QByteArray> m_statements;
    std::unique_ptr<SqliteDatabase> m_db;
    DamageHandler m_onDamage;
    QString m_lastNotice;
};
