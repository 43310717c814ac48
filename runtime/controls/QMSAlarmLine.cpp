#include "QMSAlarmLine.h"

#include "AlarmEngine.h"
#include "AlarmTimeFormat.h"
#include "Runtime.h"
#include "TagStore.h"

#include <QDateTime>
#include <QPainter>

namespace {
constexpr int textInset = 4;
const QColor priorityOne(200, 0, 0);
const QColor otherPriority(230, 150, 0);
} // namespace

QMSAlarmLine::QMSAlarmLine(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_blinkClock(BlinkClock::of(runtime))
{
    connect(&m_blinkClock, &BlinkClock::toggled, this, [this] {
        if (m_flash)
            update();
    });
}

void QMSAlarmLine::setAlarmGroup(const QString& group)
{
    if (m_group && group == m_group->name())
        return;
    disconnect(m_connection);
    m_group = group.isEmpty() ? nullptr : &runtime().alarms().group(group);
    if (m_group)
        m_connection = connect(m_group, &AlarmGroup::changed, this, &QMSAlarmLine::refresh);
    watchVariables();
    refresh();
}

void QMSAlarmLine::watchVariables()
{
    for (const QMetaObject::Connection& c : std::as_const(m_watched))
        disconnect(c);
    m_watched.clear();
    m_variables.clear();
    if (m_group)
        for (const AlarmDefinition& def : runtime().alarms().definitions())
            if (def.group == m_group->name() && !m_variables.contains(def.variable))
                m_variables.append(def.variable);
    for (const QString& name : std::as_const(m_variables))
        m_watched.append(runtime().tags().subscribe(name, this, [this](const TagValue&) { checkVariables(); }));
    checkVariables();
}

void QMSAlarmLine::checkVariables()
{
    bool bad = false;
    for (const QString& name : std::as_const(m_variables))
        bad = bad || !runtime().tags().value(name).isGood();
    setBadQuality(bad);
}

void QMSAlarmLine::setColumnCode(const QString& code)
{
    if (code == m_columnCode)
        return;
    m_columnCode = code;
    refresh();
}

void QMSAlarmLine::setDateFormat(const QString& format)
{
    if (format == m_dateFormat)
        return;
    m_dateFormat = format;
    refresh();
}

void QMSAlarmLine::setTimeFormat(const QString& format)
{
    if (format == m_timeFormat)
        return;
    m_timeFormat = format;
    refresh();
}

void QMSAlarmLine::setCaption(const QString& caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    refresh();
}

void QMSAlarmLine::setBlinkUnacknowledged(bool blink)
{
    if (blink == m_blink)
        return;
    m_blink = blink;
    refresh();
}

void QMSAlarmLine::refresh()
{
    const QList<AlarmInfo> alarms = m_group ? m_group->alarms() : QList<AlarmInfo>{};
    AlarmInfo newest = alarms.isEmpty() ? AlarmInfo{} : alarms.first();
    QString next;
    if (newest.id.isEmpty()) {
        next = m_caption;
    } else {
        const QDateTime came = QDateTime::fromMSecsSinceEpoch(newest.cameMs);
        QStringList columns;
        for (const QChar column : m_columnCode) {
            if (column == u'D')
                columns.append(AlarmTimeFormat::format(m_dateFormat, came));
            else if (column == u'T')
                columns.append(AlarmTimeFormat::format(m_timeFormat, came));
            else if (column == u'X')
                columns.append(newest.text);
        }
        next = columns.join(QStringLiteral("   "));
    }
    const bool flashing = m_blink && newest.state == AlarmState::ActiveUnacknowledged;
    if (flashing && !m_flash)
        m_flash.emplace(m_blinkClock);
    else if (!flashing)
        m_flash.reset();
    if (next == m_text && newest.id == m_alarm.id && newest.state == m_alarm.state)
        return;
    m_text = next;
    m_alarm = newest;
    update();
}

QColor QMSAlarmLine::alarmColor() const
{
    return m_alarm.priority == 1 ? priorityOne : otherPriority;
}

void QMSAlarmLine::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor background = effectiveBackColor();
    QColor foreground = effectiveForeColor();
    if (m_alarm.id.isEmpty()) {
        foreground = QColor(128, 128, 128);
    } else if (m_alarm.isActive()) {
        if (!m_flash || m_blinkClock.isOn()) {
            background = alarmColor();
            foreground = m_alarm.priority == 1 ? QColor(255, 255, 255) : QColor(0, 0, 0);
        } else {
            foreground = alarmColor();
        }
    } else {
        foreground = alarmColor().darker(130);
    }
    painter.fillRect(rect(), background);
    painter.setPen(foreground);
    const QRect area = rect().adjusted(textInset, 0, -textInset, 0);
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(m_text, Qt::ElideRight, area.width()));
    painter.setPen(QColor(128, 128, 128));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    paintQualityMark(painter);
}
