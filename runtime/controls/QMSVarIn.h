#pragma once

#include "RuntimeControl.h"

#include <QPointer>
#include <QString>
#include <QVariant>

class QLabel;

/// \brief Operator input for a whole number between a lower and an upper limit, both stored as texts.
///
/// The operator types digits (the first key after the focus arrives replaces the shown number),
/// Backspace deletes, Return, Tab or a click elsewhere takes the entry, Escape drops it, and the up
/// and down arrows step the number by one within the limits. An entry outside the limits is refused:
/// the number turns red and a hint below the input names the allowed range; `Value` keeps the last
/// accepted number, and leaving the input shows that number again. Nothing is ever read as a
/// shortened year: an input limited to 1900 to 2100 refuses "2" or "02" rather than guessing a century.
///
/// `Value` is what the operator took last or what the program wrote last; the program may write any
/// 16-bit number, the limits bind the operator only.
class QMSVarIn final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSVarIn)
    Q_PROPERTY(QString lowerLimit READ lowerLimit WRITE setLowerLimit)
    Q_PROPERTY(QString upperLimit READ upperLimit WRITE setUpperLimit)
    Q_PROPERTY(QString storedText READ storedText WRITE setStoredText)
    Q_PROPERTY(QVariant Value READ Value WRITE setValue NOTIFY ValueChanged)

public:
    QMSVarIn(Runtime& runtime, QWidget* parent);
    ~QMSVarIn() override;

    QString lowerLimit() const { return m_lowerText; }
    void setLowerLimit(const QString& text);
    QString upperLimit() const { return m_upperText; }
    void setUpperLimit(const QString& text);
    /// A text kept for the runtime and handed back unchanged; the input itself does not use it.
    QString storedText() const { return m_storedText; }
    void setStoredText(const QString& text) { m_storedText = text; }

    /// The limits in force: a limit text that is no whole number leaves that side at the 16-bit end.
    int lower() const { return m_lower; }
    int upper() const { return m_upper; }

    QVariant Value() const { return QVariant(static_cast<int>(m_value)); }
    /// Takes the value as a 16-bit whole number (halves to even); throws KalvoraError for anything else.
    void setValue(const QVariant& value);

    /// What the input shows now: the value, or the entry being typed.
    QString text() const { return m_editing ? m_entry : QString::number(m_value); }
    /// The refusal shown for the last entry; empty while none is shown.
    QString hint() const { return m_hint; }

    /// Takes `entry` as if the operator had typed it and pressed Return; false if it was refused.
    bool enter(const QString& entry);

Q_SIGNALS:
    void ValueChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    static int parseLimit(const QString& text, int fallback, const QString& what, const QString& name);
    void store(qint16 value);
    bool commit();
    void dropEntry();
    void showHint();
    void hideHint();

    QString m_lowerText;
    QString m_upperText;
    QString m_storedText;
    int m_lower = -32768;
    int m_upper = 32767;
    qint16 m_value = 0;
    QString m_entry;
    bool m_editing = false;
    bool m_replaceOnType = false;
    QString m_hint;
    QPointer<QLabel> m_hintLabel;
};
