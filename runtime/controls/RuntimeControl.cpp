#include "RuntimeControl.h"

#include "KalvoraError.h"
#include "QualityMark.h"

#include <QDebug>
#include <QPainter>

RuntimeControl::RuntimeControl(Runtime& runtime, QWidget* parent, Coverage coverage)
    : QWidget(parent)
    , m_runtime(runtime)
    , m_coverage(coverage)
{
    QWidget::setFont(m_font.toQFont());
    updateOpacity();
}

void RuntimeControl::updateOpacity()
{
    setAttribute(Qt::WA_OpaquePaintEvent,
                 m_coverage == Coverage::Whole || (m_coverage == Coverage::WholeWhenBackColorSet && m_backColor.isValid()));
}

void RuntimeControl::setStdFont(const StdFont& font)
{
    if (font == m_font)
        return;
    m_font = font;
    QWidget::setFont(m_font.toQFont());
    update();
}

void RuntimeControl::setTypeface(const QString& text)
{
    // Layouts are checked before they are built, so a bad text here comes from code; keep the font.
    try {
        setStdFont(StdFont::parse(text));
    } catch (const KalvoraError& e) {
        qWarning().noquote() << objectName() << e.message();
    }
}

void RuntimeControl::setBackColor(const QColor& color)
{
    if (color == m_backColor)
        return;
    m_backColor = color;
    updateOpacity();
    update();
}

void RuntimeControl::setForeColor(const QColor& color)
{
    if (color == m_foreColor)
        return;
    m_foreColor = color;
    update();
}

QColor RuntimeControl::effectiveBackColor() const
{
    return m_backColor.isValid() ? m_backColor : palette().color(QPalette::Button);
}

QColor RuntimeControl::effectiveForeColor() const
{
    return m_foreColor.isValid() ? m_foreColor : palette().color(QPalette::WindowText);
}

void RuntimeControl::paintBackground(QPainter& painter) const
{
    painter.fillRect(rect(), effectiveBackColor());
}

void RuntimeControl::setBadQuality(bool bad)
{
    if (bad == m_badQuality)
        return;
    m_badQuality = bad;
    update();
}

void RuntimeControl::paintQualityMark(QPainter& painter, const QRectF& area) const
{
    if (m_badQuality)
        QualityMark::paint(painter, area);
}

void RuntimeControl::paintQualityMark(QPainter& painter) const
{
    paintQualityMark(painter, QRectF(rect()));
}
