#pragma once

#include "StdFont.h"

#include <QColor>
#include <QString>
#include <QWidget>

class Runtime;

/// \brief Base of the runtime's visible controls: the runtime they are bound to, and the stored font
/// and colours every one of them carries in the layouts.
///
/// A colour left unset means the system colour the control would have by default (button face for
/// the background, window text for the text).
class RuntimeControl : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RuntimeControl)
    Q_PROPERTY(QString typeface READ typeface WRITE setTypeface)
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QColor foreColor READ foreColor WRITE setForeColor)

public:
    Runtime& runtime() const { return m_runtime; }

    /// The font object of the control, exactly as stored (size in ten-thousandths of a point).
    const StdFont& stdFont() const { return m_font; }
    void setStdFont(const StdFont& font);

    QString typeface() const { return m_font.toString(); }
    void setTypeface(const QString& text);

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor& color);
    QColor foreColor() const { return m_foreColor; }
    void setForeColor(const QColor& color);

    QColor effectiveBackColor() const;
    QColor effectiveForeColor() const;

    /// True while the control is bound to a variable that delivers no live value and shows it marked
    /// (greyed, frozen, flagged; a switch then refuses input).
    bool showsBadQuality() const { return m_badQuality; }

protected:
    /// How much of its rectangle the control covers when it paints, so the toolkit need not draw
    /// what lies beneath an opaque control each time it repaints.
    enum class Coverage { Partial, WholeWhenBackColorSet, Whole };

    RuntimeControl(Runtime& runtime, QWidget* parent, Coverage coverage = Coverage::Partial);
    /// Fills the control with its background colour; controls call it first in their paintEvent.
    void paintBackground(class QPainter& painter) const;
    /// Sets the bad-quality state, repainting on a change.
    void setBadQuality(bool bad);
    /// Draws the bad-quality mark over `area` (the whole control when empty) while the state is set.
    void paintQualityMark(class QPainter& painter, const class QRectF& area) const;
    void paintQualityMark(class QPainter& painter) const;

private:
    void updateOpacity();

    Runtime& m_runtime;
    const Coverage m_coverage;
    StdFont m_font;
    QColor m_backColor;
    QColor m_foreColor;
    bool m_badQuality = false;
};
