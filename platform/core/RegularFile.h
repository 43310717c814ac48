#pragma once

#include <QByteArray>
#include <QString>

/// \brief Reads a file whole, but only a regular file of at most a stated size: a FIFO, a device, a
/// folder or a file far beyond what its reader expects is refused with the reason, never waited on or
/// read without end. Every file the program reads comes in through here.
class RegularFile final {
public:
    struct Content {
        QByteArray bytes;
        /// What is wrong with the file, without its name (such as "the file is missing"); empty when read.
        QString fault;
        /// The file is not there (also a link that leads nowhere).
        bool missing = false;

        bool ok() const { return fault.isEmpty(); }
        /// "<path>: <fault>", the message a reader hands on.
        QString message(const QString& path) const { return path + QStringLiteral(": ") + fault; }
    };

    static Content read(const QString& path, qint64 maxBytes);
};
