#pragma once

#include "BusResult.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <limits>

/// \brief One request of a station to the server (PROTOCOL.md): the operation and its fields, decoded
/// strictly from the JSON body, and encoded the same way by the station.
struct BusRequest {
    enum class Op {
        Write, Acknowledge, AcknowledgeAlarm, Shelve, Unshelve, Reduced, Range, JournalPage, JournalCount, Catalogue,
        SignIn, SignOut, Sessions, EndSession
    };

    static constexpr qsizetype maxBytes = 65536;
    static constexpr qsizetype maxUserLength = 256;
    static constexpr int maxBuckets = 10000;
    static constexpr qint64 maxRangeSpanMs = 6 * 3600 * 1000LL;
    static constexpr int maxPageLimit = 5000;

    Op op = Op::Catalogue;
    QString user;
    QString session;
    // write
    QString variable;
    QVariant value;  ///< bool, qlonglong (whole numbers), double or QString
    // acknowledge
    QString group;
    // acknowledgeAlarm, shelve, unshelve; endSession: the session's public id
    QString id;
    // signIn: never logged, never echoed
    QString password;
    qint64 durationMs = 0;
    // reduced, range
    QString archive;
    QString trend;
    qint64 from = 0;
    qint64 to = 0;
    int buckets = 0;
    // journalPage, journalCount: the filter
    QString filterAlarm;
    QString filterGroup;
    qint64 filterFrom = 0;
    qint64 filterUntil = std::numeric_limits<qint64>::max();
    qint64 before = 0;
    int limit = 0;

    static QString opName(Op op);
    /// Never throws: whatever is wrong comes back as the reason.
    static BusResult<BusRequest> parse(const QByteArray& json);
    QByteArray toJson() const;
};
