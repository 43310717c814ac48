#include "RegularFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

QString tooLarge(qint64 size, qint64 maxBytes)
{
    return QStringLiteral("the file is %1 bytes, more than the %2 bytes such a file may have").arg(size).arg(maxBytes);
}

QString grewTooLarge(qint64 maxBytes)
{
    return QStringLiteral("the file holds more than the %1 bytes such a file may have").arg(maxBytes);
}

#ifdef Q_OS_UNIX
QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO (named pipe)");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("of an unknown kind");
}

QString notRegular(mode_t mode)
{
    return QStringLiteral("not a regular file but %1; only regular files are read").arg(kindOf(mode));
}

QString systemError(const char* what, int error)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(error)));
}

/// Closes the descriptor on every way out.
struct Descriptor {
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
#endif

} // namespace

RegularFile::Content RegularFile::read(const QString& path, qint64 maxBytes)
{
    Content content;
#ifdef Q_OS_UNIX
    // QFileInfo resolves a search-path prefix such as "layouts:"; it looks, but opens nothing.
    const QByteArray name = QFile::encodeName(QFileInfo(path).filePath());
    // Looked at before it is opened: opening a device may already do something (a tape rewinds, a
    // terminal becomes ours), and opening a FIFO waits for a writer.
    struct stat before {};
    if (::stat(name.constData(), &before) != 0) {
        const int error = errno;
        content.missing = error == ENOENT;
        content.fault = content.missing ? QStringLiteral("the file is missing") : systemError("cannot read the file", error);
        return content;
    }
    if (!S_ISREG(before.st_mode)) {
        content.fault = notRegular(before.st_mode);
        return content;
    }
    if (before.st_size > maxBytes) {
        content.fault = tooLarge(before.st_size, maxBytes);
        return content;
    }
    // Without blocking, and checked again on what was opened: the name may have been given to a FIFO
    // or a device in the meantime.
    Descriptor file{::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)};
    if (file.fd < 0) {
        content.fault = systemError("cannot read the file", errno);
        return content;
    }
    struct stat opened {};
    if (::fstat(file.fd, &opened) != 0) {
        content.fault = systemError("cannot read the file", errno);
        return content;
    }
    if (!S_ISREG(opened.st_mode)) {
        content.fault = notRegular(opened.st_mode);
        return content;
    }
    // One byte beyond the limit tells a file that grew since it was looked at.
    content.bytes.resize(static_cast<qsizetype>(std::min<qint64>(opened.st_size, maxBytes) + 1));
    qint64 total = 0;
    for (;;) {
        if (total == content.bytes.size()) {
            if (total > maxBytes)
                break;
            content.bytes.resize(static_cast<qsizetype>(std::min<qint64>(total * 2, maxBytes + 1)));
        }
        const ssize_t got = ::read(file.fd, content.bytes.data() + total, static_cast<size_t>(content.bytes.size() - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            content.fault = systemError("cannot read the file", errno);
            content.bytes.clear();
            return content;
        }
        if (got == 0)
            break;
        total += got;
    }
    if (total > maxBytes) {
        content.fault = grewTooLarge(maxBytes);
        content.bytes.clear();
        return content;
    }
    content.bytes.truncate(static_cast<qsizetype>(total));
#else
    // Elsewhere the toolkit's view has to do: a name that is no regular file is not opened.
    const QFileInfo info(path);
    if (!info.exists()) {
        content.missing = true;
        content.fault = QStringLiteral("the file is missing");
        return content;
    }
    if (!info.isFile()) {
        content.fault = QStringLiteral("not a regular file; only regular files are read");
        return content;
    }
    if (info.size() > maxBytes) {
        content.fault = tooLarge(info.size(), maxBytes);
        return content;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        content.fault = QStringLiteral("cannot read the file: %1").arg(file.errorString());
        return content;
    }
    content.bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        content.fault = QStringLiteral("cannot read the file: %1").arg(file.errorString());
        content.bytes.clear();
    } else if (content.bytes.size() > maxBytes) {
        content.fault = grewTooLarge(maxBytes);
        content.bytes.clear();
    }
#endif
    return content;
}
