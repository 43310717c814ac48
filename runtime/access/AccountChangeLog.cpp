#include "AccountChangeLog.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

const char* const keys[] = {"station", "user", "action", "target", "old", "new", "result", "reason"};

QList<QString*> texts(AuditRow& row)
{
    return {&row.station, &row.user, &row.action, &row.target, &row.oldValue, &row.newValue, &row.result, &row.reason};
}

/// The row of one line, or an empty action with the reason why the line is none.
AuditRow parse(const QByteArray& line)
{
    AuditRow row;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (!doc.isObject()) {
        row.reason = error.error == QJsonParseError::NoError ? QStringLiteral("not an object") : error.errorString();
        return row;
    }
    const QJsonObject o = doc.object();
    if (!o.value(QLatin1String("time")).isDouble()) {
        row.reason = QStringLiteral("time is not a number");
        return row;
    }
    row.timeMs = o.value(QLatin1String("time")).toInteger();
    const QList<QString*> fields = texts(row);
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QJsonValue v = o.value(QLatin1String(keys[i]));
        if (!v.isString()) {
            row.action.clear();
            row.reason = QStringLiteral("%1 is not a text").arg(QLatin1String(keys[i]));
            return row;
        }
        *fields[i] = v.toString();
    }
    if (row.action.isEmpty())
        row.reason = QStringLiteral("action is empty");
    return row;
}

} // namespace

AccountChangeLog::AccountChangeLog(QString path)
    : m_path(std::move(path))
{
}

std::unique_ptr<QLockFile> AccountChangeLog::lock(QString* error, int waitMs) const
{
    auto lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
    if (lock->tryLock(waitMs))
        return lock;
    *error = lock->error() == QLockFile::LockFailedError
        ? QStringLiteral("%1: another program holds the lock %1.lock").arg(m_path)
        : QStringLiteral("%1: cannot create the lock %1.lock").arg(m_path);
    return nullptr;
}

QString AccountChangeLog::append(const AuditRow& row) const
{
    QJsonObject o{{QStringLiteral("time"), row.timeMs}};
    AuditRow copy = row;
    const QList<QString*> fields = texts(copy);
    for (qsizetype i = 0; i < fields.size(); ++i)
        o.insert(QLatin1String(keys[i]), *fields[i]);
    QFile file(m_path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return QStringLiteral("%1: cannot write: %2").arg(m_path, file.errorString());
    // A line cut short by a writer that died goes on a line of its own, journalled as damaged.
    QByteArray bytes;
    if (file.size() > 0 && file.seek(file.size() - 1) && file.peek(1) != "\n")
        bytes = "\n";
    bytes += QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    if (!file.seek(file.size()) || file.write(bytes) != bytes.size() || !file.flush())
        return QStringLiteral("%1: cannot write: %2").arg(m_path, file.errorString());
    return {};
}

qint64 AccountChangeLog::size() const
{
    return QFileInfo(m_path).size();
}

QString AccountChangeLog::truncate(qint64 size) const
{
    return QFile::resize(m_path, size) ? QString() : QStringLiteral("%1: cannot cut back to %2 bytes").arg(m_path).arg(size);
}

AccountChangeLog::Read AccountChangeLog::read(qint64 from, qint64 nowMs) const
{
    Read out;
    out.end = from;
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(from))
        return out;
    const QByteArray chunk = file.read(maxReadBytes);
    qsizetype start = 0;
    // Lines before `from` were taken already; count them only for the messages.
    qint64 lineNumber = 0;
    if (from > 0 && file.seek(0))
        lineNumber = file.read(from).count('\n');
    for (qsizetype newline; (newline = chunk.indexOf('\n', start)) >= 0 || (start == 0 && chunk.size() == maxReadBytes); start = newline + 1) {
        if (newline < 0)
            newline = chunk.size() - 1; // one line longer than anything the tool writes: taken whole as damaged
        ++lineNumber;
        const QByteArray line = chunk.mid(start, newline - start).trimmed();
        if (line.isEmpty()) {
            out.end = from + newline + 1;
            continue;
        }
        AuditRow row = parse(line);
        if (row.action.isEmpty()) {
            row = AuditRow{0, nowMs, {}, {}, QStringLiteral("account-change"), {}, {}, QString::fromUtf8(line.left(200)), QStringLiteral("failed"),
                QStringLiteral("%1, line %2: not an account change: %3").arg(m_path).arg(lineNumber).arg(row.reason), {}};
        }
        out.rows.append(row);
        out.end = from + newline + 1;
    }
    return out;
}

QString AccountChangeLog::remove(qint64 bytes) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1: cannot read: %2").arg(m_path, file.errorString());
    if (!file.seek(bytes))
        return QStringLiteral("%1: cannot read: %2").arg(m_path, file.errorString());
    const QByteArray rest = file.readAll();
    file.close();
    QSaveFile out(m_path);
    if (!out.open(QIODevice::WriteOnly) || out.write(rest) != rest.size() || !out.commit())
        return QStringLiteral("%1: cannot write: %2").arg(m_path, out.errorString());
    return {};
}
