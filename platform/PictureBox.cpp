#include "PictureBox.h"

#include <QDebug>
#include <QPainter>

PictureBox::PictureBox(QWidget* parent)
    : QWidget(parent)
{
}

void PictureBox::setBackColor(const QColor& color)
{
    if (color == m_backColor)
        return;
    m_backColor = color;
    update();
}

void PictureBox::setPicture(const QString& file)
{
    if (file == m_pictureFile)
        return;
    m_pictureFile = file;
    m_picture = QPixmap();
    if (!file.isEmpty() && !m_picture.load(file))
        qWarning().noquote() << objectName() << ": cannot read picture" << file;
    update();
}

void PictureBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_backColor.isValid() ? m_backColor : palette().color(QPalette::Button));
    if (!m_picture.isNull())
        painter.drawPixmap(0, 0, m_picture);
}
