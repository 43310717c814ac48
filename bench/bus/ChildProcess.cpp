#include "ChildProcess.h"

#include <QFile>
#include <QTest>

#include <cstdio>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

ChildProcess::ChildProcess(QString name, QString program, QStringList arguments)
    : m_name(std::move(name))
{
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Should the benchmark die without stopping it (killed by a time-out), it goes too.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] {
        m_buffer += m_process.readAllStandardOutput();
        for (qsizetype end = m_buffer.indexOf('\n'); end >= 0; end = m_buffer.indexOf('\n')) {
            const QString line = QString::fromUtf8(m_buffer.left(end));
            m_buffer.remove(0, end + 1);
            if (line.startsWith(u'@'))
                m_answers.append(line.mid(1));
        }
    });
}

ChildProcess::~ChildProcess()
{
    stop();
}

bool ChildProcess::start(int readyTimeoutMs)
{
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        std::fprintf(stderr, "%s does not start: %s\n", qPrintable(m_name), qPrintable(m_process.errorString()));
        return false;
    }
    if (readyTimeoutMs > 0 && !await(QStringLiteral("ready"), readyTimeoutMs)) {
        std::fprintf(stderr, "%s did not get ready\n", qPrintable(m_name));
        return false;
    }
    return true;
}

void ChildProcess::send(const QString& command)
{
    m_process.write(command.toUtf8() + '\n');
}

std::optional<QStringList> ChildProcess::await(const QString& what, int timeoutMs)
{
    const auto find = [&] {
        for (qsizetype i = 0; i < m_answers.size(); ++i) {
            QStringList words = m_answers.at(i).split(u' ', Qt::SkipEmptyParts);
            if (words.value(0) == what)
                return i;
        }
        return qsizetype(-1);
    };
    if (!QTest::qWaitFor([&] { return find() >= 0 || m_process.state() == QProcess::NotRunning; }, timeoutMs) || find() < 0) {
        std::fprintf(stderr, "%s: no \"%s\" within %d ms\n", qPrintable(m_name), qPrintable(what), timeoutMs);
        return std::nullopt;
    }
    QStringList words = m_answers.takeAt(find()).split(u' ', Qt::SkipEmptyParts);
    words.removeFirst();
    return words;
}

void ChildProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(15000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

double ChildProcess::cpuSeconds() const
{
    return m_process.state() == QProcess::Running ? cpuSecondsOf(m_process.processId()) : -1.0;
}

double ChildProcess::cpuSecondsOf(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1.0;
    // The name in parentheses may hold spaces; the fields after its ")" are 3 (state) onwards.
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1.0;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;  // utime, stime: fields 14, 15
}
