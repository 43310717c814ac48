#include "QMSFill.h"

#include "QualityMark.h"
#include "Runtime.h"
#include "TagReading.h"

#include <QDebug>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>

/// The one animation timer of all pipe segments of a runtime. It lives as a child of the runtime, so
/// every screen's segments move in step and a runtime in a test gets a clock of its own.
class FlowClock final : public QObject {
    Q_OBJECT

public:
    static FlowClock& of(Runtime& runtime)
    {
        if (auto* clock = runtime.findChild<FlowClock*>(QString(), Qt::FindDirectChildrenOnly))
            return *clock;
        return *new FlowClock(&runtime);
    }

    int phase() const { return m_phase; }

    void add(QMSFill* fill)
    {
        if (m_members.contains(fill))
            return;
        m_members.append(fill);
        if (!m_timer.isActive())
            m_timer.start();
    }

    void remove(QMSFill* fill)
    {
        m_members.removeOne(fill);
        if (m_members.isEmpty())
            m_timer.stop();
    }

private:
    explicit FlowClock(QObject* parent)
        : QObject(parent)
    {
        m_timer.setInterval(QMSFill::frameMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_phase = (m_phase + 1) % 1'000'000;
            for (QMSFill* fill : std::as_const(m_members))
                fill->updateBand();
        });
    }

    QTimer m_timer{this};
    QList<QMSFill*> m_members;
    int m_phase = 0;
};

namespace {

// Streaks and gaps along the pipe, in pixels; a period of 16 with 3 pixels a frame reads as a calm,
// steady flow of about 40 pixels a second.
constexpr double streakLength = 8.0;
constexpr double gapLength = 8.0;

// Halfway to white: visible on dark fuel as on light water, never louder than the medium itself.
QColor streakColor(const QColor& medium)
{
    return QColor((medium.red() + 255) / 2, (medium.green() + 255) / 2, (medium.blue() + 255) / 2);
}

QList<QPointF> parsePoints(const QString& text)
{
    static const QRegularExpression separators(QStringLiteral("[\\s;]+"));
    QList<QPointF> points;
    for (const QString& pair : text.split(separators, Qt::SkipEmptyParts)) {
        const QStringList xy = pair.split(QLatin1Char(','));
        bool okX = false;
        bool okY = false;
        const double x = xy.size() == 2 ? xy[0].toDouble(&okX) : 0.0;
        const double y = xy.size() == 2 ? xy[1].toDouble(&okY) : 0.0;
        if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y))
            return {};
        points.append(QPointF(x, y));
    }
    return points.size() >= 2 ? points : QList<QPointF>{};
}

} // namespace

QMSFill::QMSFill(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent)
    , m_clock(&FlowClock::of(runtime))
    , m_binding(runtime, *this, [this](const TagValue& value) {
        // Bad quality stops the flow; the band stays, greyed and still, so the pipe reads as unknown.
        setBadQuality(m_binding.isBound() && !TagReading::number(value));
        setActive(TagReading::isOn(value));
    })
{
}

QMSFill::~QMSFill()
{
    if (m_clock)
        m_clock->remove(this);
}

void QMSFill::setProcessVariable(const QString& name)
{
    m_binding.bind(name);
}

void QMSFill::setFillActive(int active)
{
    setActive(active > 0);
}

void QMSFill::setActive(bool active)
{
    if (active == m_active)
        return;
    m_active = active;
    updateClockMembership();
    updateBand();
    Q_EMIT ValueChanged();
}

void QMSFill::setPipeWidth(int pixels)
{
    pixels = std::max(0, pixels);
    if (pixels == m_pipeWidth)
        return;
    m_pipeWidth = pixels;
    recomputeBand();
    update();
}

void QMSFill::setFlowPath(const QString& path)
{
    if (path == m_flowPathText)
        return;
    m_flowPathText = path;
    m_flowPoints = parsePoints(path);
    if (m_flowPoints.isEmpty() && !path.trimmed().isEmpty())
        qWarning().noquote() << objectName() << ": flow path" << path << "is not a list of at least two points x,y; drawing a straight pipe";
    recomputeBand();
    update();
}

void QMSFill::setFlowColor(const QColor& color)
{
    if (color == m_flowColor)
        return;
    m_flowColor = color;
    update();
}

int QMSFill::bandWidth() const
{
    const int shortSide = std::min(width(), height());
    return m_pipeWidth > 0 ? m_pipeWidth : shortSide;
}

QPainterPath QMSFill::centreLine() const
{
    QPainterPath path;
    if (!m_flowPoints.isEmpty()) {
        path.moveTo(m_flowPoints.first());
        for (qsizetype i = 1; i < m_flowPoints.size(); ++i)
            path.lineTo(m_flowPoints[i]);
    } else if (width() >= height()) {
        path.moveTo(0.0, height() / 2.0);
        path.lineTo(width(), height() / 2.0);
    } else {
        path.moveTo(width() / 2.0, 0.0);
        path.lineTo(width() / 2.0, height());
    }
    return path;
}

void QMSFill::recomputeBand()
{
    // The union of the stroked segments' boxes: the centre lines run along the axes, so this is the band.
    const QPainterPath line = centreLine();
    const double half = bandWidth() / 2.0 + 1.0;
    QRegion band;
    for (int i = 1; i < line.elementCount(); ++i) {
        const QPointF a = line.elementAt(i - 1);
        const QPointF b = line.elementAt(i);
        band += QRectF(a, b).normalized().adjusted(-half, -half, half, half).toAlignedRect();
    }
    m_band = band.intersected(rect());
}

void QMSFill::updateBand()
{
    update(m_band);
}

void QMSFill::resizeEvent(QResizeEvent* event)
{
    RuntimeControl::resizeEvent(event);
    recomputeBand();
}

void QMSFill::showEvent(QShowEvent* event)
{
    RuntimeControl::showEvent(event);
    updateClockMembership();
}

void QMSFill::hideEvent(QHideEvent* event)
{
    RuntimeControl::hideEvent(event);
    updateClockMembership();
}

void QMSFill::updateClockMembership()
{
    if (!m_clock)
        return;
    if (m_active && isVisible())
        m_clock->add(this);
    else
        m_clock->remove(this);
}

void QMSFill::paintEvent(QPaintEvent*)
{
    if (!m_active && !showsBadQuality())
        return;
    QPainter painter(this);
    const QPainterPath line = centreLine();
    const double band = bandWidth();
    if (showsBadQuality()) {
        painter.strokePath(line, QPen(QBrush(QualityMark::greyed(), Qt::Dense4Pattern), band, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        const QPointF start = line.elementAt(0);
        const double flag = std::max(band, 8.0);
        paintQualityMark(painter, QRectF(start.x() - flag / 2.0, start.y() - flag / 2.0, flag, flag).intersected(QRectF(rect())));
        return;
    }
    painter.strokePath(line, QPen(m_flowColor, band, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));

    // Streaks: a narrower, lighter dashed line whose dash offset walks with the shared clock. Qt takes
    // the dash pattern and offset in units of the pen width.
    const double streak = std::clamp(band / 3.0, 2.0, 4.0);
    QPen streaks(streakColor(m_flowColor), streak, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    streaks.setDashPattern({streakLength / streak, gapLength / streak});
    const int phase = m_clock ? m_clock->phase() : 0;
    const double period = streakLength + gapLength;
    const double travelled = static_cast<double>((phase * stepPixels) % static_cast<int>(period));
    streaks.setDashOffset(-travelled / streak);
    painter.strokePath(line, streaks);
}

#include "QMSFill.moc"
