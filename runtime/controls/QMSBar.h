#pragma once

#include "RuntimeControl.h"
#include "TagBinding.h"

#include <QColor>
#include <QList>
#include <QString>
#include <QVariant>

/// \brief Level bar: the value of one process variable as a column rising from the bottom, on a scale
/// from 0 to `scaleMax`, with marks at the stored percentages of full scale.
///
/// Values outside the scale are drawn clamped to it; `BarValue` still reports them as delivered. With
/// no good value (bad quality, nothing delivered, not a number) `BarValue` is null and the bar is
/// flagged; a reading that went bad freezes the column, greyed, where the last good value left it,
/// otherwise the bar is hatched. The bar repaints only when the drawn column changes by at least a pixel, so a level creeping by
/// a litre does not redraw it.
class QMSBar final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSBar)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(double scaleMax READ scaleMax WRITE setScaleMax)
    Q_PROPERTY(QString marks READ marks WRITE setMarks)
    Q_PROPERTY(QColor barColor READ barColor WRITE setBarColor)

public:
    QMSBar(Runtime& runtime, QWidget* parent);

    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);
    double scaleMax() const { return m_scaleMax; }
    /// A full scale that is not a positive finite number draws no column (the bar shows "no value").
    void setScaleMax(double value);
    /// Percentages of full scale separated by ";" ("20;40;60;80"); entries outside 0 to 100 or not
    /// numbers are left out.
    QString marks() const { return m_marks; }
    void setMarks(const QString& marks);
    QColor barColor() const { return m_barColor; }
    void setBarColor(const QColor& color);

    /// The delivered value as a double, or a null variant while there is no good value.
    QVariant BarValue() const { return m_value; }

    /// The drawn column in pixels from the bottom, or -1 while no column is drawn.
    int columnHeight() const { return m_column; }

Q_SIGNALS:
    /// Raised after BarValue changed and can be read.
    void ValueChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void takeValue(const TagValue& value);
    void relayout();

    double m_scaleMax = 100.0;
    QString m_marks = QStringLiteral("20;40;60;80");
    QList<double> m_markFractions;
    QColor m_barColor = QColor(0, 136, 226);
    QVariant m_value;
    int m_column = -1;
    bool m_frozen = false;
    TagBinding m_binding;
};
