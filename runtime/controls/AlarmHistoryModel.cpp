#include "AlarmHistoryModel.h"

#include "AlarmEngine.h"
#include "AlarmTimeFormat.h"
#include "Runtime.h"
#include "TextDatabase.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QTimer>

#include <algorithm>

namespace {

// Reading for an export goes in larger steps than the view's pages; still bounded in memory.
constexpr int exportPage = 2000;

QString csvLine(const QStringList& fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& f : fields)
        quoted.append(AlarmHistoryModel::csvField(f));
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}
} // namespace

AlarmHistoryModel::AlarmHistoryModel(Runtime& runtime, AlarmJournalFilter filter, QString dateFormat, QString timeFormat,
                                     std::function<QString(const QString&)> designation, QObject* parent)
    : QAbstractTableModel(parent)
    , m_runtime(runtime)
    , m_filter(std::move(filter))
    , m_dateFormat(std::move(dateFormat))
    , m_timeFormat(std::move(timeFormat))
    , m_designation(std::move(designation))
{
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, [this] {
        m_alarmTexts.clear();
        Q_EMIT headerDataChanged(Qt::Horizontal, 0, ColumnCount - 1);
        if (!m_rows.isEmpty())
            Q_EMIT dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, ColumnCount - 1));
    });
    // Gathered over a moment: a flood of alarms reads the journal a few times a second, not per alarm.
    m_newEntries = new QTimer(this);
    m_newEntries->setSingleShot(true);
    m_newEntries->setInterval(200);
    connect(m_newEntries, &QTimer::timeout, this, &AlarmHistoryModel::takeNewEntries);
    connect(&runtime.alarms(), &AlarmEngine::changed, m_newEntries, [this] {
        if (!m_newEntries->isActive())
            m_newEntries->start();
    });
    reload();
}

void AlarmHistoryModel::takeNewEntries()
{
    if (!m_error.isEmpty() || m_fetching)
        return;
    const quint64 generation = m_generation;
    m_runtime.history().journalPage(m_filter, 0, PageSize, this, [this, generation](QList<AlarmJournalEntry> page, const QString& error) {
        if (generation != m_generation)
            return;
        if (!error.isEmpty()) {
            m_error = error;
            Q_EMIT statusChanged();
            return;
        }
        const qint64 newest = m_rows.isEmpty() ? 0 : m_rows.first().id;
        qsizetype fresh = 0;
        while (fresh < page.size() && page.at(fresh).id > newest)
            ++fresh;
        if (fresh == 0)
            return;
        // More than a page came: read afresh rather than leave a hole between old and new.
        if (fresh == page.size() && !m_rows.isEmpty())
            return reload();
        page.resize(fresh);
        beginInsertRows({}, 0, static_cast<int>(fresh) - 1);
        m_rows = page + m_rows;
        m_total += fresh;
        endInsertRows();
    });
}

void AlarmHistoryModel::setTimeSpan(qint64 fromMs, qint64 untilMs)
{
    if (fromMs == m_filter.fromMs && untilMs == m_filter.untilMs)
        return;
    m_filter.fromMs = fromMs;
    m_filter.untilMs = untilMs;
    reload();
}

void AlarmHistoryModel::reload()
{
    beginResetModel();
    ++m_generation;
    m_rows.clear();
    m_atEnd = false;
    m_fetching = false;
    m_error.clear();
    m_total = 0;
    const quint64 generation = m_generation;
    m_runtime.history().journalCount(m_filter, this, [this, generation](qint64 count, const QString& error) {
        if (generation != m_generation)
            return;
        m_total = count;
        if (!error.isEmpty()) {
            m_error = error;
            m_atEnd = true;
        }
        Q_EMIT statusChanged();
    });
    endResetModel();
    // The first page at once, so the dialog opens with its newest entries shown.
    fetchMore({});
}

bool AlarmHistoryModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && !m_atEnd;
}

void AlarmHistoryModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid() || m_atEnd || m_fetching)
        return;
    m_fetching = true;
    const quint64 generation = m_generation;
    m_runtime.history().journalPage(m_filter, m_rows.isEmpty() ? 0 : m_rows.last().id, PageSize, this,
        [this, generation](const QList<AlarmJournalEntry>& page, const QString& error) {
            if (generation != m_generation)
                return;
            m_fetching = false;
            if (!error.isEmpty()) {
                // A journal that cannot be read shows what it gave so far; the dialog says why it stops.
                m_error = error;
                m_atEnd = true;
                Q_EMIT statusChanged();
                return;
            }
            m_atEnd = page.size() < PageSize;
            if (page.isEmpty())
                return;
            const int first = static_cast<int>(m_rows.size());
            beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
            m_rows += page;
            endInsertRows();
        });
}

int AlarmHistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int AlarmHistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString AlarmHistoryModel::text(const char* key) const
{
    return m_runtime.texts().indexText(key);
}

QString AlarmHistoryModel::eventText(const QString& event) const
{
    static const QHash<QString, const char*> keys{{QStringLiteral("came"), "AlarmGekommen"},
                                                  {QStringLiteral("went"), "AlarmGegangen"},
                                                  {QStringLiteral("acknowledged"), "AlarmQuittiert"},
                                                  {QStringLiteral("shelved"), "AlarmEreignisZurueckgestellt"},
                                                  {QStringLiteral("unshelved"), "AlarmEreignisZurueckgeholt"},
                                                  {QStringLiteral("shelve-expired"), "AlarmEreignisAbgelaufen"}};
    const char* key = keys.value(event, nullptr);
    // An event a later version writes still shows, in its own word.
    return key ? text(key) : event;
}

QString AlarmHistoryModel::stateText(AlarmState state) const
{
    switch (state) {
    case AlarmState::Normal: return text("AlarmZustandNormal");
    case AlarmState::ActiveUnacknowledged: return text("AlarmZustandAktiv");
    case AlarmState::ActiveAcknowledged: return text("AlarmZustandAktivQuittiert");
    case AlarmState::ReturnedUnacknowledged: return text("AlarmZustandGegangen");
    }
    return {};
}

QString AlarmHistoryModel::alarmText(const QString& id) const
{
    auto it = m_alarmTexts.constFind(id);
    if (it == m_alarmTexts.constEnd()) {
        const AlarmInfo alarm = m_runtime.alarms().alarm(id);
        // An alarm the project no longer defines is still named by its id.
        const QString shown = alarm.id.isEmpty() ? id : m_designation(id) + QStringLiteral("  ") + alarm.text;
        it = m_alarmTexts.insert(id, shown);
    }
    return *it;
}

QVariant AlarmHistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const AlarmJournalEntry& e = m_rows.at(index.row());
    if (role == Qt::TextAlignmentRole)
        return index.column() == ValueColumn ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case TimeColumn: {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(e.timeMs);
        return AlarmTimeFormat::format(m_dateFormat, t) + QLatin1Char(' ') + AlarmTimeFormat::format(m_timeFormat, t);
    }
    case AlarmColumn:
        return alarmText(e.alarm);
    case EventColumn: {
        QString shown = eventText(e.event);
        if (e.event == QLatin1String("shelved") && e.shelvedUntilMs > 0)
            shown += QLatin1Char(' ') + text("AlarmBis").arg(AlarmTimeFormat::format(m_timeFormat, QDateTime::fromMSecsSinceEpoch(e.shelvedUntilMs)));
        return shown;
    }
    case StateColumn:
        return stateText(e.state);
    case ValueColumn: {
        const QLocale locale(m_runtime.texts().languageId() == TextDatabase::German ? QLocale::German : QLocale::English);
        return locale.toString(e.value, 'g', 6);
    }
    case StationColumn:
        return e.station;
    default:
        return {};
    }
}

QVariant AlarmHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const keys[ColumnCount] = {"VerlaufZeit", "VerlaufAlarm", "VerlaufEreignis", "VerlaufZustand", "VerlaufWert",
                                                  "VerlaufStation"};
    return section >= 0 && section < ColumnCount ? QVariant(text(keys[section])) : QVariant();
}

QString AlarmHistoryModel::csvField(const QString& text)
{
    static const QString special = QStringLiteral(",\"\r\n");
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return special.contains(c); }))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

namespace {
// Local time with its offset, so an export taken across a change of daylight saving reads right.
QString isoTime(qint64 ms)
{
    if (ms <= 0)
        return {};
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}
} // namespace

/// One export in flight: the file being written and where the next page starts. Pages come at once from
/// the station's own journal or later from a server; each answer holds the export alive until the next.
struct AlarmHistoryModel::CsvExport {
    const AlarmHistoryModel* model;
    QSaveFile file;
    QString shown;
    std::function<void(const QString&)> done;
    qint64 before = 0;
    QHash<QString, QString> texts;
    bool finished = false;
    /// Set while a page is asked for: an answer that comes at once is taken by the loop in next().
    bool asking = false;
    bool answered = false;

    CsvExport(const AlarmHistoryModel* m, const QString& path, std::function<void(const QString&)> d)
        : model(m), file(path), shown(QFileInfo(path).absoluteFilePath()), done(std::move(d))
    {
    }

    void finish(const QString& why)
    {
        finished = true;
        QString error = why;
        if (!why.isEmpty())
            file.cancelWriting();
        else if (!file.commit())
            error = file.errorString();
        done(error.isEmpty() ? QString() : QStringLiteral("%1: %2").arg(shown, error));
    }

    static void next(const std::shared_ptr<CsvExport>& self)
    {
        // An answer that comes inside journalPage() asks for the following page here, not by nesting.
        do {
            self->answered = false;
            self->asking = true;
            self->model->m_runtime.history().journalPage(self->model->m_filter, self->before, exportPage,
                                                         const_cast<AlarmHistoryModel*>(self->model),
                                                         [self](const QList<AlarmJournalEntry>& page, const QString& error) {
                                                             if (self->take(page, error) && !self->asking)
                                                                 next(self);
                                                         });
            self->asking = false;
        } while (self->answered && !self->finished);
    }

    /// Writes one page; true when another is to be asked for.
    bool take(const QList<AlarmJournalEntry>& page, const QString& error)
    {
        if (!error.isEmpty()) {
            finish(error);
            return false;
        }
        QByteArray chunk;
        for (const AlarmJournalEntry& e : page) {
            auto it = texts.constFind(e.alarm);
            if (it == texts.constEnd())
                it = texts.insert(e.alarm, model->m_runtime.alarms().alarm(e.alarm).text);
            chunk += csvLine({isoTime(e.timeMs), e.alarm, *it, e.event, AlarmJournal::stateName(e.state),
                              QString::number(e.value, 'g', 15), e.station, isoTime(e.shelvedUntilMs)})
                         .toUtf8();
        }
        if (file.write(chunk) != chunk.size()) {
            finish(file.errorString());
            return false;
        }
        if (page.size() < exportPage) {
            finish({});
            return false;
        }
        before = page.last().id;
        answered = asking;
        return true;
    }
};

void AlarmHistoryModel::exportCsv(const QString& path, std::function<void(const QString& error)> done) const
{
    auto job = std::make_shared<CsvExport>(this, path, std::move(done));
    if (!job->file.open(QIODevice::WriteOnly))
        return job->finish(job->file.errorString());
    // Machine words for the event and the state, so a spreadsheet or a script can sort and count them;
    // the alarm's text in the current language for the reader.
    const QByteArray header = csvLine({QStringLiteral("time"), QStringLiteral("alarm"), QStringLiteral("text"), QStringLiteral("event"),
                                       QStringLiteral("state"), QStringLiteral("value"), QStringLiteral("station"),
                                       QStringLiteral("shelved_until")})
                                  .toUtf8();
    if (job->file.write(header) != header.size())
        return job->finish(job->file.errorString());
    CsvExport::next(job);
}
