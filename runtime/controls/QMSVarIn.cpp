#include "QMSVarIn.h"

#include "KalvoraError.h"
#include "Runtime.h"
#include "TextDatabase.h"
#include "WholeNumber.h"

#include <QDebug>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <limits>

namespace {
constexpr int Shortest = std::numeric_limits<qint16>::min();
constexpr int Longest = std::numeric_limits<qint16>::max();
} // namespace

QMSVarIn::QMSVarIn(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, [this] {
        if (!m_hint.isEmpty())
            showHint();
    });
}

QMSVarIn::~QMSVarIn()
{
    delete m_hintLabel;
}

int QMSVarIn::parseLimit(const QString& text, int fallback, const QString& what, const QString& name)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (text.trimmed().isEmpty())
        return fallback;
    if (!ok || value < Shortest || value > Longest) {
        qWarning().noquote() << QStringLiteral("%1: %2 \"%3\" is no 16-bit whole number; left open").arg(name, what, text);
        return fallback;
    }
    return value;
}

void QMSVarIn::setLowerLimit(const QString& text)
{
    m_lowerText = text;
    m_lower = parseLimit(text, Shortest, QStringLiteral("lower limit"), objectName());
}

void QMSVarIn::setUpperLimit(const QString& text)
{
    m_upperText = text;
    m_upper = parseLimit(text, Longest, QStringLiteral("upper limit"), objectName());
}

void QMSVarIn::setValue(const QVariant& value)
{
    store(WholeNumber::to<qint16>(value, QStringLiteral("%1.Value").arg(objectName())));
    dropEntry();
}

void QMSVarIn::store(qint16 value)
{
    if (value == m_value)
        return;
    m_value = value;
    update();
    Q_EMIT ValueChanged();
}

bool QMSVarIn::enter(const QString& entry)
{
    m_entry = entry;
    m_editing = true;
    return commit();
}

bool QMSVarIn::commit()
{
    if (!m_editing)
        return true;
    bool ok = false;
    const int number = m_entry.toInt(&ok);
    if (!ok || number < m_lower || number > m_upper) {
        showHint();
        update();
        return false;
    }
    m_editing = false;
    m_replaceOnType = true;
    hideHint();
    store(static_cast<qint16>(number));
    update();
    return true;
}

void QMSVarIn::dropEntry()
{
    m_editing = false;
    m_entry.clear();
    hideHint();
    update();
}

void QMSVarIn::showHint()
{
    m_hint = runtime().texts().indexText("EingabeBereich")
                 .arg(m_lower)
                 .arg(m_upper);
    if (!m_hintLabel) {
        m_hintLabel = new QLabel(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
        m_hintLabel->setAttribute(Qt::WA_ShowWithoutActivating);
        m_hintLabel->setStyleSheet(QStringLiteral("QLabel { background: rgb(255, 255, 225); color: rgb(160, 0, 0); "
                                                  "border: 1px solid rgb(160, 0, 0); padding: 2px 4px; }"));
    }
    m_hintLabel->setFont(font());
    m_hintLabel->setText(m_hint);
    m_hintLabel->adjustSize();
    m_hintLabel->move(mapToGlobal(QPoint(0, height() + 2)));
    if (isVisible())
        m_hintLabel->show();
}

void QMSVarIn::hideHint()
{
    m_hint.clear();
    if (m_hintLabel)
        m_hintLabel->hide();
}

void QMSVarIn::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    const QString typed = event->text();
    if (key == Qt::Key_Up || key == Qt::Key_Down) {
        // Step from what is shown, whether taken or still being typed, and never past a limit.
        bool ok = false;
        const int shown = text().toInt(&ok);
        const int base = ok ? shown : m_value;
        const int next = std::clamp(base + (key == Qt::Key_Up ? 1 : -1), m_lower, m_upper);
        m_editing = false;
        hideHint();
        store(static_cast<qint16>(next));
        m_replaceOnType = true;
        update();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        commit();
        return;
    }
    if (key == Qt::Key_Escape) {
        dropEntry();
        m_replaceOnType = true;
        return;
    }
    if (key == Qt::Key_Backspace) {
        if (!m_editing) {
            m_entry = QString::number(m_value);
            m_editing = true;
        }
        m_entry.chop(1);
        m_replaceOnType = false;
        update();
        return;
    }
    const bool digit = typed.size() == 1 && typed.front().isDigit();
    const bool minus = typed == QLatin1String("-") && m_lower < 0;
    if (digit || minus) {
        if (!m_editing || m_replaceOnType)
            m_entry.clear();
        m_editing = true;
        m_replaceOnType = false;
        if (minus ? m_entry.isEmpty() : m_entry.size() < 6)
            m_entry.append(typed);
        update();
        return;
    }
    RuntimeControl::keyPressEvent(event);
}

void QMSVarIn::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    RuntimeControl::mousePressEvent(event);
}

void QMSVarIn::focusInEvent(QFocusEvent* event)
{
    m_replaceOnType = true;
    update();
    RuntimeControl::focusInEvent(event);
}

void QMSVarIn::focusOutEvent(QFocusEvent* event)
{
    // Leaving takes a good entry; a refused one goes, so the input shows the number a key would use.
    if (m_editing && !commit())
        dropEntry();
    update();
    RuntimeControl::focusOutEvent(event);
}

void QMSVarIn::hideEvent(QHideEvent* event)
{
    if (m_hintLabel)
        m_hintLabel->hide();
    RuntimeControl::hideEvent(event);
}

void QMSVarIn::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
    const QRect area = rect();
    // A sunken field: dark top-left edge, light bottom-right edge.
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());
    const bool refused = !m_hint.isEmpty();
    if (refused) {
        painter.setPen(QPen(QColor(200, 0, 0), 2));
        painter.drawRect(area.adjusted(1, 1, -1, -1));
    }
    const QString shown = text();
    painter.setPen(refused ? QColor(200, 0, 0) : effectiveForeColor());
    const QRect inner = area.adjusted(3, 1, -3, -1);
    painter.drawText(inner, Qt::AlignCenter, shown);
    if (hasFocus()) {
        const int textWidth = fontMetrics().horizontalAdvance(shown);
        const int caretX = inner.center().x() + (textWidth + 1) / 2 + 1;
        if (m_replaceOnType && !m_editing) {
            // Selected: the next digit replaces it.
            painter.setPen(QPen(effectiveForeColor(), 1, Qt::DotLine));
            painter.drawRect(area.adjusted(2, 2, -3, -3));
        } else {
            painter.setPen(effectiveForeColor());
            painter.drawLine(caretX, inner.top() + 3, caretX, inner.bottom() - 3);
        }
    }
}
