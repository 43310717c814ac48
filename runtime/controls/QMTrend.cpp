#include "QMTrend.h"

#include "TrendCsvExport.h"

#include "ArchiveStore.h"
#include "Runtime.h"
#include "TextDatabase.h"
#include "TopLevelError.h"
#include "TrendAxes.h"

#include <QContextMenuEvent>
#include <QDebug>
#include <QFileDialog>
#include <QLocale>
#include <QMenu>
#include <QMetaMethod>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int FrameMs = 16;
constexpr qint64 MinSpanMs = 60 * 1000;
constexpr qint64 MaxSpanMs = 62LL * 86400 * 1000;
constexpr int TopMargin = 8;
constexpr int RightMargin = 12;
constexpr double ZoomPerNotch = 0.8;
constexpr double OffScaleMarkSpacing = 48.0;
constexpr double OffScaleMarkHeight = 7.0;

// Calm control-room colours: a light plot field, quiet grid, dark axis text.
const QColor PlotColor(246, 247, 248);
const QColor GridColor(214, 218, 223);
const QColor FrameColor(140, 146, 153);
const QColor AxisTextColor(40, 44, 48);
const QColor CursorColor(90, 96, 104);

bool isLight(const QColor& c)
{
    return 0.299 * c.redF() + 0.587 * c.greenF() + 0.114 * c.blueF() > 0.75;
}

} // namespace

QMTrend::QMTrend(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_frame(new QTimer(this))
{
    m_frame->setSingleShot(true);
    connect(m_frame, &QTimer::timeout, this, &QMTrend::refresh);
    connect(&runtime.archive(), &ArchiveStore::recorded, this, [this] {
        if (m_online)
            scheduleRefresh();
    });
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, qOverload<>(&QWidget::update));
    setMouseTracking(true);
    m_viewSpanMs = static_cast<qint64>(m_periodSeconds) * 1000;
    m_viewEndMs = runtime.now();
    m_sinceFrame.start();
}

QMTrend::~QMTrend() = default;

QMTrend::Range QMTrend::usableRange(int index) const
{
    const CurveSlot& s = m_slots.at(static_cast<std::size_t>(index));
    const auto usable = [](double low, double high) { return std::isfinite(low) && std::isfinite(high) && high > low; };
    if (usable(s.minValue, s.maxValue))
        return {s.minValue, s.maxValue};
    Range fallback;
    if (const TrendDefinition* def = runtime().archive().trend(s.archive, s.trend); def && usable(def->rangeMin, def->rangeMax))
        fallback = {def->rangeMin, def->rangeMax};
    qWarning().noquote() << QStringLiteral("%1: curve slot %2 (%3/%4) has the unusable range %5 to %6; drawn on %7 to %8")
                                .arg(objectName())
                                .arg(index + 1)
                                .arg(s.archive, s.trend)
                                .arg(s.minValue)
                                .arg(s.maxValue)
                                .arg(fallback.low)
                                .arg(fallback.high);
    return fallback;
}

bool QMTrend::event(QEvent* event)
{
    // The stored curve set shows from the start: applied once the layout has set every slot.
    if (event->type() == QEvent::Polish && !m_everApplied)
        ApplyCurveSettings();
    return RuntimeControl::event(event);
}

void QMTrend::ApplyCurveSettings()
{
    m_everApplied = true;
    m_applied = m_slots;
    for (int i = 0; i < SlotCount; ++i) {
        auto& slot = m_applied[static_cast<std::size_t>(i)];
        m_caches[static_cast<std::size_t>(i)].clear();
        if (slot.isUsed()) {
            const Range r = usableRange(i);
            slot.minValue = r.low;
            slot.maxValue = r.high;
        }
    }
    m_dataStale = true;
    scheduleRefresh();
    Q_EMIT curvesApplied();
}

void QMTrend::resetView()
{
    m_viewSpanMs = std::clamp<qint64>(static_cast<qint64>(m_periodSeconds) * 1000, MinSpanMs, MaxSpanMs);
    if (m_online)
        m_viewEndMs = runtime().now();
    else if (m_timePosition.isValid())
        m_viewEndMs = m_timePosition.toMSecsSinceEpoch();
    m_cursorX = -1;
    scheduleRefresh();
}

void QMTrend::setOnline(bool online)
{
    if (online == m_online)
        return;
    m_online = online;
    m_dragX = -1;
    Q_EMIT OnlineChanged(online);
    if (online) {
        resetView();
    } else {
        // Stands where it is until a TimePosition comes; one written earlier applies now.
        if (m_timePosition.isValid())
            resetView();
        else
            m_viewEndMs = runtime().now();
        scheduleRefresh();
    }
}

void QMTrend::setTimePosition(const QDateTime& time)
{
    if (time == m_timePosition)
        return;
    m_timePosition = time;
    Q_EMIT TimePositionChanged(time);
    if (!m_online)
        resetView();
}

void QMTrend::showTimePosition(const QDateTime& time)
{
    if (time != m_timePosition)
        setTimePosition(time);
    else if (!m_online)
        resetView();
}

void QMTrend::setDateFormat(const QString& format)
{
    m_dateFormat = format;
    update();
}

void QMTrend::setTimeFormat(const QString& format)
{
    m_timeFormat = format;
    update();
}

void QMTrend::setPeriodSeconds(int seconds)
{
    if (seconds == m_periodSeconds)
        return;
    if (seconds <= 0) {
        qWarning().noquote() << QStringLiteral("%1: period of %2 s is not usable; kept %3 s").arg(objectName()).arg(seconds).arg(m_periodSeconds);
        return;
    }
    m_periodSeconds = seconds;
    resetView();
}

void QMTrend::setSlotTrend(int index, const QString& value) { m_slots.at(static_cast<std::size_t>(index)).trend = value; }
void QMTrend::setSlotArchive(int index, const QString& value) { m_slots.at(static_cast<std::size_t>(index)).archive = value; }
void QMTrend::setSlotMaxValue(int index, double value) { m_slots.at(static_cast<std::size_t>(index)).maxValue = value; }
void QMTrend::setSlotMinValue(int index, double value) { m_slots.at(static_cast<std::size_t>(index)).minValue = value; }
void QMTrend::setSlotColor(int index, const QColor& value) { m_slots.at(static_cast<std::size_t>(index)).color = value; }

bool QMTrend::isRefreshPending() const
{
    return m_frame->isActive();
}

bool QMTrend::isReading() const
{
    return std::any_of(m_caches.begin(), m_caches.end(), [](const TrendCurveCache& cache) { return cache.isReading(); });
}

void QMTrend::scheduleRefresh()
{
    if (m_frame->isActive())
        return;
    // At most one redraw a frame: right away after a quiet spell, else at the next frame's turn.
    const qint64 since = m_sinceFrame.elapsed();
    m_frame->start(static_cast<int>(std::max<qint64>(0, FrameMs - since)));
}

void QMTrend::refresh()
{
    m_sinceFrame.restart();
    if (m_online)
        m_viewEndMs = runtime().now();
    const QRect plot = plotRect();
    const qint64 columns = std::max(1, plot.width());
    const qint64 bucket = ArchiveStore::alignedBucketMs((m_viewSpanMs + columns - 1) / columns);
    const qint64 from = TrendCurveCache::floorDiv(shownStartMs(), bucket) * bucket;
    const qint64 to = (TrendCurveCache::floorDiv(m_viewEndMs, bucket) + 1) * bucket;
    for (int i = 0; i < SlotCount; ++i) {
        const CurveSlot& slot = m_applied[static_cast<std::size_t>(i)];
        if (slot.isUsed())
            m_caches[static_cast<std::size_t>(i)].cover(runtime().history(), this, slot.archive, slot.trend, from, to, bucket, m_online,
                [this] { update(); });
    }
    m_dataStale = false;
    update();
}

bool QMTrend::curveHasData(int index) const
{
    const auto i = static_cast<std::size_t>(index);
    return m_applied.at(i).isUsed() && m_caches.at(i).hasPointsIn(shownStartMs(), shownEndMs());
}

bool QMTrend::showsEmptyPeriod() const
{
    bool any = false;
    for (int i = 0; i < SlotCount; ++i) {
        if (!m_applied[static_cast<std::size_t>(i)].isUsed())
            continue;
        any = true;
        if (curveHasData(i))
            return false;
    }
    return any;
}

QString QMTrend::text(const char* key) const
{
    return runtime().texts().indexText(key);
}

QLocale QMTrend::numberLocale() const
{
    return runtime().texts().languageId() == TextDatabase::English ? QLocale(QLocale::English, QLocale::UnitedStates)
                                                                   : QLocale(QLocale::German, QLocale::Germany);
}

QString QMTrend::formatValue(double value, const Range& range) const
{
    const double span = range.high - range.low;
    const int decimals = span >= 1000 ? 0 : span >= 10 ? 1 : 2;
    return numberLocale().toString(value, 'f', decimals);
}

int QMTrend::leftMargin() const
{
    const QFontMetrics fm(font());
    int widest = fm.horizontalAdvance(QStringLiteral("0000"));
    for (const CurveSlot& slot : m_applied) {
        if (!slot.isUsed())
            continue;
        const Range r{slot.minValue, slot.maxValue};
        widest = std::max({widest, fm.horizontalAdvance(formatValue(r.low, r)), fm.horizontalAdvance(formatValue(r.high, r))});
        break;
    }
    return widest + 10;
}

QRect QMTrend::plotRect() const
{
    const QFontMetrics fm(font());
    const int bottom = 2 * fm.height() + 8;
    return QRect(leftMargin(), TopMargin, std::max(1, width() - leftMargin() - RightMargin),
                 std::max(1, height() - TopMargin - bottom));
}

double QMTrend::xAt(qint64 timeMs) const
{
    const QRect plot = plotRect();
    return plot.left() + static_cast<double>(timeMs - shownStartMs()) * plot.width() / static_cast<double>(m_viewSpanMs);
}

qint64 QMTrend::timeAtX(double x) const
{
    const QRect plot = plotRect();
    return shownStartMs() + static_cast<qint64>(std::llround((x - plot.left()) * static_cast<double>(m_viewSpanMs) / plot.width()));
}

void QMTrend::resizeEvent(QResizeEvent* event)
{
    RuntimeControl::resizeEvent(event);
    scheduleRefresh();
}

void QMTrend::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paintBackground(painter);
    const QRect plot = plotRect();
    painter.fillRect(plot, PlotColor);
    paintGrid(painter, plot);
    painter.save();
    painter.setClipRect(plot.adjusted(1, 1, -1, -1)); // inside the frame: off-scale values stop at its edge
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = SlotCount - 1; i >= 0; --i) // slot 1 on top
        if (m_applied[static_cast<std::size_t>(i)].isUsed())
            paintCurve(painter, plot, i);
    painter.restore();
    painter.setPen(FrameColor);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    paintNotes(painter, plot);
    if (!m_online && m_cursorX >= 0)
        paintCursor(painter, plot);
}

void QMTrend::paintGrid(QPainter& painter, const QRect& plot) const
{
    const QFontMetrics fm(font());
    painter.setFont(font());
    // Value axis: the first used slot's range.
    const CurveSlot* first = nullptr;
    for (const CurveSlot& slot : m_applied)
        if (slot.isUsed() && !first)
            first = &slot;
    const Range range = first ? Range{first->minValue, first->maxValue} : Range{};
    const double step = TrendAxes::valueStep(range.low, range.high, std::clamp(plot.height() / 28, 1, 8));
    for (double v = std::ceil(range.low / step - 1e-9) * step; v <= range.high + step * 1e-9; v += step) {
        // On the row a curve at this value runs along (the last step may overshoot the end by rounding).
        const int y = static_cast<int>(TrendAxes::valueY(std::min(v, range.high), range.low, range.high, plot.top(), plot.bottom()));
        painter.setPen(GridColor);
        painter.drawLine(plot.left() + 1, y, plot.right() - 1, y);
        painter.setPen(first ? first->color.darker(first && isLight(first->color) ? 250 : 100) : AxisTextColor);
        const QRect label(0, y - fm.height() / 2, plot.left() - 5, fm.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, numberLocale().toString(v, 'f', step >= 1.0 ? 0 : step >= 0.1 ? 1 : 2));
    }
    // Time axis: time over date at every tick.
    const QString timeFormat = TrendAxes::toQtFormat(m_timeFormat);
    const QString dateFormat = TrendAxes::toQtFormat(m_dateFormat);
    const QDateTime sample(QDate(2000, 12, 28), QTime(23, 58, 58));
    const int labelWidth = std::max(fm.horizontalAdvance(sample.toString(timeFormat)), fm.horizontalAdvance(sample.toString(dateFormat)));
    const QList<qint64> ticks = TrendAxes::timeTicks(shownStartMs(), shownEndMs(), plot.width(), labelWidth + 14);
    for (const qint64 t : ticks) {
        const int x = static_cast<int>(std::lround(xAt(t)));
        painter.setPen(GridColor);
        painter.drawLine(x, plot.top() + 1, x, plot.bottom() - 1);
        const QRect label(x - labelWidth / 2 - 2, plot.bottom() + 3, labelWidth + 4, 2 * fm.height());
        if (label.left() < 0 || label.right() >= width())
            continue;
        painter.setPen(AxisTextColor);
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(t);
        painter.drawText(label, Qt::AlignHCenter | Qt::AlignTop, when.toString(timeFormat) + QLatin1Char('\n') + when.toString(dateFormat));
    }
}

void QMTrend::paintCurve(QPainter& painter, const QRect& plot, int index) const
{
    const CurveSlot& slot = m_applied[static_cast<std::size_t>(index)];
    const TrendCurveCache& cache = m_caches[static_cast<std::size_t>(index)];
    const QList<ArchiveSample>& points = cache.points();
    if (points.isEmpty())
        return;
    const double x0 = plot.left() - static_cast<double>(shownStartMs()) * plot.width() / static_cast<double>(m_viewSpanMs);
    const double xScale = plot.width() / static_cast<double>(m_viewSpanMs);
    // Two samples in different columns more than a few recording intervals apart have nothing
    // archived between them: the line breaks there rather than inventing values across the gap.
    const qint64 gapMs = std::max<qint64>(1, runtime().archive().settings().recordIntervalMs) * 5 / 2;
    std::vector<QPointF> line;
    line.reserve(static_cast<std::size_t>(points.size()));
    // Thin lines on the raster engine's fast path: wide antialiased strokes of a dense curve cost
    // hundreds of milliseconds, a one-pixel line a few.
    const QPen pen(slot.color, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    const bool halo = isLight(slot.color);
    const QPen haloPen(QColor(96, 104, 112), 2.0, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    const auto flush = [&] {
        if (line.empty())
            return;
        if (line.size() == 1)
            line.push_back(line.front() + QPointF(0.5, 0.0)); // a lone sample still shows as a dot
        if (halo) {
            painter.setPen(haloPen);
            painter.drawPolyline(line.data(), static_cast<int>(line.size()));
        }
        painter.setPen(pen);
        painter.drawPolyline(line.data(), static_cast<int>(line.size()));
        line.clear();
    };
    // Off the scale the line runs along the frame's inner edge, and marks pointing out of the plot
    // (at the start of each stretch and every OffScaleMarkSpacing pixels along it) tell it from a curve
    // at the end of its range.
    std::vector<std::pair<double, int>> marks; // x, and +1 above the range or -1 below it
    const ArchiveSample* previous = nullptr;
    int previousSide = 0;
    for (const ArchiveSample& s : points) {
        if (previous && s.timeMs - previous->timeMs > gapMs && cache.bucketOf(s.timeMs) != cache.bucketOf(previous->timeMs)) {
            flush();
            previousSide = 0;
        }
        const double x = x0 + static_cast<double>(s.timeMs) * xScale;
        line.emplace_back(x, TrendAxes::valueY(s.value, slot.minValue, slot.maxValue, plot.top(), plot.bottom()));
        const int side = s.value > slot.maxValue ? 1 : s.value < slot.minValue ? -1 : 0;
        if (side != 0 && (side != previousSide || x - marks.back().first >= OffScaleMarkSpacing))
            marks.emplace_back(x, side);
        previousSide = side;
        previous = &s;
    }
    flush();
    painter.setPen(halo ? haloPen : QPen(slot.color.darker(130), 1.0));
    painter.setBrush(slot.color);
    for (const auto& [x, side] : marks) {
        const double edge = side > 0 ? plot.top() + 1.0 : plot.bottom();
        const double base = side > 0 ? edge + OffScaleMarkHeight : edge - OffScaleMarkHeight;
        const QPointF triangle[] = {{x, edge}, {x - OffScaleMarkHeight * 0.75, base}, {x + OffScaleMarkHeight * 0.75, base}};
        painter.drawPolygon(triangle, 3);
    }
    painter.setBrush(Qt::NoBrush);
}

void QMTrend::paintNotes(QPainter& painter, const QRect& plot) const
{
    const QFontMetrics fm(font());
    painter.setFont(font());
    if (showsEmptyPeriod()) {
        QFont bold = font();
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(AxisTextColor);
        painter.drawText(plot, Qt::AlignCenter, text("TrendZeitraumLeer"));
        painter.setFont(font());
    }
    // Per curve without samples: its colour, its trend and "no data", top left in the field.
    int y = plot.top() + 4;
    const QString noData = text("TrendKeineDaten");
    for (int i = 0; i < SlotCount; ++i) {
        const CurveSlot& slot = m_applied[static_cast<std::size_t>(i)];
        if (!slot.isUsed() || curveHasData(i))
            continue;
        const QRect swatch(plot.left() + 6, y + (fm.height() - 8) / 2, 8, 8);
        painter.fillRect(swatch, slot.color);
        painter.setPen(FrameColor);
        painter.drawRect(swatch.adjusted(0, 0, -1, -1));
        painter.setPen(AxisTextColor);
        painter.drawText(QPoint(swatch.right() + 5, y + fm.ascent()), QStringLiteral("%1: %2").arg(slot.trend, noData));
        y += fm.height();
    }
}

void QMTrend::paintCursor(QPainter& painter, const QRect& plot) const
{
    if (m_cursorX < plot.left() || m_cursorX > plot.right())
        return;
    const QFontMetrics fm(font());
    painter.setPen(QPen(CursorColor, 1, Qt::DashLine));
    painter.drawLine(m_cursorX, plot.top(), m_cursorX, plot.bottom());
    const qint64 t = timeAtX(m_cursorX);
    const QDateTime when = QDateTime::fromMSecsSinceEpoch(t);
    QStringList lines{when.toString(TrendAxes::toQtFormat(m_dateFormat)) + QLatin1Char(' ') + when.toString(TrendAxes::toQtFormat(m_timeFormat))};
    QList<QColor> colours{QColor()};
    // The nearest archived sample in the same column or its neighbours; none farther than that.
    for (int i = 0; i < SlotCount; ++i) {
        const CurveSlot& slot = m_applied[static_cast<std::size_t>(i)];
        if (!slot.isUsed())
            continue;
        const TrendCurveCache& cache = m_caches[static_cast<std::size_t>(i)];
        const ArchiveSample* s = cache.nearest(t);
        const bool near = s && std::llabs(s->timeMs - t) <= 2 * std::max<qint64>(cache.bucketMs(), runtime().archive().settings().recordIntervalMs);
        lines.append(QStringLiteral("%1: %2").arg(slot.trend, near ? formatValue(s->value, {slot.minValue, slot.maxValue}) : QStringLiteral("—")));
        colours.append(slot.color);
    }
    int w = 0;
    for (const QString& line : lines)
        w = std::max(w, fm.horizontalAdvance(line));
    QRect box(0, plot.top() + 4, w + 24, static_cast<int>(lines.size()) * fm.height() + 6);
    box.moveLeft(m_cursorX + 8 + box.width() <= plot.right() ? m_cursorX + 8 : m_cursorX - 8 - box.width());
    painter.setPen(FrameColor);
    painter.setBrush(QColor(255, 255, 255, 235));
    painter.drawRect(box);
    painter.setBrush(Qt::NoBrush);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int baseline = box.top() + 3 + static_cast<int>(i) * fm.height();
        if (colours[i].isValid()) {
            painter.fillRect(QRect(box.left() + 5, baseline + (fm.height() - 8) / 2, 8, 8), colours[i]);
            painter.setPen(FrameColor);
            painter.drawRect(QRect(box.left() + 5, baseline + (fm.height() - 8) / 2, 7, 7));
        }
        painter.setPen(AxisTextColor);
        painter.drawText(QPoint(box.left() + (colours[i].isValid() ? 18 : 5), baseline + fm.ascent()), lines[i]);
    }
}

void QMTrend::wheelEvent(QWheelEvent* event)
{
    if (m_online || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    // Zoom around the time under the mouse, so that moment stays where it is.
    const double x = event->position().x();
    const qint64 pivot = timeAtX(x);
    const double notches = event->angleDelta().y() / 120.0;
    const qint64 span = std::clamp<qint64>(static_cast<qint64>(std::llround(m_viewSpanMs * std::pow(ZoomPerNotch, notches))), MinSpanMs, MaxSpanMs);
    const QRect plot = plotRect();
    const double fraction = std::clamp((x - plot.left()) / plot.width(), 0.0, 1.0);
    m_viewSpanMs = span;
    m_viewEndMs = pivot + static_cast<qint64>(std::llround((1.0 - fraction) * static_cast<double>(span)));
    scheduleRefresh();
    event->accept();
}

void QMTrend::mousePressEvent(QMouseEvent* event)
{
    if (!m_online && event->button() == Qt::LeftButton) {
        m_dragX = static_cast<int>(event->position().x());
        m_dragEndMs = m_viewEndMs;
        setCursor(Qt::ClosedHandCursor);
    }
    RuntimeControl::mousePressEvent(event);
}

void QMTrend::mouseMoveEvent(QMouseEvent* event)
{
    if (m_online)
        return;
    const int x = static_cast<int>(event->position().x());
    if (m_dragX >= 0) {
        const double msPerPixel = static_cast<double>(m_viewSpanMs) / plotRect().width();
        m_viewEndMs = m_dragEndMs - static_cast<qint64>(std::llround((x - m_dragX) * msPerPixel));
        scheduleRefresh();
    }
    m_cursorX = x;
    update();
}

void QMTrend::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_dragX >= 0) {
        m_dragX = -1;
        unsetCursor();
    }
    RuntimeControl::mouseReleaseEvent(event);
}

bool QMTrend::offersCurveChoice() const
{
    // Only a screen that answers the request lets the operator choose; elsewhere the curve set is fixed.
    return isSignalConnected(QMetaMethod::fromSignal(&QMTrend::TrendSelectRequest));
}

void QMTrend::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !offersCurveChoice())
        return;
    TopLevelError::guarded([this] { Q_EMIT TrendSelectRequest(); });
}

void QMTrend::leaveEvent(QEvent* event)
{
    if (m_cursorX >= 0) {
        m_cursorX = -1;
        update();
    }
    RuntimeControl::leaveEvent(event);
}

void QMTrend::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* choose = offersCurveChoice() ? menu.addAction(text("TrendKurvenWaehlen")) : nullptr;
    QAction* exportCsv = menu.addAction(text("TrendCsvExport"));
    QAction* picked = menu.exec(event->globalPos());
    if (picked && picked == choose)
        TopLevelError::guarded([this] { Q_EMIT TrendSelectRequest(); });
    else if (picked == exportCsv)
        chooseExportFile();
}

void QMTrend::chooseExportFile()
{
    const QString suggestion = QStringLiteral("%1-%2.csv").arg(objectName(), QDateTime::fromMSecsSinceEpoch(shownEndMs()).toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString path = QFileDialog::getSaveFileName(this, text("TrendCsvExport"), suggestion, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    exportCsv(path, [this](const QString& error) {
        if (!error.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Kalvora"), text("TrendCsvFehler").arg(error));
    });
}

void QMTrend::exportCsv(const QString& path, std::function<void(const QString& error)> done)
{
    std::vector<TrendCsvExport::Curve> curves;
    for (const CurveSlot& slot : m_applied)
        if (slot.isUsed())
            curves.push_back({slot.archive, slot.trend});
    TrendCsvExport::start(runtime().history(), path, std::move(curves), shownStartMs(), shownEndMs(), this, std::move(done));
}
