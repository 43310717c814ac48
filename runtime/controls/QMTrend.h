#pragma once

#include "RuntimeControl.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <array>

/// \brief Trend chart: up to eight archived curves drawn over a period of time, following the present
/// (`Online`) or standing at `TimePosition`.
///
/// The chart never holds samples: each redraw asks the archive for the reduced series of the shown
/// period. The slot properties (`Trend1`..`Trend8`, `Archive1`..`Archive8`, `MaxValue1`..`MaxValue8`)
/// are read and written by their formed names at run time; a change to them shows only after
/// `ApplyCurveSettings`. The lower end and colour of each slot are stored settings.
class QMTrend final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMTrend)
    Q_PROPERTY(bool Online READ Online WRITE setOnline)
    Q_PROPERTY(QDateTime TimePosition READ TimePosition WRITE setTimePosition)
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

    bool Online() const { return m_online; }
    void setOnline(bool online);
    QDateTime TimePosition() const { return m_timePosition; }
    void setTimePosition(const QDateTime& time);

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

protected:
    void paintEvent(QPaintEvent* event) override;

private:
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
};
