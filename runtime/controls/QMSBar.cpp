#include "QMSBar.h"

#include "QualityMark.h"
#include "TagReading.h"

#include <QDebug>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
// Where the layout gives no colour of its own: the inside of an empty vessel.
const QColor emptyVessel(226, 226, 226);
const QColor markColor(64, 64, 64, 160);
const QColor hatchColor(150, 150, 150);

std::optional<double> percentage(const QString& text)
{
    bool ok = false;
    const double percent = text.trimmed().toDouble(&ok);
    if (!ok || !(percent >= 0.0 && percent <= 100.0))
        return std::nullopt;
    return percent;
}

bool isPercentage(const QString& text)
{
    return percentage(text).has_value();
}

QList<double> parseMarks(const QString& marks)
{
    QList<double> fractions;
    for (const QString& part : marks.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (const std::optional<double> percent = percentage(part))
            fractions.append(*percent / 100.0);
    return fractions;
}
} // namespace

QMSBar::QMSBar(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_binding(runtime, *this, [this](const TagValue& value) { takeValue(value); })
{
    m_markFractions = parseMarks(m_marks);
}

void QMSBar::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
}

void QMSBar::setScaleMax(double value)
{
    if (value == m_scaleMax)
        return;
    m_scaleMax = value;
    relayout();
}

void QMSBar::setMarks(const QString& marks)
{
    if (marks == m_marks)
        return;
    m_marks = marks;
    m_markFractions = parseMarks(marks);
    for (const QString& part : marks.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!isPercentage(part))
            qWarning().noquote() << objectName() << ": mark" << part << "is not a percentage of full scale";
    update();
}

void QMSBar::setBarColor(const QColor& color)
{
    if (color == m_barColor)
        return;
    m_barColor = color;
    update();
}

void QMSBar::takeValue(const TagValue& value)
{
    const std::optional<double> number = TagReading::number(value);
    const QVariant next = number ? QVariant(*number) : QVariant();
    // A reading gone bad leaves the column where the last good one put it, greyed: the level was
    // there, it is not known to be there now.
    m_frozen = !number && value.quality == TagQuality::Bad && (m_frozen || m_column >= 0);
    setBadQuality(!number && m_binding.isBound());
    if (next == m_value)
        return;
    m_value = next;
    relayout();
    Q_EMIT ValueChanged();
}

void QMSBar::relayout()
{
    if (m_frozen)
        return;
    int column = -1;
    if (m_value.isValid() && std::isfinite(m_scaleMax) && m_scaleMax > 0.0) {
        const double fraction = std::clamp(m_value.toDouble() / m_scaleMax, 0.0, 1.0);
        column = static_cast<int>(std::lround(fraction * height()));
    }
    if (column == m_column)
        return;
    m_column = column;
    update();
}

void QMSBar::resizeEvent(QResizeEvent* event)
{
    RuntimeControl::resizeEvent(event);
    relayout();
}

void QMSBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), backColor().isValid() ? backColor() : emptyVessel);
    if (m_column < 0) {
        painter.fillRect(rect(), QBrush(hatchColor, Qt::BDiagPattern));
    } else if (m_column > 0) {
        painter.fillRect(QRect(0, height() - m_column, width(), m_column), m_frozen ? QualityMark::greyed() : m_barColor);
    }
    // Marks as short ticks on both walls, like the graduation on a sight glass.
    const int tick = std::max(4, width() / 6);
    painter.setPen(QPen(markColor, 1));
    for (const double fraction : m_markFractions) {
        const int y = static_cast<int>(std::lround((1.0 - fraction) * height()));
        painter.drawLine(0, y, tick - 1, y);
        painter.drawLine(width() - tick, y, width() - 1, y);
    }
    paintQualityMark(painter);
}
