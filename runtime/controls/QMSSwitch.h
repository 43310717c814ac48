#pragma once

#include "RuntimeControl.h"
#include "TagBinding.h"

#include <QString>
#include <QVariant>

/// \brief Operator switch for a two-state process variable: a rocker whose lit upper half means on.
///
/// A click or the space key toggles it by writing the variable; the switch then shows what the variable
/// reports back, never what was clicked, so a write the plant refuses leaves it as it was. A failed write
/// goes to the program's top-level error handling; one the access rules refuse is the runtime's to
/// explain (a note, the sign-in dialog). While the variable delivers no good value the switch
/// shows no state, is flagged, reads as off and does not write: with the state unknown a toggle could go
/// either way.
class QMSSwitch final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSSwitch)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(QString valueText READ valueText WRITE setValueText)
    Q_PROPERTY(int SwitchState READ SwitchState NOTIFY StateChanged)

public:
    QMSSwitch(Runtime& runtime, QWidget* parent);

    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);
    /// The value written to switch on, as stored text; off always writes 0. The layouts store "-1", the
    /// all-bits-set "true" of two-state variables: the runtime keeps it as on, and any non-zero value the
    /// variable reports back reads as on. A whole number is written as a number, "true"/"false" as on/off,
    /// anything else as text.
    QString valueText() const { return m_valueText; }
    void setValueText(const QString& text);

    /// 1 while the variable reports on, 0 while it reports off or delivers no good value.
    int SwitchState() const { return m_on ? 1 : 0; }
    /// Whether the variable delivers a good value, so the switch shows a state.
    bool hasState() const { return m_known; }

    /// Operates the switch as a click does: writes the opposite of the reported state. Throws
    /// KalvoraError when the write fails (not when the access rules refuse it); does nothing while the
    /// state is unknown.
    void toggle();

Q_SIGNALS:
    /// Raised after SwitchState changed and can be read, whoever changed the variable.
    void StateChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void takeValue(const TagValue& value);
    QVariant onValue() const;

    QString m_valueText = QStringLiteral("-1");
    bool m_on = false;
    bool m_known = false;
    bool m_pressed = false;
    TagBinding m_binding;
};
