#pragma once

#include "AuditChain.h"

#include <QList>
#include <QLockFile>
#include <QString>

#include <memory>

/// \brief The account changes made beside a runtime (kalvora-users), waiting for the runtime to take
/// them into its audit journal: one JSON object per line in the runtime's data folder. The tool appends
/// under the log's lock; the runtime reads under the lock and removes only the lines its journal has
/// written, so nothing appended meanwhile is lost and nothing is journalled twice. Changes made while
/// no runtime runs wait for its next start. Errors come back as text, empty on success.
class AccountChangeLog final {
public:
    static QString fileName() { return QStringLiteral("account-changes.log"); }
    /// The most read at once; a longer line is journalled as damaged.
    static constexpr qint64 maxReadBytes = 1 << 20;
    /// How long a writer waits for another's lock before giving up.
    static constexpr int lockWaitMs = 5000;

    explicit AccountChangeLog(QString path);

    const QString& path() const { return m_path; }
    /// The log's lock, held while the result lives; null and `error` set when it could not be had
    /// within `waitMs`.
    std::unique_ptr<QLockFile> lock(QString* error, int waitMs = lockWaitMs) const;

    /// With the lock held: appends `row` (id and hash are not kept).
    QString append(const AuditRow& row) const;
    /// With the lock held: the log's size, and cutting it back to that size (an append taken back).
    qint64 size() const;
    QString truncate(qint64 size) const;

    struct Read {
        QList<AuditRow> rows;
        qint64 end = 0; ///< the offset after the last line read
    };
    /// With the lock held: the complete lines from offset `from`, a line that is not a change record
    /// turned into a failed row that names the log and the line, so it is journalled and not lost.
    Read read(qint64 from, qint64 nowMs) const;
    /// With the lock held: removes the first `bytes` bytes (lines the journal has written).
    QString remove(qint64 bytes) const;

private:
    QString m_path;
};
