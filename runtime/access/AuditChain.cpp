#include "AuditChain.h"

#include "Crypto.h"

#include <QtEndian>

#include <algorithm>

namespace {

void appendNumber(QByteArray& out, qint64 value)
{
    const quint64 le = qToLittleEndian(static_cast<quint64>(value));
    out.append(reinterpret_cast<const char*>(&le), sizeof le);
}

void appendField(QByteArray& out, const QByteArray& bytes)
{
    appendNumber(out, bytes.size());
    out.append(bytes);
}

} // namespace

QByteArray AuditChain::genesis()
{
    return QByteArray(Crypto::digestBytes, '\0');
}

QByteArray AuditChain::hashOf(const AuditRow& row, const QByteArray& previous)
{
    QByteArray data("kalvora-audit-1");
    appendField(data, previous);
    appendNumber(data, row.id);
    appendNumber(data, row.timeMs);
    for (const QString* text : {&row.station, &row.user, &row.action, &row.target, &row.oldValue, &row.newValue, &row.result, &row.reason})
        appendField(data, text->toUtf8());
    return Crypto::digest(data);
}

AuditChain::Verdict AuditChain::verify(const QList<AuditRow>& rows, const QByteArray& previous)
{
    Verdict verdict;
    QByteArray before = previous;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const AuditRow& row = rows.at(i);
        if (!Crypto::equal(hashOf(row, before), row.hash)) {
            verdict.ok = false;
            verdict.index = i;
            verdict.id = row.id;
            const bool gap = i > 0 && row.id != rows.at(i - 1).id + 1;
            // The chain cannot tell an edit from a removal; the ids can hint at which it was.
            verdict.reason = gap ? QStringLiteral("row %1 does not follow row %2: the rows between are missing, or a row was changed")
                                       .arg(row.id)
                                       .arg(rows.at(i - 1).id)
                                 : QStringLiteral("row %1 was changed, or a row before it was removed, inserted or moved").arg(row.id);
            return verdict;
        }
        before = row.hash;
        verdict.checked = i + 1;
    }
    return verdict;
}

AuditChain::Verdict AuditChain::verify(const QList<AuditRow>& rows, const Head& head)
{
    Verdict verdict = verify(rows);
    if (!verdict.ok)
        return verdict;
    const qint64 lastId = rows.isEmpty() ? 0 : rows.last().id;
    const QByteArray lastHash = rows.isEmpty() ? genesis() : rows.last().hash;
    if (lastId == head.id && Crypto::equal(lastHash, head.hash))
        return verdict;
    verdict.ok = false;
    verdict.index = rows.size();
    if (lastId < head.id) {
        verdict.id = lastId + 1;
        verdict.reason = QStringLiteral("row %1 is missing: the journal recorded rows up to %2, the file ends at %3").arg(lastId + 1).arg(head.id).arg(lastId);
    } else {
        verdict.index = rows.size() - 1;
        verdict.id = lastId;
        verdict.reason = QStringLiteral("row %1 is not the newest row the journal recorded (row %2)").arg(lastId).arg(head.id);
    }
    return verdict;
}

AuditChain::Head AuditChain::continuation(const Head& recorded, qint64 highestId)
{
    return {std::max(recorded.id, highestId), recorded.hash.size() == genesis().size() ? recorded.hash : genesis()};
}

AuditChain::Head AuditChain::extend(QList<AuditRow>& rows, const Head& last)
{
    Head head = last;
    for (AuditRow& row : rows) {
        row.id = ++head.id;
        row.hash = hashOf(row, head.hash);
        head.hash = row.hash;
    }
    return head;
}
