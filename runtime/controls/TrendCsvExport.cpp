#include "TrendCsvExport.h"

#include <QDateTime>
#include <QLocale>

namespace {

QString quoted(QString field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n')))
        return field;
    return QLatin1Char('"') + field.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}

} // namespace

void TrendCsvExport::start(HistoryReader& history, const QString& path, std::vector<Curve> curves, qint64 from, qint64 to,
                           QObject* parent, std::function<void(const QString&)> done)
{
    auto* job = new TrendCsvExport(history, path, std::move(curves), from, to, parent, std::move(done));
    job->pump();
}

TrendCsvExport::TrendCsvExport(HistoryReader& history, const QString& path, std::vector<Curve> curves, qint64 from, qint64 to,
                               QObject* parent, std::function<void(const QString&)> done)
    : QObject(parent)
    , m_history(history)
    , m_file(path)
    , m_curves(std::move(curves))
    , m_to(to)
    , m_t0(from)
    , m_done(std::move(done))
{
}

void TrendCsvExport::pump()
{
    if (!m_file.isOpen()) {
        if (!m_file.open(QIODevice::WriteOnly | QIODevice::Text))
            return finish(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
        QString header = QStringLiteral("time");
        for (const Curve& c : m_curves)
            header += QLatin1Char(',') + quoted(c.archive + QLatin1Char('/') + c.trend);
        m_file.write(header.toUtf8() + '\n');
        if (m_curves.empty() || m_t0 > m_to)
            return finish({});
    }
    // Answers that come at once are taken in this loop, not by recursion, so a long period does not
    // grow the stack; an answer that comes later picks the loop up again.
    m_pumping = true;
    while (!m_finished) {
        m_answered = false;
        ask();
        if (!m_answered)
            break;
    }
    m_pumping = false;
}

void TrendCsvExport::ask()
{
    const Curve& c = m_curves[m_curve];
    m_history.range(c.archive, c.trend, m_t0, std::min(m_to, m_t0 + ChunkMs - 1), this,
        [this](const QList<ArchiveSample>& samples, const QString& error) { answer(samples, error); });
}

void TrendCsvExport::answer(const QList<ArchiveSample>& samples, const QString& error)
{
    m_answered = true;
    if (m_finished)
        return;
    if (!error.isEmpty())
        return finish(QStringLiteral("%1: %2").arg(m_file.fileName(), error));
    for (const ArchiveSample& s : samples) {
        auto& row = m_rows[s.timeMs];
        row.resize(m_curves.size());
        row[m_curve] = QString::number(s.value, 'g', QLocale::FloatingPointShortest);
    }
    if (++m_curve == m_curves.size()) {
        writeChunk();
        m_curve = 0;
        m_t0 += ChunkMs;
        if (!m_finished && m_t0 > m_to)
            return finish({});
    }
    if (!m_pumping && !m_finished)
        pump();
}

void TrendCsvExport::writeChunk()
{
    QByteArray chunk;
    for (const auto& [t, values] : m_rows) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
        chunk += local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs).toUtf8();
        for (const QString& v : values)
            chunk += ',' + v.toUtf8();
        chunk += '\n';
    }
    m_rows.clear();
    if (m_file.write(chunk) != chunk.size())
        finish(QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString()));
}

void TrendCsvExport::finish(const QString& error)
{
    if (m_finished)
        return;
    m_finished = true;
    QString result = error;
    if (result.isEmpty() && !m_file.commit())
        result = QStringLiteral("%1: %2").arg(m_file.fileName(), m_file.errorString());
    if (!error.isEmpty())
        m_file.cancelWriting();
    m_done(result);
    deleteLater();
}
