// The program as a process: how it ends on a termination signal and on a broken layout.

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <csignal>

namespace {

QString station()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kalvora"));
}

QProcessEnvironment headless(const QString& dataHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    return env;
}

bool copyTree(const QString& from, const QString& to)
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
        // Up once the archive exists and the first live seconds are recorded.
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(archive), 30000);
        QTest::qWait(2500);
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
        const QString bin = QCoreApplication::applicationDirPath();
        for (const char* folder : {"layouts", "project", "html"})
            QVERIFY(copyTree(QDir(bin).filePath(QString::fromLatin1(folder)), install.filePath(QString::fromLatin1(folder))));
        QVERIFY(QFile::copy(station(), install.filePath(QStringLiteral("kalvora"))));
        QFile::setPermissions(install.filePath(QStringLiteral("kalvora")), QFile::ReadOwner | QFile::ExeOwner);
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
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QString errors = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(errors.contains(QStringLiteral("FCentral.ui:")) && errors.contains(QStringLiteral("XML error")), qPrintable(errors));
        // Nothing the runtime had accepted is lost: its archive was closed in order.
        QVERIFY(countSamples(dataHome.filePath(QStringLiteral("Kalvora/Kalvora/archive.sqlite"))) >= 0);
    }
};

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_Process.moc"
