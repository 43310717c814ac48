#pragma once

#include "RuntimeControl.h"
#include "TrendCurveCache.h"

#include <QColor>
#include <QDateTime>
#include <QElapsedTimer>
#include <QString>

#include <array>

class QTimer;

/// \brief Trend chart: up to eight archived curves drawn over a period of time, following the present
/// (`Online`) or standing at `TimePosition`.
///
/// The chart never holds samples: each redraw asks the archive for the reduced series of the shown
/// period. The slot properties (`Trend1`..`Trend8`, `Archive1`..`Archive8`, `MaxValue1`..`MaxValue8`)
/// are read and written by their formed names at run time; a change to them shows only after
/// `ApplyCurveSettings`. The lower end and colour of each slot are stored settings.
///
/// The shown period is `periodSeconds` long (a stored setting, one hour unless the layout says
/// otherwise) and ends at its right edge: online the right edge is the present, offline it is
/// `TimePosition`, so the chart shows what led up to that moment. A new chart is online. Going offline
/// before any `TimePosition` was written stands the chart where it was; `TimePosition` written while
/// online is kept and used when the chart goes offline.
///
/// The value axis is labelled with the range of the first used slot; every curve is drawn on its own
/// range, and the cursor shows each curve's real value. A range fills the plot less a few rows at
/// either end, so a curve at an end of its range stays clear of the frame; a value beyond its range
/// runs along the frame's inner edge, with marks pointing off the scale. A range that is not usable
/// (upper end not above the lower, NaN or infinite) falls back to the trend's range in the archive
/// definition, else 0 to 100, with a warning naming the chart and the slot.
///
/// Operator actions: a double click or the context-menu entry "Choose curves" raises
/// `TrendSelectRequest`, offered only while something answers it (the free-trend screen does, the
/// fixed charts' screen does not). Offline, the wheel zooms around the mouse, dragging pans along the
/// time axis, and a cursor line follows the mouse with the time and every curve's value. "Export CSV"
/// in the context menu writes the shown period: one row per time stamp, ISO times, the values as
/// archived.
///
/// Redraws are coalesced: every change asks for one, and a single-shot timer reads the archive and
/// repaints at most once a frame. Online, each recording reads only the columns that came into view.
class QMTrend final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMTrend)
    Q_PROPERTY(bool Online READ Online WRITE setOnline NOTIFY OnlineChanged)
    Q_PROPERTY(QDateTime TimePosition READ TimePosition WRITE setTimePosition NOTIFY TimePositionChanged)
    Q_PROPERTY(QString dateFormat READ dateFormat WRITE setDateFormat)
    Q_PROPERTY(QString timeFormat READ timeFormat WRITE setTimeFormat)
    Q_PROPERTY(int periodSeconds READ periodSeconds WRITE setPeriodSeconds)
    Q_PROPERTY(QString Trend1 READ Trend1 WRITE setTrend1)
    Q_PROPERTY(QString Archive1 READ Archive1 WRITE setArchive1)
    Q_PROPERTY(double MaxValue1 READ MaxValue1 WRITE setMaxValue1)
    Q_PROPERTY(double minValue1 READ minValue1 WRITE setMinValue1)
    Q_PROPERTY(QColor curveColor1 READ curveColor1 WRITE setCurveColor1)
    Q_PROPERTY(QString Trend2 READ Trend2 WRITE setTrend2)
    Q_PROPERTY(QString Archive2 READ Archive2 WRITE setArchive2)
    Q_PROPERTY(double MaxValue2 READ MaxValue2 WRITE setMaxValue2)
    Q_PROPERTY(double minValue2 READ minValue2 WRITE setMinValue2)
    Q_PROPERTY(QColor curveColor2 READ curveColor2 WRITE setCurveColor2)
    Q_PROPERTY(QString Trend3 READ Trend3 WRITE setTrend3)
    Q_PROPERTY(QString Archive3 READ Archive3 WRITE setArchive3)
    Q_PROPERTY(double MaxValue3 READ MaxValue3 WRITE setMaxValue3)
    Q_PROPERTY(double minValue3 READ minValue3 WRITE setMinValue3)
    Q_PROPERTY(QColor curveColor3 READ curveColor3 WRITE setCurveColor3)
    Q_PROPERTY(QString Trend4 READ Trend4 WRITE setTrend4)
    Q_PROPERTY(QString Archive4 READ Archive4 WRITE setArchive4)
    Q_PROPERTY(double MaxValue4 READ MaxValue4 WRITE setMaxValue4)
    Q_PROPERTY(double minValue4 READ minValue4 WRITE setMinValue4)
    Q_PROPERTY(QColor curveColor4 READ curveColor4 WRITE setCurveColor4)
    Q_PROPERTY(QString Trend5 READ Trend5 WRITE setTrend5)
    Q_PROPERTY(QString Archive5 READ Archive5 WRITE setArchive5)
    Q_PROPERTY(double MaxValue5 READ MaxValue5 WRITE setMaxValue5)
    Q_PROPERTY(double minValue5 READ minValue5 WRITE setMinValue5)
    Q_PROPERTY(QColor curveColor5 READ curveColor5 WRITE setCurveColor5)
    Q_PROPERTY(QString Trend6 READ Trend6 WRITE setTrend6)
    Q_PROPERTY(QString Archive6 READ Archive6 WRITE setArchive6)
    Q_PROPERTY(double MaxValue6 READ MaxValue6 WRITE setMaxValue6)
    Q_PROPERTY(double minValue6 READ minValue6 WRITE setMinValue6)
    Q_PROPERTY(QColor curveColor6 READ curveColor6 WRITE setCurveColor6)
    Q_PROPERTY(QString Trend7 READ Trend7 WRITE setTrend7)
    Q_PROPERTY(QString Archive7 READ Archive7 WRITE setArchive7)
    Q_PROPERTY(double MaxValue7 READ MaxValue7 WRITE setMaxValue7)
    Q_PROPERTY(double minValue7 READ minValue7 WRITE setMinValue7)
    Q_PROPERTY(QColor curveColor7 READ curveColor7 WRITE setCurveColor7)
    Q_PROPERTY(QString Trend8 READ Trend8 WRITE setTrend8)
    Q_PROPERTY(QString Archive8 READ Archive8 WRITE setArchive8)
    Q_PROPERTY(double MaxValue8 READ MaxValue8 WRITE setMaxValue8)
    Q_PROPERTY(double minValue8 READ minValue8 WRITE setMinValue8)
    Q_PROPERTY(QColor curveColor8 READ curveColor8 WRITE setCurveColor8)

public:
    static constexpr int SlotCount = 8;

    /// One curve slot as stored and as the properties show it; an empty trend name is an unused slot.
    struct CurveSlot {
        QString trend;
        QString archive;
        double minValue = 0.0;
        double maxValue = 100.0;
        QColor color = QColor(0, 0, 255);
        bool isUsed() const { return !trend.isEmpty(); }
    };

    QMTrend(Runtime& runtime, QWidget* parent);
    ~QMTrend() override;

    /// Slot `index` (0..7) as the properties hold it now.
    const CurveSlot& slot(int index) const { return m_slots.at(static_cast<std::size_t>(index)); }
    /// Slot `index` (0..7) as the chart draws it (the set taken by the last ApplyCurveSettings).
    const CurveSlot& appliedSlot(int index) const { return m_applied.at(static_cast<std::size_t>(index)); }

    /// Shows the curve set now in the slots.
    void ApplyCurveSettings();

    /// The field the curves are drawn in; its frame lies on the outer rows and columns.
    QRect plotRect() const;
    /// The period shown now (after zoom and pan), right edge included.
    qint64 shownStartMs() const { return m_viewEndMs - m_viewSpanMs; }
    qint64 shownEndMs() const { return m_viewEndMs; }
    /// Whether applied slot `index` has a sample in the shown period (false for an empty slot).
    bool curveHasData(int index) const;
    /// Whether the chart says "no data" for the whole period: curves are applied, none has a sample.
    bool showsEmptyPeriod() const;
    /// A redraw has been asked for and not yet done.
    bool isRefreshPending() const;
    /// Points asked for have not come yet (from a server); they are drawn when they come.
    bool isReading() const;
    /// Writes the shown period of every applied curve to a CSV file; returns why not, empty on success.
    void exportCsv(const QString& path, std::function<void(const QString& error)> done);

    bool Online() const { return m_online; }
    void setOnline(bool online);
    QDateTime TimePosition() const { return m_timePosition; }
    void setTimePosition(const QDateTime& time);
    /// Writes `TimePosition` and, offline, shows the stored period ending there even when that time is
    /// already written: whatever the operator zoomed or dragged is undone.
    void showTimePosition(const QDateTime& time);

    QString dateFormat() const { return m_dateFormat; }
    void setDateFormat(const QString& format);
    QString timeFormat() const { return m_timeFormat; }
    void setTimeFormat(const QString& format);
    int periodSeconds() const { return m_periodSeconds; }
    void setPeriodSeconds(int seconds);

    QString Trend1() const { return m_slots[0].trend; }
    void setTrend1(const QString& v) { setSlotTrend(0, v); }
    QString Archive1() const { return m_slots[0].archive; }
    void setArchive1(const QString& v) { setSlotArchive(0, v); }
    double MaxValue1() const { return m_slots[0].maxValue; }
    void setMaxValue1(double v) { setSlotMaxValue(0, v); }
    double minValue1() const { return m_slots[0].minValue; }
    void setMinValue1(double v) { setSlotMinValue(0, v); }
    QColor curveColor1() const { return m_slots[0].color; }
    void setCurveColor1(const QColor& v) { setSlotColor(0, v); }
    QString Trend2() const { return m_slots[1].trend; }
    void setTrend2(const QString& v) { setSlotTrend(1, v); }
    QString Archive2() const { return m_slots[1].archive; }
    void setArchive2(const QString& v) { setSlotArchive(1, v); }
    double MaxValue2() const { return m_slots[1].maxValue; }
    void setMaxValue2(double v) { setSlotMaxValue(1, v); }
    double minValue2() const { return m_slots[1].minValue; }
    void setMinValue2(double v) { setSlotMinValue(1, v); }
    QColor curveColor2() const { return m_slots[1].color; }
    void setCurveColor2(const QColor& v) { setSlotColor(1, v); }
    QString Trend3() const { return m_slots[2].trend; }
    void setTrend3(const QString& v) { setSlotTrend(2, v); }
    QString Archive3() const { return m_slots[2].archive; }
    void setArchive3(const QString& v) { setSlotArchive(2, v); }
    double MaxValue3() const { return m_slots[2].maxValue; }
    void setMaxValue3(double v) { setSlotMaxValue(2, v); }
    double minValue3() const { return m_slots[2].minValue; }
    void setMinValue3(double v) { setSlotMinValue(2, v); }
    QColor curveColor3() const { return m_slots[2].color; }
    void setCurveColor3(const QColor& v) { setSlotColor(2, v); }
    QString Trend4() const { return m_slots[3].trend; }
    void setTrend4(const QString& v) { setSlotTrend(3, v); }
    QString Archive4() const { return m_slots[3].archive; }
    void setArchive4(const QString& v) { setSlotArchive(3, v); }
    double MaxValue4() const { return m_slots[3].maxValue; }
    void setMaxValue4(double v) { setSlotMaxValue(3, v); }
    double minValue4() const { return m_slots[3].minValue; }
    void setMinValue4(double v) { setSlotMinValue(3, v); }
    QColor curveColor4() const { return m_slots[3].color; }
    void setCurveColor4(const QColor& v) { setSlotColor(3, v); }
    QString Trend5() const { return m_slots[4].trend; }
    void setTrend5(const QString& v) { setSlotTrend(4, v); }
    QString Archive5() const { return m_slots[4].archive; }
    void setArchive5(const QString& v) { setSlotArchive(4, v); }
    double MaxValue5() const { return m_slots[4].maxValue; }
    void setMaxValue5(double v) { setSlotMaxValue(4, v); }
    double minValue5() const { return m_slots[4].minValue; }
    void setMinValue5(double v) { setSlotMinValue(4, v); }
    QColor curveColor5() const { return m_slots[4].color; }
    void setCurveColor5(const QColor& v) { setSlotColor(4, v); }
    QString Trend6() const { return m_slots[5].trend; }
    void setTrend6(const QString& v) { setSlotTrend(5, v); }
    QString Archive6() const { return m_slots[5].archive; }
    void setArchive6(const QString& v) { setSlotArchive(5, v); }
    double MaxValue6() const { return m_slots[5].maxValue; }
    void setMaxValue6(double v) { setSlotMaxValue(5, v); }
    double minValue6() const { return m_slots[5].minValue; }
    void setMinValue6(double v) { setSlotMinValue(5, v); }
    QColor curveColor6() const { return m_slots[5].color; }
    void setCurveColor6(const QColor& v) { setSlotColor(5, v); }
    QString Trend7() const { return m_slots[6].trend; }
    void setTrend7(const QString& v) { setSlotTrend(6, v); }
    QString Archive7() const { return m_slots[6].archive; }
    void setArchive7(const QString& v) { setSlotArchive(6, v); }
    double MaxValue7() const { return m_slots[6].maxValue; }
    void setMaxValue7(double v) { setSlotMaxValue(6, v); }
    double minValue7() const { return m_slots[6].minValue; }
    void setMinValue7(double v) { setSlotMinValue(6, v); }
    QColor curveColor7() const { return m_slots[6].color; }
    void setCurveColor7(const QColor& v) { setSlotColor(6, v); }
    QString Trend8() const { return m_slots[7].trend; }
    void setTrend8(const QString& v) { setSlotTrend(7, v); }
    QString Archive8() const { return m_slots[7].archive; }
    void setArchive8(const QString& v) { setSlotArchive(7, v); }
    double MaxValue8() const { return m_slots[7].maxValue; }
    void setMaxValue8(double v) { setSlotMaxValue(7, v); }
    double minValue8() const { return m_slots[7].minValue; }
    void setMinValue8(double v) { setSlotMinValue(7, v); }
    QColor curveColor8() const { return m_slots[7].color; }
    void setCurveColor8(const QColor& v) { setSlotColor(7, v); }

Q_SIGNALS:
    /// The operator asks for another curve set.
    void TrendSelectRequest();
    /// The applied curve set changed (after ApplyCurveSettings); a legend listens to it.
    void curvesApplied();
    /// Online was written with a new value.
    void OnlineChanged(bool online);
    /// TimePosition was written with a new value.
    void TimePositionChanged(const QDateTime& time);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    struct Range {
        double low = 0.0;
        double high = 100.0;
    };
    Range usableRange(int index) const;
    bool offersCurveChoice() const;
    int leftMargin() const;
    void scheduleRefresh();
    void refresh();
    void resetView();
    qint64 timeAtX(double x) const;
    double xAt(qint64 timeMs) const;
    QString text(const char* key) const;
    QLocale numberLocale() const;
    QString formatValue(double value, const Range& range) const;
    void paintGrid(QPainter& painter, const QRect& plot) const;
    void paintCurve(QPainter& painter, const QRect& plot, int index) const;
    void paintNotes(QPainter& painter, const QRect& plot) const;
    void paintCursor(QPainter& painter, const QRect& plot) const;
    void chooseExportFile();

    void setSlotTrend(int index, const QString& value);
    void setSlotArchive(int index, const QString& value);
    void setSlotMaxValue(int index, double value);
    void setSlotMinValue(int index, double value);
    void setSlotColor(int index, const QColor& value);

    std::array<CurveSlot, SlotCount> m_slots;
    std::array<CurveSlot, SlotCount> m_applied;
    bool m_online = true;
    QDateTime m_timePosition;
    QString m_dateFormat = QStringLiteral("dd.mm.yyyy");
    QString m_timeFormat = QStringLiteral("hh:nn:ss");
    int m_periodSeconds = 3600;

    std::array<TrendCurveCache, SlotCount> m_caches;
    qint64 m_viewEndMs = 0;
    qint64 m_viewSpanMs = 3600 * 1000;
    bool m_standing = false; // offline and placed: the view no longer follows the present
    QTimer* m_frame = nullptr;
    QElapsedTimer m_sinceFrame;
    bool m_dataStale = true;
    bool m_everApplied = false;
    int m_cursorX = -1;
    int m_dragX = -1;
    qint64 m_dragEndMs = 0;
};
