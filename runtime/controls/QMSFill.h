#pragma once

#include "RuntimeControl.h"
#include "TagBinding.h"

#include <QColor>
#include <QPainterPath>
#include <QPointer>
#include <QRegion>
#include <QString>

class FlowClock;

/// \brief Pipe segment that shows flow: while active, the pipe band is filled with the medium's colour
/// and light streaks move along it in the direction of flow; while idle the control draws nothing and
/// the process picture's grey pipe shows through.
///
/// Active means the bound variable delivers a good non-zero value (on, or a flow other than zero); bad
/// quality and no delivery count as idle. An unbound segment is driven only by `setFillActive`; on a
/// bound one a write holds until the variable next changes.
///
/// All segments of a runtime share one animation clock (12.5 frames a second) that runs only while at
/// least one active segment is on screen, and repaints exactly those segments.
class QMSFill final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSFill)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(int FillActive READ FillActive WRITE setFillActive)
    Q_PROPERTY(int pipeWidth READ pipeWidth WRITE setPipeWidth)
    Q_PROPERTY(QString flowPath READ flowPath WRITE setFlowPath)
    Q_PROPERTY(QColor flowColor READ flowColor WRITE setFlowColor)

public:
    /// Time between two animation frames.
    static constexpr int frameMs = 80;
    /// How far the streaks move per frame, in pixels.
    static constexpr int stepPixels = 3;

    QMSFill(Runtime& runtime, QWidget* parent);
    ~QMSFill() override;

    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);

    /// 1 while the segment animates, 0 while idle.
    int FillActive() const { return m_active ? 1 : 0; }
    /// A positive number starts the animation, zero or less stops it.
    void setFillActive(int active);

    /// Thickness of the pipe band in pixels; 0 takes the whole short side of the control.
    int pipeWidth() const { return m_pipeWidth; }
    void setPipeWidth(int pixels);
    /// The pipe's centre line as points "x,y x,y ..." in pixels within the control, in the direction of
    /// flow, so one segment can turn a corner. Empty: straight through the middle along the longer side,
    /// flowing right or down. A text with fewer than two points falls back to that.
    QString flowPath() const { return m_flowPathText; }
    void setFlowPath(const QString& path);
    QColor flowColor() const { return m_flowColor; }
    void setFlowColor(const QColor& color);

    /// The centre line in use, after the fallback.
    QPainterPath centreLine() const;
    /// The band's thickness in use.
    int bandWidth() const;
    /// Repaints the band only: siblings overlapping the segment's rectangle outside the band stay as
    /// they are, so an animated pipe never makes the switch or label beside it redraw.
    void updateBand();

Q_SIGNALS:
    /// Raised after FillActive changed and can be read.
    void ValueChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void setActive(bool active);
    void recomputeBand();

    QRegion m_band;
    void updateClockMembership();

    bool m_active = false;
    int m_pipeWidth = 0;
    QString m_flowPathText;
    QList<QPointF> m_flowPoints;
    QColor m_flowColor = QColor(0, 136, 226);
    QPointer<FlowClock> m_clock;
    TagBinding m_binding;
};
