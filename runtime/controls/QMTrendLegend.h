#pragma once

#include "RuntimeControl.h"

#include <QColor>
#include <QList>
#include <QString>

/// \brief Legend of a trend chart: one entry per used curve slot of the chart named by `trendcontrol`
/// on the legend's own window (colour, trend, archive and value range), four to a row.
///
/// The legend reads the chart only when asked (`UpdateLegend`). A name that names no chart leaves the
/// legend empty and says so in the log.
class QMTrendLegend final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMTrendLegend)
    Q_PROPERTY(QString trendcontrol READ trendcontrol WRITE setTrendcontrol)
    Q_PROPERTY(int appearance READ appearance WRITE setAppearance)

public:
    /// Entries per row; two rows hold all eight slots.
    static constexpr int entriesPerRow = 4;

    struct Entry {
        QColor color;
        QString trend;
        QString archive;
        double minValue = 0.0;
        double maxValue = 0.0;
        bool operator==(const Entry&) const = default;
    };

    QMTrendLegend(Runtime& runtime, QWidget* parent);

    QString trendcontrol() const { return m_trendControl; }
    void setTrendcontrol(const QString& name);
    /// 0 flat, 1 sunken border.
    int appearance() const { return m_appearance; }
    void setAppearance(int appearance);

    /// Lists the used curve slots of the chart anew, in slot order.
    void UpdateLegend();

    const QList<Entry>& entries() const { return m_entries; }
    /// The text an entry shows beside its colour.
    static QString entryText(const Entry& entry);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_trendControl;
    int m_appearance = 0;
    QList<Entry> m_entries;
};
