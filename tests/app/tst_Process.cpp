// The program as a process: how it ends on a termination signal and on a broken layout.

#include "ProcessSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>

namespace {

qint64 countSamples(const QString& archive)
{
    sqlite3* db = nullptr;
    qint64 rows = -1;
    if (sqlite3_open_v2(archive.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* check = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK && sqlite3_step(check) == SQLITE_ROW
            && qstrcmp(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok") == 0)
            rows = 0;
        sqlite3_finalize(check);
        sqlite3_stmt* count = nullptr;
        if (rows == 0 && sqlite3_prepare_v2(db, "SELECT count(*) FROM samples", -1, &count, nullptr) == SQLITE_OK
            && sqlite3_step(count) == SQLITE_ROW)
            rows = sqlite3_column_int64(count, 0);
        sqlite3_finalize(count);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace

class TestProcess final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void terminationSignalEndsCleanly_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    void terminationSignalEndsCleanly()
    {
        QFETCH(int, signalNumber);
        QTemporaryDir dataHome;
        QProcess process;
        process.setProcessEnvironment(headless(dataHome.path()));
        process.start(station(), {});
        QVERIFY(process.waitForStarted());
        const QString archive = dataHome.filePath(QStringLiteral("Kalvora/Kalvora/archive.sqlite"));
        // Up once the archive holds its first samples; other programs may read it while the station runs.
        QTRY_VERIFY_WITH_TIMEOUT(countSamples(archive) > 0, 60000);
        QCOMPARE(process.state(), QProcess::Running);
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        // The runtime closed the archive before it reported stopped: intact, nothing left in the log.
        QVERIFY(!QFile::exists(archive + QStringLiteral("-wal")) || QFileInfo(archive + QStringLiteral("-wal")).size() == 0);
        QVERIFY(countSamples(archive) > 0);
    }

    void aBrokenLayoutIsReportedAndEndsTheProgram()
    {
        QTemporaryDir install;
        QVERIFY(!::install(install.path()).isEmpty());
        QFile layout(install.filePath(QStringLiteral("layouts/FCentral.ui")));
        QVERIFY(layout.open(QIODevice::ReadWrite));
        const QByteArray content = layout.readAll();
        layout.resize(0);
        layout.write(content.left(content.size() / 2)); // cut off in the middle
        layout.close();

        QTemporaryDir dataHome;
        QProcess process;
        process.setProcessEnvironment(headless(dataHome.path()));
        process.start(install.filePath(QStringLiteral("kalvora")), {});
        // Found at start: the start window shows it and stays until the program is told to end.
        QString errors;
        QVERIFY(QTest::qWaitFor([&] { return (errors += QString::fromUtf8(process.readAllStandardError())).contains(QStringLiteral("XML error")); }, 30000));
        QCOMPARE(process.state(), QProcess::Running);
        // The runtime itself starts and records; it is stopped in order as well.
        const QString archive = dataHome.filePath(QStringLiteral("Kalvora/Kalvora/archive.sqlite"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(archive), 30000);
        ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        errors += QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("FCentral.ui:")) && errors.contains(QStringLiteral("XML error")), qPrintable(errors));
        // Nothing the runtime had accepted is lost: its archive was closed in order.
        QVERIFY(countSamples(archive) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"
