#pragma once

#include "AlarmJournal.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>

#include <functional>

class QTimer;
class Runtime;

/// \brief The journal of one alarm or of one group as a table, newest first, read a page at a time as
/// the view scrolls (the view's fetchMore), so a journal of any length opens as fast as a short one.
///
/// Columns: time (in the list's date and time formats), alarm (designation and text in the current
/// language), event, state after it, process value, and who did it (station/user; empty for the process
/// and the clock).
class AlarmHistoryModel final : public QAbstractTableModel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmHistoryModel)

public:
    enum Column { TimeColumn, AlarmColumn, EventColumn, StateColumn, ValueColumn, StationColumn, ColumnCount };
    static constexpr int PageSize = 200;

    /// `designation` turns an alarm id into the name the list gives it ("Alarm 0019").
    AlarmHistoryModel(Runtime& runtime, AlarmJournalFilter filter, QString dateFormat, QString timeFormat,
                      std::function<QString(const QString&)> designation, QObject* parent);

    const AlarmJournalFilter& filter() const { return m_filter; }
    /// Shows the entries of another time span from the newest on.
    void setTimeSpan(qint64 fromMs, qint64 untilMs);
    /// How many entries the filter picks in the whole journal (not only those read so far).
    qint64 totalCount() const { return m_total; }
    const QList<AlarmJournalEntry>& entries() const { return m_rows; }
    /// Why the journal could not be read; empty while it reads.
    const QString& readError() const { return m_error; }

    /// Writes every entry the filter picks as CSV (RFC 4180: comma, CRLF, fields with a comma, quote or
    /// line break in double quotes, quotes doubled), UTF-8. Written to a temporary file beside `path`
    /// and renamed over it only when complete. `done` follows with an empty text on success, otherwise
    /// why not, naming the file; at once from the station's own journal, later through a server.
    void exportCsv(const QString& path, std::function<void(const QString& error)> done) const;
    static QString csvField(const QString& text);

    /// The event and the state in the current language.
    QString eventText(const QString& event) const;
    QString stateText(AlarmState state) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

Q_SIGNALS:
    /// totalCount() or readError() changed outside a reset or an insertion (an answer from a server
    /// may come after the rows it counts).
    void statusChanged();

private:
    struct CsvExport;
    void reload();
    /// Puts entries journalled since the newest shown at the top (the journal grows while it is open).
    void takeNewEntries();
    QString text(const char* key) const;
    QString alarmText(const QString& id) const;

    Runtime& m_runtime;
    AlarmJournalFilter m_filter;
    QString m_dateFormat;
    QString m_timeFormat;
    std::function<QString(const QString&)> m_designation;
    QList<AlarmJournalEntry> m_rows;
    qint64 m_total = 0;
    bool m_atEnd = false;
    /// A page asked for and not yet come (from a server); no second one meanwhile.
    bool m_fetching = false;
    /// Counts reloads: an answer to a read from before the last one is dropped.
    quint64 m_generation = 0;
    QString m_error;
    mutable QHash<QString, QString> m_alarmTexts;
    QTimer* m_newEntries = nullptr;
};
