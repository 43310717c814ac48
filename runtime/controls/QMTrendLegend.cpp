#include "QMTrendLegend.h"

#include "QMTrend.h"

#include <QDebug>
#include <QPainter>
#include <QtWidgets/qdrawutil.h>

QMTrendLegend::QMTrendLegend(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
{
}

void QMTrendLegend::setTrendcontrol(const QString& name)
{
    m_trendControl = name;
}

void QMTrendLegend::setAppearance(int appearance)
{
    if (appearance == m_appearance)
        return;
    m_appearance = appearance;
    update();
}

void QMTrendLegend::UpdateLegend()
{
    QList<Entry> entries;
    QWidget* found = m_trendControl.isEmpty() ? nullptr : window()->findChild<QWidget*>(m_trendControl);
    if (const auto* chart = qobject_cast<const QMTrend*>(found)) {
        for (int i = 0; i < QMTrend::SlotCount; ++i) {
            const QMTrend::CurveSlot& slot = chart->slot(i);
            if (slot.isUsed())
                entries.append({slot.color, slot.trend, slot.archive, slot.minValue, slot.maxValue});
        }
    } else if (found) {
        qWarning().noquote() << objectName() << ": trendcontrol" << m_trendControl << "is a"
                             << found->metaObject()->className() << ", not a trend chart; the legend stays empty";
    } else {
        qWarning().noquote() << objectName() << ": there is no trend chart" << m_trendControl
                             << "on its window; the legend stays empty";
    }
    if (entries == m_entries)
        return;
    m_entries = std::move(entries);
    update();
}

QString QMTrendLegend::entryText(const Entry& entry)
{
    return QStringLiteral("%1 (%2) %3\u2013%4")
        .arg(entry.trend, entry.archive, QString::number(entry.minValue, 'g', 6), QString::number(entry.maxValue, 'g', 6));
}

void QMTrendLegend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
    QRect area = rect();
    if (m_appearance != 0) {
        qDrawShadePanel(&painter, area, palette(), true, 1);
        area.adjust(2, 2, -2, -2);
    }
    if (m_entries.isEmpty())
        return;
    const int rows = static_cast<int>((m_entries.size() + entriesPerRow - 1) / entriesPerRow);
    const int cellWidth = area.width() / entriesPerRow;
    const int cellHeight = area.height() / std::max(rows, 2);
    const QFontMetrics metrics(font());
    const int swatchWidth = 14;
    const int swatchHeight = std::max(4, metrics.ascent() / 2);
    painter.setPen(effectiveForeColor());
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        const QRect cell(area.left() + static_cast<int>(i % entriesPerRow) * cellWidth,
                         area.top() + static_cast<int>(i / entriesPerRow) * cellHeight, cellWidth, cellHeight);
        const QRect swatch(cell.left() + 4, cell.center().y() - swatchHeight / 2, swatchWidth, swatchHeight);
        painter.fillRect(swatch, entry.color);
        const QRect textArea = cell.adjusted(swatch.width() + 8, 0, -2, 0);
        painter.drawText(textArea, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(entryText(entry), Qt::ElideRight, textArea.width()));
    }
}
