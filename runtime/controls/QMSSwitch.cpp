#include "QMSSwitch.h"

#include "TagReading.h"
#include "TopLevelError.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
const QColor bodyColor(58, 62, 66);
const QColor onColor(0, 136, 226);
const QColor offColor(206, 206, 206);
const QColor onSymbol(255, 255, 255);
const QColor offSymbol(40, 40, 40);
const QColor unknownHatch(130, 130, 130);
} // namespace

QMSSwitch::QMSSwitch(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::WholeWhenBackColorSet)
    , m_binding(runtime, *this, [this](const TagValue& value) { takeValue(value); })
{
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void QMSSwitch::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
}

void QMSSwitch::setValueText(const QString& text)
{
    m_valueText = text;
}

QVariant QMSSwitch::onValue() const
{
    const QString text = m_valueText.trimmed();
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    if (ok)
        return QVariant(number);
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
        return QVariant(true);
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return QVariant(false);
    return QVariant(m_valueText);
}

void QMSSwitch::takeValue(const TagValue& value)
{
    const bool known = TagReading::number(value).has_value();
    const bool on = TagReading::isOn(value);
    setBadQuality(!known && m_binding.isBound());
    if (known == m_known && on == m_on)
        return;
    const bool stateChanged = on != m_on;
    m_known = known;
    m_on = on;
    update();
    if (stateChanged)
        Q_EMIT StateChanged();
}

void QMSSwitch::toggle()
{
    if (!m_known) {
        QApplication::beep();
        return;
    }
    m_binding.write(m_on ? QVariant(qlonglong(0)) : onValue());
}

void QMSSwitch::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        RuntimeControl::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    update();
}

void QMSSwitch::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_pressed) {
        RuntimeControl::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    update();
    // Like a button: sliding off before letting go cancels.
    if (rect().contains(event->position().toPoint()))
        TopLevelError::guarded([this] { toggle(); });
}

void QMSSwitch::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat())
            TopLevelError::guarded([this] { toggle(); });
        return;
    }
    RuntimeControl::keyPressEvent(event);
}

void QMSSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (backColor().isValid())
        paintBackground(painter);

    // The rocker body, inset so the focus frame has room around it.
    const QRectF body = QRectF(rect()).adjusted(2.5, 2.5, -2.5, -2.5);
    const double radius = std::min(body.width(), body.height()) * 0.18;
    painter.setPen(Qt::NoPen);
    painter.setBrush(bodyColor);
    painter.drawRoundedRect(body, radius, radius);

    const QRectF slot = body.adjusted(2, 2, -2, -2);
    if (!m_known) {
        painter.setBrush(QBrush(unknownHatch, Qt::BDiagPattern));
        painter.drawRoundedRect(slot, radius * 0.6, radius * 0.6);
    } else {
        // The lit half sits up for on, down for off, as on a wall rocker.
        const QRectF knob = m_on ? QRectF(slot.left(), slot.top(), slot.width(), slot.height() / 2.0)
                                 : QRectF(slot.left(), slot.center().y(), slot.width(), slot.height() / 2.0);
        QColor fill = m_on ? onColor : offColor;
        if (m_pressed)
            fill = fill.darker(120);
        painter.setBrush(fill);
        painter.drawRoundedRect(knob, radius * 0.6, radius * 0.6);
        // The on and off marks of operator controls, a bar for on and a ring for off, drawn rather than
        // typed so they stay crisp at every switch size.
        const double mark = std::min(knob.width(), knob.height()) * 0.5;
        painter.setPen(QPen(m_on ? onSymbol : offSymbol, std::max(1.5, mark / 6.0), Qt::SolidLine, Qt::FlatCap));
        painter.setBrush(Qt::NoBrush);
        if (m_on)
            painter.drawLine(QPointF(knob.center().x(), knob.center().y() - mark / 2.0),
                             QPointF(knob.center().x(), knob.center().y() + mark / 2.0));
        else
            painter.drawEllipse(knob.center(), mark / 2.0, mark / 2.0);
    }

    if (hasFocus()) {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Qt::black, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    paintQualityMark(painter);
}
