#include "QMSKey.h"

#include "Runtime.h"
#include "TextDatabase.h"
#include "TopLevelError.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

QMSKey::QMSKey(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
{
    setFocusPolicy(Qt::StrongFocus);
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, &QMSKey::refreshCaption);
}

void QMSKey::setTextGroup(const QString& group)
{
    if (group == m_textGroup)
        return;
    m_textGroup = group;
    refreshCaption();
}

void QMSKey::setTextKey(const QString& key)
{
    if (key == m_textKey)
        return;
    m_textKey = key;
    refreshCaption();
}

void QMSKey::refreshCaption()
{
    const QString next = m_textKey.isEmpty() ? QString() : runtime().texts().text(m_textGroup, m_textKey);
    if (next == m_caption)
        return;
    m_caption = next;
    update();
}

void QMSKey::setPicture(const StdPicture& picture)
{
    if (picture == m_picture)
        return;
    m_picture = picture;
    m_pixmap = picture.isNull() ? QPixmap() : picture.pixmap();
    update();
}

void QMSKey::click()
{
    // The press is an entry point of its own: whatever the handlers behind it fail with goes to the top.
    TopLevelError::guarded([this] { Q_EMIT Click(); });
}

void QMSKey::setDown(bool down)
{
    if (down == m_down)
        return;
    m_down = down;
    update();
}

void QMSKey::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    setDown(true);
}

void QMSKey::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !m_down)
        return;
    setDown(false);
    if (rect().contains(event->position().toPoint()))
        click();
}

void QMSKey::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space || event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        click();
        return;
    }
    RuntimeControl::keyPressEvent(event);
}

void QMSKey::focusInEvent(QFocusEvent* event)
{
    update();
    RuntimeControl::focusInEvent(event);
}

void QMSKey::focusOutEvent(QFocusEvent* event)
{
    setDown(false);
    update();
    RuntimeControl::focusOutEvent(event);
}

void QMSKey::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect();
    paintBackground(painter);
    // A flat raised key: light top-left edge, dark bottom-right edge, swapped while pressed.
    const QColor light(255, 255, 255);
    const QColor dark(128, 128, 128);
    painter.setPen(m_down ? dark : light);
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(m_down ? light : dark);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());

    const QPoint shift = m_down ? QPoint(1, 1) : QPoint(0, 0);
    if (!m_pixmap.isNull()) {
        // Shown at its own size where it fits, scaled down (never up) where the key is smaller.
        const QSize size = m_pixmap.size().scaled(area.size() - QSize(4, 4), Qt::KeepAspectRatio).boundedTo(m_pixmap.size());
        QRect target(QPoint(0, 0), size);
        target.moveCenter(area.center() + shift);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(target, m_pixmap);
    } else if (!m_caption.isEmpty()) {
        painter.setPen(isEnabled() ? effectiveForeColor() : dark);
        painter.drawText(area.translated(shift), Qt::AlignCenter | Qt::TextWordWrap, m_caption);
    }
    if (hasFocus()) {
        painter.setPen(QPen(QColor(0, 0, 0), 1, Qt::DotLine));
        painter.drawRect(area.adjusted(3, 3, -4, -4));
    }
}
