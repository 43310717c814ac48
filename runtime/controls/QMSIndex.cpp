#include "QMSIndex.h"

#include "QualityMark.h"
#include "Runtime.h"
#include "TagReading.h"
#include "TextDatabase.h"

#include <QPainter>

namespace {
// Leaves room for the frame-less text so it does not touch the field edge.
constexpr int textInset = 2;
const QString noValueText = QStringLiteral("—");
} // namespace

QMSIndex::QMSIndex(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::WholeWhenBackColorSet)
    , m_binding(runtime, *this, [this](const TagValue&) { refresh(); })
{
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, &QMSIndex::refresh);
}

void QMSIndex::setTextGroup(const QString& group)
{
    if (group == m_textGroup)
        return;
    m_textGroup = group;
    refresh();
}

void QMSIndex::setTextKey(const QString& key)
{
    if (key == m_textKey)
        return;
    m_textKey = key;
    refresh();
}

void QMSIndex::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
    refresh();
}

void QMSIndex::setOnKey(const QString& key)
{
    if (key == m_onKey)
        return;
    m_onKey = key;
    refresh();
}

void QMSIndex::setOffKey(const QString& key)
{
    if (key == m_offKey)
        return;
    m_offKey = key;
    refresh();
}

void QMSIndex::setAlignment(Qt::Alignment alignment)
{
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    update();
}

void QMSIndex::refresh()
{
    // Texts are looked up only once a key is there: a layout sets group and key one after the other.
    const auto lookUp = [this](const QString& key) { return key.isEmpty() ? QString() : runtime().texts().text(m_textGroup, key); };
    QString next;
    bool noValue = false;
    if (!m_binding.isBound()) {
        next = lookUp(m_textKey);
    } else if (const TagValue& value = m_binding.value(); TagReading::number(value)) {
        next = lookUp(TagReading::isOn(value) ? m_onKey : m_offKey);
    } else {
        next = noValueText;
        noValue = true;
    }
    setBadQuality(noValue);
    if (next == m_shown && noValue == m_noValue)
        return;
    m_shown = next;
    m_noValue = noValue;
    update();
}

void QMSIndex::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Without a colour of its own the label lies on whatever it is placed on (panel, picture, bar).
    if (backColor().isValid())
        paintBackground(painter);
    QFont f = font();
    f.setItalic(f.italic() || m_noValue);
    painter.setFont(f);
    painter.setPen(m_noValue ? QualityMark::greyed() : effectiveForeColor());
    m_line.setText(m_shown);
    m_line.paint(painter, rect().adjusted(textInset, 0, -textInset, 0), m_alignment);
    paintQualityMark(painter);
}
