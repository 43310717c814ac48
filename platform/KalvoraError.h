#pragma once

#include <QString>

#include <stdexcept>

/// \brief The one exception type of the program: a failure with a message that names what failed and where.
class KalvoraError : public std::runtime_error {
public:
    explicit KalvoraError(const QString& message)
        : std::runtime_error(message.toStdString())
        , m_message(message)
    {
    }
    const QString& message() const noexcept { return m_message; }

private:
    QString m_message;
};
