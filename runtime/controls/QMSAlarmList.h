#pragma once

#include "AlarmGroup.h"
#include "BlinkClock.h"
#include "RuntimeControl.h"

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QString>

#include <array>
#include <memory>
#include <optional>

class AlarmHistoryDialog;
class QMenu;
class QScrollBar;

/// \brief The operator's list of the alarms of one alarm group: every alarm that is active or still
/// waits for acknowledgement, newest first, kept up to date alarm by alarm from the engine.
///
/// Stored settings:
/// - `columnCode` names the columns from left to right: "T" when the alarm came, date and time in the
///   stored formats ("dd.mm.yyyy hh:mm:ss"); "D" the date alone; "X" the alarm text in the current
///   language; "N" the alarm's designation. `columnWidths` gives their widths in pixels, separated by
///   ";" ("134;370"); a column without a width takes what is left.
/// - `alarmName` and `numberFormat` ("Alarm", "0000") make the designation of an alarm: the name, a
///   space and the alarm's number in the project padded with zeros to the length of the format
///   ("Alarm 0019"). It heads the tooltip and is what the "N" column shows.
/// - `selectionColor` (RGB(0, 64, 128)) fills the picked line; `gridColor` (black) draws the frame and
///   the column rule.
///
/// The text column starts with a mark in the alarm's colour (red for priority 1, amber otherwise): "!" active
/// and not acknowledged, with the whole line flashing in the alarm colour; "●" active and acknowledged,
/// text in the alarm colour, steady; "○" gone but not yet acknowledged, grey text on a flashing pale
/// field. Flashing follows the runtime's BlinkClock. An empty list says so in one grey line.
///
/// The context menu of a line (right click, or the menu key) opens the history of the alarm or of the
/// whole list (also F2: the picked alarm, or the list when none is picked) and shelves the alarm for
/// 15 minutes, 1 hour or 8 hours. Shelved alarms leave the list and are counted in a quiet line at its
/// bottom ("2 shelved"); a click on that line, or the context menu, brings one back before its time.
class QMSAlarmList final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSAlarmList)
    Q_PROPERTY(QString alarmGroup READ alarmGroup WRITE setAlarmGroup)
    Q_PROPERTY(QString columnCode READ columnCode WRITE setColumnCode)
    Q_PROPERTY(QString columnWidths READ columnWidths WRITE setColumnWidths)
    Q_PROPERTY(QString timeFormat READ timeFormat WRITE setTimeFormat)
    Q_PROPERTY(QString dateFormat READ dateFormat WRITE setDateFormat)
    Q_PROPERTY(QString alarmName READ alarmName WRITE setAlarmName)
    Q_PROPERTY(QString numberFormat READ numberFormat WRITE setNumberFormat)
    Q_PROPERTY(QColor selectionColor READ selectionColor WRITE setSelectionColor)
    Q_PROPERTY(QColor gridColor READ gridColor WRITE setGridColor)

public:
    QMSAlarmList(Runtime& runtime, QWidget* parent);
    ~QMSAlarmList() override;

    QString alarmGroup() const { return m_group ? m_group->name() : QString(); }
    void setAlarmGroup(const QString& group);
    QString columnCode() const { return m_columnCode; }
    void setColumnCode(const QString& code);
    QString columnWidths() const { return m_columnWidths; }
    void setColumnWidths(const QString& widths);
    QString timeFormat() const { return m_timeFormat; }
    void setTimeFormat(const QString& format);
    QString dateFormat() const { return m_dateFormat; }
    void setDateFormat(const QString& format);
    QString alarmName() const { return m_alarmName; }
    void setAlarmName(const QString& name);
    QString numberFormat() const { return m_numberFormat; }
    void setNumberFormat(const QString& format);
    QColor selectionColor() const { return m_selectionColor; }
    void setSelectionColor(const QColor& color);
    QColor gridColor() const { return m_gridColor; }
    void setGridColor(const QColor& color);

    /// Acknowledges every alarm of the list's group that waits for it and is not shelved; returns how many.
    int Acknowledge();

    /// The times an operator shelves an alarm for, as the menu offers them.
    static constexpr std::array<qint64, 3> ShelveDurationsMs{15 * 60 * 1000LL, 60 * 60 * 1000LL, 8 * 60 * 60 * 1000LL};
    /// How many alarms of the group are shelved, and the quiet line that says so ("2 shelved").
    int shelvedCount() const { return static_cast<int>(m_shelved.size()); }
    QString shelvedText() const;
    /// The menu of a line (row -1: of the list alone) and the menu of the "shelved" line; their actions
    /// do what the operator asked at once.
    std::unique_ptr<QMenu> alarmMenu(int row);
    std::unique_ptr<QMenu> shelvedMenu();
    /// Opens the history of an alarm, or of the whole group for an empty id; the dialog closes with the
    /// list's window.
    AlarmHistoryDialog* showHistory(const QString& alarmId);

    /// The lines, top to bottom.
    const QList<AlarmInfo>& alarms() const { return m_rows; }
    /// The picked line, -1 when none.
    int currentRow() const;
    /// Picks a line as the operator does (raises AlarmSelected); out of range picks nothing.
    void pick(int row);
    /// What a column shows for a line, and the designation of an alarm.
    QString cellText(QChar column, const AlarmInfo& alarm) const;
    QString designation(const AlarmInfo& alarm) const;
    /// The tooltip of a line: designation, text, came, went and acknowledged.
    QString details(const AlarmInfo& alarm) const;
    /// The quiet line of an empty list, in the current language.
    QString emptyText() const;
    /// Whether the line flashes now (unacknowledged and in the bright half of the blink).
    bool isFlashing(int row) const;

    /// The 32 bytes of further values of AlarmSelected, little-endian: came, went and acknowledged
    /// (64-bit ms since the epoch, 0 for not yet), the state (32-bit: 0 normal, 1 active, 2 active and
    /// acknowledged, 3 gone but not acknowledged) and the value at the last transition (32-bit float).
    struct FrameValues {
        qint64 cameMs = 0;
        qint64 wentMs = 0;
        qint64 acknowledgedMs = 0;
        qint32 state = 0;
        float value = 0.0F;
    };
    static QByteArray encodeFrameValues(const AlarmInfo& alarm);
    static FrameValues decodeFrameValues(const QByteArray& bytes);

Q_SIGNALS:
    /// The operator picked a line. In order: the alarm's number in the project, its id
    /// ("WaterPump.Off"), its text in the current language, the further values (encodeFrameValues),
    /// its help topic and its priority.
    void AlarmSelected(qint32 number, const QString& id, const QString& text, const QByteArray& values,
                       const QString& helpTopic, qint32 priority);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool event(QEvent* event) override;

private:
    void rebuild();
    void alarmChanged(const QString& id);
    void groupChanged();
    int rowOf(const QString& id) const;
    int rowHeight() const;
    int visibleRows() const;
    int rowAt(int y) const;
    QRect shelvedLine() const;
    void addUnshelveActions(QMenu& menu);
    QString shelvedEntry(const AlarmInfo& alarm) const;
    QString text(const char* key) const;
    void scrollTo(int row);
    void updateScrollBar();
    void updateBlinking();
    QList<int> widths() const;

    QPointer<AlarmGroup> m_group;
    QList<QMetaObject::Connection> m_connections;
    QString m_columnCode = QStringLiteral("TX");
    QString m_columnWidths = QStringLiteral("134;370");
    QString m_timeFormat = QStringLiteral("%02T:%02I:%02S");
    QString m_dateFormat = QStringLiteral("%02D.%02O.%04C");
    QString m_alarmName = QStringLiteral("Alarm");
    QString m_numberFormat = QStringLiteral("0000");
    QColor m_selectionColor = QColor(0, 64, 128);
    QColor m_gridColor = QColor(0, 0, 0);

    QList<AlarmInfo> m_rows;
    QSet<QString> m_shelved;
    QString m_selectedId;
    bool m_batchSeen = false;
    QScrollBar* m_scroll = nullptr;
    BlinkClock& m_blinkClock;
    std::optional<BlinkClock::Subscription> m_blink;
};
