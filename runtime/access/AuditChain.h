#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

/// One row of the audit journal as the chain sees it.
struct AuditRow {
    qint64 id = 0;
    qint64 timeMs = 0;
    QString station;
    QString user;
    QString action; ///< "sign-in", "write", "acknowledge", ...
    QString target;
    QString oldValue;
    QString newValue;
    QString result;
    QString reason;
    QByteArray hash; ///< 32 bytes: digest of the fields above and the previous row's hash
};

/// \brief Links audit rows into a hash chain, so that an edited, deleted, inserted or reordered row is
/// found. Each row's hash is BLAKE2b over a length-prefixed encoding of its fields (no two different
/// rows encode alike, however their texts are cut) and the hash of the row before it; the first row
/// follows genesis(), 32 zero bytes. Knows nothing of how rows are stored.
class AuditChain final {
public:
    AuditChain() = delete;

    static QByteArray genesis();
    /// The hash `row` must carry when it follows a row whose hash is `previous`.
    static QByteArray hashOf(const AuditRow& row, const QByteArray& previous);

    struct Verdict {
        bool ok = true;
        qsizetype index = -1; ///< the first broken row's place in the list
        qint64 id = 0;        ///< and its id
        QString reason;
        qsizetype checked = 0; ///< rows checked
    };
    /// Checks `rows` (in id order) from the first to the first broken one. Rows cut off at the end
    /// leave no trace in the chain itself; the journal keeps the newest hash elsewhere for that.
    static Verdict verify(const QList<AuditRow>& rows, const QByteArray& previous = genesis());

    /// The newest row as the journal recorded it apart from the rows.
    struct Head {
        qint64 id = 0;
        QByteArray hash;
    };
    /// verify() from the genesis, and then that the last row is `head`: rows cut off at the end, or a
    /// newest row replaced, are found too.
    static Verdict verify(const QList<AuditRow>& rows, const Head& head);

    /// The row new rows follow in a journal whose record of its newest row is `recorded` and whose
    /// highest id is `highestId`: ids go on after both (an id is never given twice, even when rows were
    /// cut off), hashes after the recorded hash (the genesis when that is unreadable).
    static Head continuation(const Head& recorded, qint64 highestId);
    /// Gives `rows` the ids and hashes that follow `last`; returns the new newest row.
    static Head extend(QList<AuditRow>& rows, const Head& last);
};
