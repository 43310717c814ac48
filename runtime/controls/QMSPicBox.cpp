#include "QMSPicBox.h"

#include "TagReading.h"

#include <QDebug>
#include <QPainter>

namespace {
const QColor missingColor(120, 120, 120);
} // namespace

QMSPicBox::QMSPicBox(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_binding(runtime, *this, [this](const TagValue& value) { takeValue(value); })
{
}

void QMSPicBox::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
}

void QMSPicBox::load(Picture& picture, const QString& file)
{
    picture.file = file;
    picture.pixmap = QPixmap();
    picture.failed = !file.isEmpty() && !picture.pixmap.load(file);
    if (picture.failed)
        qWarning().noquote() << objectName() << ": cannot read picture" << file;
}

void QMSPicBox::setPictureOn(const QString& file)
{
    if (file == m_on.file)
        return;
    load(m_on, file);
    if (m_showOn)
        update();
}

void QMSPicBox::setPictureOff(const QString& file)
{
    if (file == m_off.file)
        return;
    load(m_off, file);
    if (!m_showOn)
        update();
}

void QMSPicBox::takeValue(const TagValue& value)
{
    // An unbound box (a plain picture) has no state to be unsure of.
    const bool noValue = m_binding.isBound() && !TagReading::number(value).has_value();
    const bool on = TagReading::isOn(value);
    if (noValue == m_noValue && on == m_showOn)
        return;
    m_noValue = noValue;
    m_showOn = on;
    setBadQuality(noValue);
    update();
}

void QMSPicBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
    const Picture& shown = m_showOn ? m_on : m_off;
    if (!shown.pixmap.isNull()) {
        painter.drawPixmap(0, 0, shown.pixmap);
    } else if (shown.failed) {
        painter.setPen(QPen(missingColor, 1));
        const QRect frame = rect().adjusted(0, 0, -1, -1);
        painter.drawRect(frame);
        painter.drawLine(frame.topLeft(), frame.bottomRight());
        painter.drawLine(frame.topRight(), frame.bottomLeft());
        painter.drawText(rect().adjusted(4, 4, -4, -4), Qt::AlignBottom | Qt::AlignHCenter | Qt::TextWrapAnywhere, shown.file);
    }
    if (m_noValue) {
        // Fades the picture into its own background, so the state reads as unknown, not as off.
        QColor veil = effectiveBackColor();
        veil.setAlpha(160);
        painter.fillRect(rect(), veil);
    }
    paintQualityMark(painter);
}
