#pragma once

// Running the station as a process, headless, from a private copy of its installation.

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcessEnvironment>

inline QString station()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kalvora"));
}

inline QProcessEnvironment headless(const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    return env;
}

inline bool copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = QDir(to).filePath(QDir(from).relativeFilePath(source));
        if (it.fileInfo().isDir() ? !QDir().mkpath(target) : !QFile::copy(source, target))
            return false;
    }
    return true;
}

/// Copies the program with its layouts, project and help texts into `folder`, so a test can break
/// one file; returns the copied executable, or an empty string when the copy failed.
inline QString install(const QString& folder)
{
    const QString bin = QCoreApplication::applicationDirPath();
    for (const char* part : {"layouts", "project", "html"})
        if (!copyTree(QDir(bin).filePath(QString::fromLatin1(part)), QDir(folder).filePath(QString::fromLatin1(part))))
            return {};
    const QString program = QDir(folder).filePath(QStringLiteral("kalvora"));
    if (!QFile::copy(station(), program))
        return {};
    QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner);
    return program;
}

/// Replaces the first `from` in a file; false if the file lacks it.
inline bool replaceIn(const QString& path, const QByteArray& from, const QByteArray& to)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray content = file.readAll();
    file.close();
    const qsizetype at = content.indexOf(from);
    if (at < 0 || !file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    content.replace(at, from.size(), to);
    return file.write(content) == content.size();
}
