#include "ProjectFingerprint.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

QString ProjectFingerprint::of(const QString& folder, QString* error)
{
    const QDir root(folder);
    if (!root.exists()) {
        if (error)
            *error = QStringLiteral("%1: no such folder").arg(QDir::toNativeSeparators(folder));
        return {};
    }
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).isFile())
            files.append(root.relativeFilePath(path));
    }
    files.sort(Qt::CaseSensitive);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (const QString& relative : std::as_const(files)) {
        QFile file(root.filePath(relative));
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
            return {};
        }
        hash.addData(relative.toUtf8());
        hash.addData(QByteArrayView("\0", 1));
        hash.addData(QByteArray::number(file.size()));
        hash.addData(QByteArrayView("\0", 1));
        if (!hash.addData(&file)) {
            if (error)
                *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file.fileName()), file.errorString());
            return {};
        }
    }
    return QString::fromLatin1(hash.result().toHex());
}
