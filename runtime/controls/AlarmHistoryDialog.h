#pragma once

#include "AlarmJournal.h"

#include <QDialog>

#include <functional>

class AlarmHistoryModel;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTableView;
class Runtime;

/// \brief The history of one alarm or of a whole alarm list: every journal entry, newest first, read a
/// page at a time as the operator scrolls, narrowed to a time span, exportable to CSV.
class AlarmHistoryDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(AlarmHistoryDialog)

public:
    /// The spans the operator chooses from; Custom uses the two time fields.
    enum class Span { Everything, LastHour, LastDay, LastWeek, Custom };

    /// `scope` names the alarm (or, with an empty alarm, the group); `heading` says so to the operator.
    AlarmHistoryDialog(Runtime& runtime, const AlarmJournalFilter& scope, const QString& heading, const QString& dateFormat,
                       const QString& timeFormat, std::function<QString(const QString&)> designation, QWidget* parent);
    ~AlarmHistoryDialog() override;

    AlarmHistoryModel& model() { return *m_model; }
    QTableView& table() { return *m_table; }
    /// Chooses a span as the operator does; for Custom, `fromMs`..`untilMs` fill the time fields.
    void setSpan(Span span, qint64 fromMs = 0, qint64 untilMs = 0);
    /// Writes the history to `path` (what the export button does after asking for a file); `done`
    /// follows with an empty text on success, otherwise the message the operator is shown. The button
    /// waits meanwhile.
    void exportTo(const QString& path, std::function<void(const QString& error)> done);
    /// The count line below the table ("200 of 100000 entries").
    QString statusText() const;

private:
    void applySpan();
    void chooseExportFile();
    void retranslate();
    void updateStatus();
    QString text(const char* key) const;

    Runtime& m_runtime;
    QString m_heading;
    AlarmHistoryModel* m_model = nullptr;
    QLabel* m_title = nullptr;
    QLabel* m_spanLabel = nullptr;
    QComboBox* m_span = nullptr;
    QLabel* m_fromLabel = nullptr;
    QDateTimeEdit* m_from = nullptr;
    QLabel* m_untilLabel = nullptr;
    QDateTimeEdit* m_until = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_close = nullptr;
};
