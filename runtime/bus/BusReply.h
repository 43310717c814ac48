#pragma once

#include "BusResult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

/// \brief The server's answer to a request: {"ok": true, ...fields} or {"ok": false, "reason": ...}.
struct BusReply {
    bool ok = false;
    QString reason;
    QJsonObject fields;  ///< everything but "ok" and "reason"

    static BusReply success(QJsonObject fields = {}) { return {true, {}, std::move(fields)}; }
    static BusReply refused(QString reason) { return {false, std::move(reason), {}}; }

    QByteArray toJson() const;
    /// Answers can be large (history): up to 16 MB are read.
    static BusResult<BusReply> parse(const QByteArray& json);
};
