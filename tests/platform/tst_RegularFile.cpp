// The one way files come in: only regular files, within the reader's limit, and never a wait.

#include "FileKinds.h"
#include "RegularFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class TestRegularFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void readsOnlyRegularFilesWithinTheLimit_data()
    {
        QTest::addColumn<QString>("kind"); // "text:<content>", "link to text", "dangling link" or a kind for replaceWithKind()
        QTest::addColumn<QString>("fault"); // empty: read
        QTest::addColumn<bool>("missing");
        QTest::newRow("regular") << "text:0123456789" << "" << false;
        QTest::newRow("empty") << "text:" << "" << false;
        QTest::newRow("one beyond the limit") << "text:0123456789A" << "the file is 11 bytes, more than the 10 bytes" << false;
        QTest::newRow("sparse and huge") << "oversized:1000000000" << "the file is 1000000000 bytes, more than the 10" << false;
        QTest::newRow("link to a regular file") << "link to text" << "" << false;
        QTest::newRow("missing") << "nothing" << "the file is missing" << true;
        QTest::newRow("link that leads nowhere") << "dangling link" << "the file is missing" << true;
        QTest::newRow("FIFO") << "fifo" << "not a regular file but a FIFO (named pipe)" << false;
        QTest::newRow("link to /dev/zero") << "link to /dev/zero" << "not a regular file but a character device" << false;
        QTest::newRow("folder") << "folder" << "not a regular file but a folder" << false;
    }

    void readsOnlyRegularFilesWithinTheLimit()
    {
        QFETCH(QString, kind);
        QFETCH(QString, fault);
        QFETCH(bool, missing);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("f"));
        const QString target = dir.filePath(QStringLiteral("target"));
        QFile text(kind == QLatin1String("link to text") ? target : path);
        if (kind.startsWith(QLatin1String("text:")) || kind == QLatin1String("link to text")) {
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write(kind.startsWith(QLatin1String("text:")) ? kind.mid(5).toUtf8() : QByteArray("0123456789"));
            text.close();
        }
        if (kind == QLatin1String("link to text"))
            QVERIFY(QFile::link(target, path));
        else if (kind == QLatin1String("dangling link"))
            QVERIFY(QFile::link(target, path));
        else if (!kind.startsWith(QLatin1String("text:")) && kind != QLatin1String("nothing"))
            QVERIFY(replaceWithKind(path, kind));

        const ReadWatchdog watchdog(path);
        const RegularFile::Content content = RegularFile::read(path, 10);
        QVERIFY2(fault.isEmpty() ? content.ok() : content.fault.startsWith(fault), qPrintable(content.fault));
        QCOMPARE(content.missing, missing);
        if (content.ok())
            QCOMPARE(content.bytes, kind.startsWith(QLatin1String("text:")) ? kind.mid(5).toUtf8() : QByteArray("0123456789"));
        else
            QVERIFY(content.bytes.isEmpty());
        QCOMPARE(content.message(path), path + QStringLiteral(": ") + content.fault);
    }

    void followsASearchPath()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("bar.bag")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("bag");
        file.close();
        QDir::setSearchPaths(QStringLiteral("testfiles"), {dir.path()});
        QCOMPARE(RegularFile::read(QStringLiteral("testfiles:bar.bag"), 10).bytes, QByteArray("bag"));
        QVERIFY(replaceWithKind(file.fileName(), QStringLiteral("fifo")));
        const ReadWatchdog watchdog(file.fileName());
        QVERIFY(RegularFile::read(QStringLiteral("testfiles:bar.bag"), 10).fault.contains(QStringLiteral("FIFO")));
    }
};

QTEST_GUILESS_MAIN(TestRegularFile)
#include "tst_RegularFile.moc"
