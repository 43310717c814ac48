#pragma once

#include "RuntimeControl.h"

/// \brief A plain shape: a rectangle with a line and a fill of its own stored settings. The background
/// window uses one as the frame around the operator screen area.
class QMSShape final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSShape)
    Q_PROPERTY(QColor lineColor READ lineColor WRITE setLineColor)
    Q_PROPERTY(int lineWidth READ lineWidth WRITE setLineWidth)
    Q_PROPERTY(QColor fillColor READ fillColor WRITE setFillColor)

public:
    QMSShape(Runtime& runtime, QWidget* parent);

    QColor lineColor() const { return m_lineColor; }
    void setLineColor(const QColor& color);
    int lineWidth() const { return m_lineWidth; }
    void setLineWidth(int pixels);
    /// An unset fill leaves the inside transparent.
    QColor fillColor() const { return m_fillColor; }
    void setFillColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_lineColor = QColor(128, 128, 128);
    int m_lineWidth = 1;
    QColor m_fillColor;
};
