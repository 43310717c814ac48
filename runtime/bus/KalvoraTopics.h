#pragma once

#include <QString>

/// \brief Our topics below kalvora/<project>/ (PROTOCOL.md): the server's status, one retained state per
/// alarm, and each station's requests and responses.
class KalvoraTopics final {
public:
    explicit KalvoraTopics(QString project);

    /// A topic level we build from a name: not empty, no '/', '+' or '#', no NUL.
    static bool isValidLevel(const QString& level);
    /// A station's broker user name: letters, digits, '-' and '_', not "server".
    static bool isValidStation(const QString& station);

    const QString& project() const { return m_project; }
    QString server() const;
    QString alarm(const QString& id) const;
    QString alarmsFilter() const;
    QString request(const QString& station) const;
    QString requestsFilter() const;
    QString response(const QString& station) const;
    /// The station of a request topic; empty when `topic` is not one.
    QString stationOfRequest(const QString& topic) const;
    /// The alarm id of an alarm state topic; empty when `topic` is not one.
    QString alarmOf(const QString& topic) const;

private:
    QString m_prefix;
    QString m_project;
};
