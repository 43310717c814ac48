#pragma once

#include "Runtime.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QModbusTcpServer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <functional>

/// Calls `listen(port)` with free-looking ports until it succeeds; returns the port, 0 if none was
/// found. Ports are drawn at random, so test programs running side by side do not collide.
inline int listenOnFreePort(const std::function<bool(int)>& listen)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int port = QRandomGenerator::global()->bounded(20000, 60000);
        if (listen(port))
            return port;
    }
    return 0;
}

inline int listenOnFreePort(QModbusTcpServer& server)
{
    return listenOnFreePort([&server](int port) {
        server.setConnectionParameter(QModbusDevice::NetworkAddressParameter, QStringLiteral("127.0.0.1"));
        server.setConnectionParameter(QModbusDevice::NetworkPortParameter, port);
        return server.connectDevice() && server.state() == QModbusDevice::ConnectedState;
    });
}

/// Copies the Modbus runtime project below `root`/projects/KalvoraModbus and points it at `port`.
inline QString copyModbusProject(const QString& root, int port)
{
    const QString target = QDir(root).filePath(QStringLiteral("projects/KalvoraModbus"));
    QDir().mkpath(target);
    QDirIterator it(QStringLiteral(KALVORA_SOURCE_MODBUS_PROJECT), QDir::Files);
    while (it.hasNext()) {
        it.next();
        QFile::copy(it.filePath(), QDir(target).filePath(it.fileName()));
    }
    QFile file(QDir(target).filePath(QStringLiteral("modbus.json")));
    file.open(QIODevice::ReadOnly);
    QByteArray text = file.readAll();
    file.close();
    text.replace("\"port\": 1502", "\"port\": " + QByteArray::number(port));
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(text);
    return target;
}

inline RuntimeOptions modbusOptions(const QString& root)
{
    RuntimeOptions options;
    options.projectsRoot = QDir(root).filePath(QStringLiteral("projects"));
    options.dataDirectory = QDir(root).filePath(QStringLiteral("data"));
    options.backfillHours = 0;
    return options;
}

/// Starts and waits for started() or startFailed(); returns the failure reason, empty on success.
inline QString startAndWait(Runtime& runtime, const QString& project = QStringLiteral("KalvoraModbus"))
{
    QSignalSpy started(&runtime, &Runtime::started);
    QSignalSpy failed(&runtime, &Runtime::startFailed);
    runtime.start(project);
    if (!QTest::qWaitFor([&] { return !started.isEmpty() || !failed.isEmpty(); }, 20000))
        return QStringLiteral("no answer from the runtime");
    return failed.isEmpty() ? QString() : failed.first().first().toString();
}
