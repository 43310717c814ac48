#pragma once

#include "Runtime.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

/// Copies the source tree's runtime project below `root`/projects and returns the projects folder.
inline QString copyProject(const QString& root)
{
    const QString target = QDir(root).filePath(QStringLiteral("projects/Kalvora"));
    QDir().mkpath(target);
    QDirIterator it(QStringLiteral(KALVORA_SOURCE_PROJECT), QDir::Files);
    while (it.hasNext()) {
        it.next();
        QFile::copy(it.filePath(), QDir(target).filePath(it.fileName()));
    }
    return QDir(root).filePath(QStringLiteral("projects"));
}

/// Replaces the first `from` in a file; fails the test if it is not there.
inline bool replaceInFile(const QString& path, const QByteArray& from, const QByteArray& to)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray data = file.readAll();
    file.close();
    const qsizetype at = data.indexOf(from);
    if (at < 0)
        return false;
    data.replace(at, from.size(), to);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(data);
    return true;
}

inline RuntimeOptions testOptions(const QString& root, int backfillHours = 0)
{
    RuntimeOptions options;
    options.projectsRoot = QDir(root).filePath(QStringLiteral("projects"));
    options.dataDirectory = QDir(root).filePath(QStringLiteral("data"));
    options.realTime = false;
    options.startTimeMs = 1717228800000; // 2024-06-01 08:00 UTC: fixed, so runs repeat exactly
    options.backfillHours = backfillHours;
    return options;
}

/// Starts and waits for started() or startFailed(); returns the failure reason, empty on success.
inline QString startAndWait(Runtime& runtime, const QString& project = QStringLiteral("Kalvora"), int timeoutMs = 20000)
{
    QSignalSpy started(&runtime, &Runtime::started);
    QSignalSpy failed(&runtime, &Runtime::startFailed);
    runtime.start(project);
    if (!QTest::qWaitFor([&] { return !started.isEmpty() || !failed.isEmpty(); }, timeoutMs))
        return QStringLiteral("no answer from the runtime");
    return failed.isEmpty() ? QString() : failed.first().first().toString();
}

/// Signs the screens' operator in and waits for the answer (the password is checked off the GUI
/// thread); returns the refusal, empty when signed in.
inline QString signInAndWait(Runtime& runtime, const QString& user, const QString& password)
{
    QSignalSpy finished(&runtime, &Runtime::signInFinished);
    if (!runtime.signIn(user, password))
        return QStringLiteral("refused: a sign-in is being checked");
    if (!finished.wait(10000))
        return QStringLiteral("no answer to the sign-in");
    return finished.first().first().toString();
}
