#include "QMSVarOut.h"

#include "QualityMark.h"
#include "Runtime.h"
#include "TagReading.h"
#include "TextDatabase.h"

#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr int textInset = 3;
const QString noValueText = QStringLiteral("---");

QLocale localeOf(int languageId)
{
    if (languageId == TextDatabase::German)
        return QLocale(QLocale::German, QLocale::Germany);
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

QString formatNumber(double value, int decimals, const QLocale& locale)
{
    const double scale = std::pow(10.0, decimals);
    double rounded = std::round(value * scale) / scale;
    if (rounded == 0.0)
        rounded = 0.0; // drops the sign of -0.0
    return locale.toString(rounded, 'f', decimals);
}

} // namespace

QMSVarOut::QMSVarOut(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_binding(runtime, *this, [this](const TagValue&) { refresh(); })
{
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, &QMSVarOut::refresh);
    refresh();
}

void QMSVarOut::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
}

void QMSVarOut::setUnitText(const QString& unit)
{
    if (unit == m_unitText)
        return;
    m_unitText = unit;
    refresh();
}

void QMSVarOut::setDecimals(int decimals)
{
    decimals = std::clamp(decimals, 0, maxDecimals);
    if (decimals == m_decimals)
        return;
    m_decimals = decimals;
    refresh();
}

void QMSVarOut::setAlignment(Qt::Alignment alignment)
{
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    update();
}

void QMSVarOut::refresh()
{
    const TagValue& value = m_binding.value();
    const std::optional<double> number = TagReading::number(value);
    QString next = noValueText;
    if (number) {
        next = formatNumber(*number, m_decimals, localeOf(runtime().texts().languageId()));
        if (!m_unitText.isEmpty())
            next += QChar(0x00A0) + m_unitText; // the unit never wraps away from its number
    }
    const bool noValue = !number;
    setBadQuality(noValue && m_binding.isBound());
    if (next == m_shown && noValue == m_noValue)
        return;
    m_shown = next;
    m_noValue = noValue;
    if (!noValue)
        setToolTip(QString());
    else if (!m_binding.isBound())
        setToolTip(tr("No process variable"));
    else if (value.quality == TagQuality::Bad)
        setToolTip(tr("%1: bad quality").arg(m_binding.name()));
    else if (value.quality == TagQuality::NotDelivered)
        setToolTip(tr("%1: no value delivered").arg(m_binding.name()));
    else
        setToolTip(tr("%1: not a number").arg(m_binding.name()));
    update();
}

void QMSVarOut::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
    const QColor fore = showsBadQuality() ? QualityMark::greyed() : effectiveForeColor();
    if (m_noValue) {
        QPen frame(fore, 1, Qt::DashLine);
        painter.setPen(frame);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
    painter.setPen(fore);
    m_line.setText(m_shown);
    m_line.paint(painter, rect().adjusted(textInset, 0, -textInset, 0), m_alignment);
    paintQualityMark(painter);
}
