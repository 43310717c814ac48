// How the station ends after a failed start, as a script that started it sees it: the reason on
// standard error as soon as it is shown, the start window staying up, and a non-zero exit code.

#include "FileKinds.h"
#include "ProcessSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

QByteArray deepNesting(int depth)
{
    QByteArray open;
    QByteArray close;
    for (int i = 0; i < depth; ++i) {
        open += "<widget class=\"QWidget\" name=\"deep" + QByteArray::number(i) + "\">";
        close += "</widget>";
    }
    return open + close + "</ui>";
}

} // namespace

class TestExitCodes final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void failedStartEndsWithItsReason_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("from"); // empty: the file becomes a file of the kind `to` (replaceWithKind)
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<int>("signalNumber"); // 0: the program ends by itself
        QTest::addColumn<QStringList>("reason");

        // A screen an operator opens only later is checked at start all the same.
        QTest::newRow("broken alarm screen layout")
            << QStringLiteral("layouts/FAlarms.ui") << QByteArray("</ui>") << QByteArray()
            << int(SIGTERM) << QStringList{QStringLiteral("start failed: "), QStringLiteral("FAlarms.ui:"), QStringLiteral("XML error")};
        QTest::newRow("chooser nested too deep")
            << QStringLiteral("layouts/frmSelection.ui") << QByteArray("</ui>") << deepNesting(30000)
            << int(SIGHUP) << QStringList{QStringLiteral("frmSelection.ui:"), QStringLiteral("deeper than 32 levels")};
        QTest::newRow("trend screen of absurd size")
            << QStringLiteral("layouts/FTrends.ui") << QByteArray("<width>1024</width>") << QByteArray("<width>2147483647</width>")
            << int(SIGTERM) << QStringList{QStringLiteral("FTrends.ui:"), QStringLiteral("width 2147483647 is outside")};
        // Without its start window the program has nowhere to show anything: it ends at once.
        QTest::newRow("start window of absurd size")
            << QStringLiteral("layouts/FStart.ui") << QByteArray("<width>520</width>") << QByteArray("<width>2147483647</width>")
            << 0 << QStringList{QStringLiteral("FStart.ui:5:"), QStringLiteral("width 2147483647 is outside 1 to 4096")};
        QTest::newRow("start control names no project")
            << QStringLiteral("layouts/FStart.ui") << QByteArray("\"projectName\"><string>Kalvora<") << QByteArray("\"projectName\"><string><")
            << int(SIGTERM) << QStringList{QStringLiteral("start failed: "), QStringLiteral("No runtime project was named")};
        QTest::newRow("project field misspelt")
            << QStringLiteral("project/Kalvora/variables.json") << QByteArray("\"writable\"") << QByteArray("\"writabel\"")
            << int(SIGTERM) << QStringList{QStringLiteral("start failed: "), QStringLiteral("variables.json"), QStringLiteral("writabel: unknown field")};
        QTest::newRow("project error, terminal closed")
            << QStringLiteral("project/Kalvora/alarms.json") << QByteArray("\"limit\": 1100,") << QByteArray("\"limit\": 1100, \"limit\": 1,")
            << int(SIGHUP) << QStringList{QStringLiteral("alarms.json, line"), QStringLiteral("\"limit\" is given twice")};
        // Read, it would hold the start for good, waiting for a writer.
        QTest::newRow("project file a FIFO")
            << QStringLiteral("project/Kalvora/variables.json") << QByteArray() << QByteArray("fifo")
            << int(SIGTERM) << QStringList{QStringLiteral("start failed: "), QStringLiteral("variables.json: not a regular file but a FIFO")};
    }

    void failedStartEndsWithItsReason()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, signalNumber);
        QFETCH(QStringList, reason);

        QTemporaryDir folder;
        const QString program = install(folder.path());
        QVERIFY(!program.isEmpty());
        if (from.isEmpty())
            QVERIFY(replaceWithKind(folder.filePath(file), QString::fromLatin1(to)));
        else
            QVERIFY2(replaceIn(folder.filePath(file), from, to), "the installed file no longer holds the text this case edits");

        QTemporaryDir dataHome;
        QProcess process;
        process.setProcessEnvironment(headless(dataHome.path()));
        process.start(program, {});
        QVERIFY(process.waitForStarted());
        QString errors;
        const auto told = [&] {
            errors += QString::fromUtf8(process.readAllStandardError());
            for (const QString& part : reason)
                if (!errors.contains(part))
                    return false;
            return true;
        };
        QVERIFY2(QTest::qWaitFor(told, 30000), qPrintable(errors));
        if (signalNumber != 0) {
            QTest::qWait(300);
            QCOMPARE(process.state(), QProcess::Running); // the start window stays with the reason
            ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        }
        // It may have ended already while its reason was being read.
        QVERIFY(process.state() == QProcess::NotRunning || process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
    }
};

QTEST_GUILESS_MAIN(TestExitCodes)
#include "tst_ExitCodes.moc"
