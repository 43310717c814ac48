#pragma once

#include "RuntimeControl.h"
#include "SingleLineText.h"
#include "TagBinding.h"

#include <QString>

/// \brief Numeric value display: the current value of one process variable followed by its unit.
///
/// Every display on the station formats the same way, so panels read alike:
/// - `decimals` digits after the decimal separator, rounded half away from zero; the layouts give
///   litres 0 ("48.250 l"), temperatures 1 ("71,4 °C"), condensate flows 1 ("2,6");
/// - the whole part grouped in thousands;
/// - separators of the runtime's current language, switched with it: German "48.250 l" and "71,4 °C",
///   English "48,250 l" and "71.4 °C";
/// - a value that rounds to zero never shows a minus sign.
///
/// A value of bad quality, one not delivered yet, and one that is not a finite number show "---" in a
/// dashed frame, greyed and flagged, never a number, so a stale or broken reading cannot pass for a
/// live one.
class QMSVarOut final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSVarOut)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(QString unitText READ unitText WRITE setUnitText)
    Q_PROPERTY(int decimals READ decimals WRITE setDecimals)
    Q_PROPERTY(Qt::Alignment alignment READ alignment WRITE setAlignment)

public:
    static constexpr int maxDecimals = 6;

    QMSVarOut(Runtime& runtime, QWidget* parent);

    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);
    QString unitText() const { return m_unitText; }
    void setUnitText(const QString& unit);
    int decimals() const { return m_decimals; }
    /// Clamped to 0 to maxDecimals.
    void setDecimals(int decimals);
    Qt::Alignment alignment() const { return m_alignment; }
    void setAlignment(Qt::Alignment alignment);

    /// What the display shows now.
    QString text() const { return m_shown; }
    /// True while the display shows no value (bad quality, nothing delivered, not a number).
    bool showsNoValue() const { return m_noValue; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    QString m_unitText;
    int m_decimals = 0;
    Qt::Alignment m_alignment = Qt::AlignRight | Qt::AlignVCenter;
    QString m_shown;
    SingleLineText m_line;
    bool m_noValue = true;
    TagBinding m_binding;
};
