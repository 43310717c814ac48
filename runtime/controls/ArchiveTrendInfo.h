#pragma once

#include <QObject>
#include <QString>

struct TrendDefinition;

/// \brief The details of one archived trend as the trend chooser reads them: its value range
/// (`RangeMax` is what a chart slot's upper end is set to), variable and unit.
class ArchiveTrendInfo final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveTrendInfo)
    Q_PROPERTY(QString Archive READ Archive CONSTANT)
    Q_PROPERTY(QString Trend READ Trend CONSTANT)
    Q_PROPERTY(double RangeMin READ RangeMin CONSTANT)
    Q_PROPERTY(double RangeMax READ RangeMax CONSTANT)
    Q_PROPERTY(QString Variable READ Variable CONSTANT)
    Q_PROPERTY(QString Unit READ Unit CONSTANT)

public:
    ArchiveTrendInfo(QString archive, const TrendDefinition& trend, QObject* parent);

    QString Archive() const { return m_archive; }
    QString Trend() const { return m_trend; }
    double RangeMin() const { return m_rangeMin; }
    double RangeMax() const { return m_rangeMax; }
    QString Variable() const { return m_variable; }
    QString Unit() const { return m_unit; }

private:
    QString m_archive;
    QString m_trend;
    double m_rangeMin = 0.0;
    double m_rangeMax = 100.0;
    QString m_variable;
    QString m_unit;
};
