#include "QMButton.h"

#include "BarLayout.h"
#include "ControlGeometry.h"
#include "KalvoraError.h"
#include "LayoutChecker.h"
#include "PropertyBag.h"
#include "QMSIndex.h"
#include "QMSKey.h"
#include "TopLevelError.h"

#include <QDebug>
#include <QPainter>

#include <vector>

namespace {

using Click = void (QMButton::*)();
constexpr std::array<Click, QMButton::buttonCount> clicks = {
    &QMButton::Button1Click, &QMButton::Button2Click,  &QMButton::Button3Click,  &QMButton::Button4Click,
    &QMButton::Button5Click, &QMButton::Button6Click,  &QMButton::Button7Click,  &QMButton::Button8Click,
    &QMButton::Button9Click, &QMButton::Button10Click, &QMButton::Button11Click, &QMButton::Button12Click,
};

// Design-time geometry in pixels: bar 7560 x 660 twips, label 630 x 180, key 630 x 480.
constexpr int designWidth = 504;
constexpr int designHeight = 44;
constexpr int designButton = 42;
constexpr int designLabel = 12;
constexpr int designKey = 32;

} // namespace

QMButton::QMButton(Runtime& runtime, QWidget* parent)
    : QWidget(parent)
    , m_inner(new QWidget(this))
{
    const StdFont designFont; // "MS Sans Serif", 8.25 pt, normal weight
    resize(designWidth, designHeight);
    m_inner->setGeometry(0, 0, designWidth, designHeight);
    for (int i = 0; i < buttonCount; ++i) {
        auto* label = new QMSIndex(runtime, m_inner);
        label->setObjectName(QStringLiteral("Text%1").arg(i));
        label->setGeometry(designButton * i, 0, designButton, designLabel);
        label->setAlignment(Qt::AlignCenter);
        label->setStdFont(designFont);
        auto* key = new QMSKey(runtime, m_inner);
        key->setObjectName(QStringLiteral("Button%1").arg(i));
        key->setGeometry(designButton * i, designLabel, designButton, designKey);
        key->setStdFont(designFont);
        connect(key, &QMSKey::Click, this, [this, i] { routeClick(i); });
        m_labels[static_cast<std::size_t>(i)] = label;
        m_keys[static_cast<std::size_t>(i)] = key;
    }
    // Key i has tab index i; the labels take no focus.
    for (int i = 1; i < buttonCount; ++i)
        QWidget::setTabOrder(m_keys[static_cast<std::size_t>(i - 1)], m_keys[static_cast<std::size_t>(i)]);
}

QMButton::~QMButton() = default;

std::size_t QMButton::slot(int n) const
{
    if (n < 1 || n > buttonCount)
        throw KalvoraError(QStringLiteral("%1: there is no button %2").arg(objectName()).arg(n));
    return static_cast<std::size_t>(n - 1);
}

QMSIndex& QMButton::label(int index) const
{
    return *m_labels.at(static_cast<std::size_t>(index));
}

QMSKey& QMButton::key(int index) const
{
    return *m_keys.at(static_cast<std::size_t>(index));
}

StdPicture QMButton::Picture(int n) const
{
    return m_keys[slot(n)]->Picture();
}

void QMButton::setPicture(int n, const StdPicture& picture)
{
    m_keys[slot(n)]->setPicture(picture);
    Q_EMIT PropertyChanged(QStringLiteral("Picture%1").arg(n));
}

QString QMButton::Text(int n) const
{
    return m_labels[slot(n)]->TextKey();
}

void QMButton::setText(int n, const QString& key)
{
    m_labels[slot(n)]->setTextKey(key);
    Q_EMIT PropertyChanged(QStringLiteral("Text%1").arg(n));
}

StdFont QMButton::Font() const
{
    return m_labels.back()->stdFont();
}

void QMButton::setFont(const StdFont& font)
{
    for (QMSIndex* label : m_labels)
        label->setStdFont(font);
    Q_EMIT PropertyChanged(QStringLiteral("Font"));
}

QString QMButton::IndexGroup() const
{
    return m_labels.back()->TextGroup();
}

void QMButton::setIndexGroup(const QString& group)
{
    const QString copy = group;
    for (QMSIndex* label : m_labels)
        label->setTextGroup(copy);
    Q_EMIT PropertyChanged(QStringLiteral("IndexGroup"));
}

void QMButton::setBorderStyle(std::int16_t style)
{
    if (style != m_borderStyle) {
        m_borderStyle = style;
        placeInnerArea();
        update();
    }
    Q_EMIT PropertyChanged(QStringLiteral("BorderStyle"));
}

void QMButton::setBagFile(const QString& file)
{
    m_bagFile = file;
    if (file.isEmpty())
        return;
    PropertyBag bag = PropertyBag::load(file);
    try {
        ReadProperties(bag);
    } catch (const KalvoraError& e) {
        qWarning().noquote() << objectName() << "stored properties not fully loaded:" << e.message();
    }
}

StdFont QMButton::ambientFont() const
{
    // The font of the window the bar sits on, as its layout gives it.
    const QWidget* top = window();
    const QVariant typeface = top ? top->property(LayoutChecker::typefaceProperty) : QVariant();
    if (typeface.isValid()) {
        try {
            return StdFont::parse(typeface.toString());
        } catch (const KalvoraError&) {
        }
    }
    return StdFont();
}

namespace {
QString numbered(const char* name, int n)
{
    return QString::fromLatin1(name) + QString::number(n);
}
} // namespace

void QMButton::ReadProperties(PropertyBag& bag)
{
    for (int n = 1; n <= buttonCount; ++n)
        m_keys[slot(n)]->setPicture(bag.readPicture(numbered("Picture", n)));
    for (QMSIndex* label : m_labels)
        label->setStdFont(bag.readFont(QStringLiteral("Font"), ambientFont()));
    for (QMSIndex* label : m_labels)
        label->setTextGroup(bag.readString(QStringLiteral("IndexGroup"), QString()));
    for (int n = 1; n <= buttonCount; ++n)
        m_labels[slot(n)]->setTextKey(bag.readString(numbered("Text", n), QStringLiteral("Text")));
    const std::int16_t border = bag.readInt16(QStringLiteral("BorderStyle"), 0);
    if (border != m_borderStyle) {
        m_borderStyle = border;
        placeInnerArea();
        update();
    }
}

void QMButton::WriteProperties(PropertyBag& bag) const
{
    for (int n = 1; n <= buttonCount; ++n)
        bag.write(numbered("Picture", n), m_keys[slot(n)]->Picture(), StdPicture());
    for (const QMSIndex* label : m_labels)
        bag.write(QStringLiteral("Font"), label->stdFont(), ambientFont());
    for (const QMSIndex* label : m_labels)
        bag.write(QStringLiteral("IndexGroup"), label->TextGroup(), QString());
    for (int n = 1; n <= buttonCount; ++n)
        bag.write(numbered("Text", n), m_labels[slot(n)]->TextKey(), QStringLiteral("Text"));
    bag.write(QStringLiteral("BorderStyle"), m_borderStyle, std::int16_t(0));
}

void QMButton::routeClick(int index)
{
    if (index < 0 || index >= buttonCount)
        return;
    Q_EMIT(this->*clicks[static_cast<std::size_t>(index)])();
}

void QMButton::placeInnerArea()
{
    const int border = borderWidth();
    m_inner->setGeometry(border, border, std::max(0, width() - 2 * border), std::max(0, height() - 2 * border));
}

void QMButton::layoutButtons()
{
    placeInnerArea();
    const WidgetGeometry bar(*this);
    std::vector<WidgetGeometry> inner;
    inner.reserve(2 * buttonCount);
    std::array<ControlGeometry*, buttonCount> labels{};
    std::array<ControlGeometry*, buttonCount> keys{};
    for (std::size_t i = 0; i < buttonCount; ++i) {
        labels[i] = &inner.emplace_back(*m_labels[i]);
        keys[i] = &inner.emplace_back(*m_keys[i]);
    }
    BarLayout::run(bar, labels, keys);
}

void QMButton::resizeEvent(QResizeEvent*)
{
    TopLevelError::guarded([this] { layoutButtons(); });
}

void QMButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (m_borderStyle == 1) {
        painter.setPen(QColor(0, 0, 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}
