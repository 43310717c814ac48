#pragma once

#include "AlarmGroup.h"
#include "BlinkClock.h"
#include "RuntimeControl.h"

#include <QPointer>
#include <QString>

#include <optional>

/// \brief One line showing the newest alarm of an alarm group: when it came and its text.
///
/// The column code picks what the line shows, in order: "D" the date, "T" the time, "X" the text;
/// the stored "TX" gives time and text. Colours carry the state: an active alarm lies on red (priority
/// 1) or amber (other priorities); while it waits for acknowledgement the field flashes, in step with
/// the runtime's other flashing controls, if `blinkUnacknowledged` is set; an alarm that has gone but
/// is not yet acknowledged shows its text in that colour on the normal background. With no alarm the
/// line shows its caption, greyed. While a variable that an alarm of the group watches delivers no good
/// value, the line is flagged: the alarms it shows may not be the plant's.
class QMSAlarmLine final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSAlarmLine)
    Q_PROPERTY(QString alarmGroup READ alarmGroup WRITE setAlarmGroup)
    Q_PROPERTY(QString columnCode READ columnCode WRITE setColumnCode)
    Q_PROPERTY(QString dateFormat READ dateFormat WRITE setDateFormat)
    Q_PROPERTY(QString timeFormat READ timeFormat WRITE setTimeFormat)
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(bool blinkUnacknowledged READ blinkUnacknowledged WRITE setBlinkUnacknowledged)

public:
    QMSAlarmLine(Runtime& runtime, QWidget* parent);

    QString alarmGroup() const { return m_group ? m_group->name() : QString(); }
    void setAlarmGroup(const QString& group);
    QString columnCode() const { return m_columnCode; }
    void setColumnCode(const QString& code);
    QString dateFormat() const { return m_dateFormat; }
    void setDateFormat(const QString& format);
    QString timeFormat() const { return m_timeFormat; }
    void setTimeFormat(const QString& format);
    QString caption() const { return m_caption; }
    void setCaption(const QString& caption);
    bool blinkUnacknowledged() const { return m_blink; }
    void setBlinkUnacknowledged(bool blink);

    /// What the line shows now, and about which alarm (empty id when none).
    QString text() const { return m_text; }
    const AlarmInfo& shownAlarm() const { return m_alarm; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void watchVariables();
    void checkVariables();
    QColor alarmColor() const;

    QPointer<AlarmGroup> m_group;
    QMetaObject::Connection m_connection;
    QList<QMetaObject::Connection> m_watched;
    QStringList m_variables;
    QString m_columnCode = QStringLiteral("TX");
    QString m_dateFormat = QStringLiteral("%02D.%02O.%02Y");
    QString m_timeFormat = QStringLiteral("%02T:%02I:%02S");
    QString m_caption;
    bool m_blink = false;
    AlarmInfo m_alarm;
    QString m_text;
    BlinkClock& m_blinkClock;
    std::optional<BlinkClock::Subscription> m_flash;
};
