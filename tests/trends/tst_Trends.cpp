#include "ArchiveStore.h"
#include "QMSKey.h"
#include "QMSVarIn.h"
#include "QMTrend.h"
#include "Runtime.h"
#include "StationFixture.h"
#include "TrendCurveCache.h"
#include "Window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>
#include <QWheelEvent>

#include <cmath>
#include <limits>

namespace {
const QStringList charts{QStringLiteral("trdWasser"), QStringLiteral("trdFuel"), QStringLiteral("trdWaterTemp"), QStringLiteral("QMTrend3")};
const QDateTime loadTime(QDate(2002, 6, 1), QTime(9, 0));
/// History that answers only when told, as a server does: each read waits in `pending`.
class LateHistory final : public HistoryReader {
public:
    struct Read {
        qint64 from;
        qint64 to;
        Samples done;
    };
    std::vector<Read> pending;
    void reduced(const QString&, const QString&, qint64 from, qint64 to, int, QObject*, Samples done) override
    {
        pending.push_back({from, to, std::move(done)});
    }
    void range(const QString&, const QString&, qint64, qint64, QObject*, Samples) override {}
    void journalPage(const AlarmJournalFilter&, qint64, int, QObject*, Entries) override {}
    void journalCount(const AlarmJournalFilter&, QObject*, Count) override {}
    /// Answers the oldest read with one sample per second of its span.
    void answerNext()
    {
        Read read = std::move(pending.front());
        pending.erase(pending.begin());
        QList<ArchiveSample> samples;
        for (qint64 t = read.from; t <= read.to; t += 1000)
            samples.append({t, static_cast<double>(t / 1000)});
        read.done(samples, {});
    }
};

} // namespace

class TestTrends final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<StationFixture> m_station;
    Window* m_screen = nullptr;
    QStringList m_log;

    QMTrend& chart(const QString& name) { return m_screen->control<QMTrend>(name); }
    QMSVarIn& input(int n) { return m_screen->control<QMSVarIn>(QStringLiteral("QMVarIn%1").arg(n)); }
    QMSKey& key(int n) { return m_screen->control<QMSKey>(QStringLiteral("QMKey%1").arg(n)); }
    QList<int> inputs() { return {input(1).Value().toInt(), input(2).Value().toInt(), input(5).Value().toInt(), input(3).Value().toInt(), input(4).Value().toInt()}; }

    void openScreen()
    {
        m_station->pressAndWait(QStringLiteral("FCentral"), 7);
        m_screen = &m_station->window(QStringLiteral("FTrends"));
        QVERIFY(m_screen->isVisible());
        m_log.clear();
        for (const QString& name : charts) {
            connect(&chart(name), &QMTrend::OnlineChanged, this, [this, name](bool on) { m_log.append(name + (on ? QStringLiteral(" online") : QStringLiteral(" offline"))); });
            connect(&chart(name), &QMTrend::TimePositionChanged, this, [this, name](const QDateTime& t) {
                m_log.append(name + QStringLiteral(" at ") + t.toString(Qt::ISODate));
            });
        }
    }

    /// A chart of its own on the station's runtime, standing at `endMs` with a period of `seconds`.
    std::unique_ptr<QMTrend> standalone(qint64 endMs, int seconds)
    {
        auto c = std::make_unique<QMTrend>(m_station->runtime(), nullptr);
        c->setObjectName(QStringLiteral("trdTest"));
        c->resize(510, 218);
        c->setPeriodSeconds(seconds);
        c->setOnline(false);
        c->setTimePosition(QDateTime::fromMSecsSinceEpoch(endMs));
        return c;
    }

    static void settle(QMTrend& c)
    {
        QVERIFY(QTest::qWaitFor([&] { return !c.isRefreshPending(); }, 2000));
    }

    /// Writes `value`, rising by `drift` a second, every second for [fromS, toS) seconds after `baseMs`
    /// into Wasser/WaterTank1.
    void record(qint64 baseMs, int fromS, int toS, double value, double drift = 1e-3)
    {
        ArchiveStore& store = m_station->runtime().archive();
        const int index = store.trendIndex(QStringLiteral("Wasser"), QStringLiteral("WaterTank1"));
        for (int s = fromS; s < toS; ++s)
            store.add(index, baseMs + s * 1000LL, value + s * drift);
        store.commit();
    }

private Q_SLOTS:
    void init()
    {
        m_station = std::make_unique<StationFixture>();
        QVERIFY(m_station->startUp());
        openScreen();
    }

    void cleanup()
    {
        QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_screen = nullptr;
        m_station.reset();
    }

    void loadValuesFocusAndStartMode()
    {
        QCOMPARE(inputs(), (QList<int>{1, 6, 2002, 9, 0}));
        QCOMPARE(m_screen->widget().focusWidget(), &key(1));
        QCOMPARE(m_station->shell().CurrentScreen(), m_screen);
        for (const QString& name : charts) {
            QVERIFY2(chart(name).Online(), qPrintable(name));
            QVERIFY2(chart(name).appliedSlot(0).isUsed(), qPrintable(name)); // the stored curves show at once
        }
        QCOMPARE(chart(QStringLiteral("trdWasser")).appliedSlot(3).trend, QStringLiteral("WaterTank3"));
        QVERIFY(!chart(QStringLiteral("trdFuel")).appliedSlot(3).isUsed());
    }

    void showTheEnteredTime()
    {
        key(1).click();
        const QString at = QStringLiteral(" at 2002-06-01T09:00:00");
        QCOMPARE(m_log, (QStringList{QStringLiteral("trdFuel offline"), QStringLiteral("trdWasser offline"), QStringLiteral("QMTrend3 offline"),
                                     QStringLiteral("trdWaterTemp offline"), QStringLiteral("trdFuel") + at, QStringLiteral("QMTrend3") + at,
                                     QStringLiteral("trdWaterTemp") + at, QStringLiteral("trdWasser") + at}));
        for (const QString& name : charts) {
            QCOMPARE(chart(name).TimePosition(), loadTime);
            QCOMPARE(chart(name).shownEndMs(), loadTime.toMSecsSinceEpoch()); // the right edge stands there
        }
        // Nothing archived in 2002: every chart says so.
        settle(chart(QStringLiteral("trdWasser")));
        QVERIFY(chart(QStringLiteral("trdWasser")).showsEmptyPeriod());
    }

    void showATimeTheClockSkips()
    {
        // 31 March 2002, 02:30: the suite runs this again under TZ=Europe/Berlin, whose clock jumped
        // from 02:00 to 03:00 that night; the charts then stand at 03:30 and the station runs on.
        QVERIFY(input(2).enter(QStringLiteral("3")));
        QVERIFY(input(1).enter(QStringLiteral("31")));
        QVERIFY(input(3).enter(QStringLiteral("2")));
        QVERIFY(input(4).enter(QStringLiteral("30")));
        key(1).click();
        const QTime shown = QTimeZone::systemTimeZoneId() == "Europe/Berlin" ? QTime(3, 30) : QTime(2, 30);
        for (const QString& name : charts) {
            QVERIFY(!chart(name).Online());
            QCOMPARE(chart(name).TimePosition().date(), QDate(2002, 3, 31));
            QCOMPARE(chart(name).TimePosition().time(), shown);
        }
        QVERIFY(m_station->endings().isEmpty());
        QVERIFY(m_screen->isVisible());
    }

    void theKeyUndoesZoomAndDrag_data()
    {
        QTest::addColumn<bool>("zoom");
        QTest::newRow("dragged") << false;
        QTest::newRow("zoomed") << true;
    }

    void theKeyUndoesZoomAndDrag()
    {
        QFETCH(bool, zoom);
        key(1).click();
        QMTrend& c = chart(QStringLiteral("trdWaterTemp"));
        const QPoint at(c.width() / 2, c.height() / 2);
        if (zoom) {
            QWheelEvent wheel(at, c.mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(&c, &wheel);
        } else {
            QTest::mousePress(&c, Qt::LeftButton, {}, at);
            QTest::mouseMove(&c, at + QPoint(80, 0));
            QTest::mouseRelease(&c, Qt::LeftButton, {}, at + QPoint(80, 0));
        }
        QVERIFY(c.shownEndMs() != loadTime.toMSecsSinceEpoch());
        key(1).click(); // the same entry once more
        for (const QString& name : charts) {
            QCOMPARE(chart(name).shownEndMs(), loadTime.toMSecsSinceEpoch());
            QCOMPARE(chart(name).shownEndMs() - chart(name).shownStartMs(), chart(name).periodSeconds() * 1000LL);
        }
    }

    void curvesAreChosenOnlyOnTheFreeChart_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("chart");
        QTest::addColumn<QStringList>("menu");
        const QString exportCsv = QStringLiteral("CSV exportieren");
        for (const QString& name : charts)
            QTest::newRow(qPrintable(name)) << 0 << QStringLiteral("FTrends") << name << QStringList{exportCsv};
        QTest::newRow("trdDummy") << 8 << QStringLiteral("frmTrendSelection") << QStringLiteral("trdDummy")
                                  << QStringList{QStringLiteral("Kurven wählen"), exportCsv};
    }

    void curvesAreChosenOnlyOnTheFreeChart()
    {
        QFETCH(int, command);
        QFETCH(QString, screen);
        QFETCH(QString, chart);
        QFETCH(QStringList, menu);
        if (command)
            m_station->pressAndWait(QStringLiteral("FTrends"), command);
        QMTrend& c = m_station->window(screen).control<QMTrend>(chart);
        // What the context menu offers, read while it is open, then closed unchosen.
        QStringList offered;
        QTimer::singleShot(0, &c, [&offered] {
            if (auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                for (const QAction* action : open->actions())
                    offered.append(action->text());
                open->close();
            }
        });
        const QPoint at(c.width() / 2, c.height() / 2);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, c.mapToGlobal(at));
        QApplication::sendEvent(&c, &event);
        QCOMPARE(offered, menu);
    }

    void backToThePresentLeavesTheInputs()
    {
        QVERIFY(input(1).enter(QStringLiteral("31")));
        key(1).click();
        m_log.clear();
        key(2).click();
        QCOMPARE(m_log, (QStringList{QStringLiteral("trdFuel online"), QStringLiteral("trdWasser online"), QStringLiteral("QMTrend3 online"),
                                     QStringLiteral("trdWaterTemp online")}));
        QCOMPARE(inputs(), (QList<int>{31, 6, 2002, 9, 0}));
        QCOMPARE(chart(QStringLiteral("trdFuel")).TimePosition(), QDateTime(QDate(2002, 7, 1), QTime(9, 0)));
        QCOMPARE(chart(QStringLiteral("trdFuel")).shownEndMs(), m_station->runtime().now());
    }

    void twoPressesMoveToTheSecondTime()
    {
        key(1).click();
        QVERIFY(input(2).enter(QStringLiteral("2")));
        QVERIFY(input(1).enter(QStringLiteral("29")));
        QVERIFY(input(5).enter(QStringLiteral("2003")));
        QVERIFY(input(3).enter(QStringLiteral("23")));
        QVERIFY(input(4).enter(QStringLiteral("59")));
        m_log.clear();
        key(1).click();
        const QDateTime second(QDate(2003, 3, 1), QTime(23, 59));
        for (const QString& name : charts) {
            QVERIFY(!chart(name).Online());
            QCOMPARE(chart(name).TimePosition(), second);
        }
        QVERIFY(!m_log.join(QLatin1Char(',')).contains(QStringLiteral("online")));
    }

    void leavingAndReturningShowsTheLoadValues()
    {
        QVERIFY(input(5).enter(QStringLiteral("2020")));
        key(1).click();
        m_station->pressAndWait(QStringLiteral("FTrends"), 5);
        QVERIFY(!m_screen->isLoaded());
        openScreen();
        QCOMPARE(inputs(), (QList<int>{1, 6, 2002, 9, 0}));
        QVERIFY(chart(QStringLiteral("QMTrend3")).Online());
    }

    void inputLimits_data()
    {
        QTest::addColumn<int>("input");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("day 31") << 1 << QStringLiteral("31") << true;
        QTest::newRow("day 32") << 1 << QStringLiteral("32") << false;
        QTest::newRow("day 0") << 1 << QStringLiteral("0") << false;
        QTest::newRow("month 13") << 2 << QStringLiteral("13") << false;
        QTest::newRow("hour 0") << 3 << QStringLiteral("0") << true;
        QTest::newRow("hour 24") << 3 << QStringLiteral("24") << false;
        QTest::newRow("minute 60") << 4 << QStringLiteral("60") << false;
        QTest::newRow("year 1900") << 5 << QStringLiteral("1900") << true;
        QTest::newRow("year 2100") << 5 << QStringLiteral("2100") << true;
        QTest::newRow("two-digit year") << 5 << QStringLiteral("02") << false;
        QTest::newRow("year 2101") << 5 << QStringLiteral("2101") << false;
        QTest::newRow("empty") << 5 << QString() << false;
    }

    void inputLimits()
    {
        QFETCH(int, input);
        QFETCH(QString, entry);
        QFETCH(bool, accepted);
        QMSVarIn& in = this->input(input);
        const QVariant before = in.Value();
        QCOMPARE(in.enter(entry), accepted);
        QCOMPARE(in.Value(), accepted ? QVariant(entry.toInt()) : before);
        QCOMPARE(in.hint().isEmpty(), accepted);
        if (!accepted)
            QVERIFY(in.hint().contains(QString::number(in.upper())));
    }

    void typingAndArrows()
    {
        QMSVarIn& day = input(1);
        day.setFocus();
        QTest::keyClicks(&day, QStringLiteral("28"));
        QTest::keyClick(&day, Qt::Key_Return);
        QCOMPARE(day.Value().toInt(), 28);
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(&day, Qt::Key_Up);
        QCOMPARE(day.Value().toInt(), 31); // stops at the upper limit
        QTest::keyClicks(&day, QStringLiteral("45"));
        QTest::keyClick(&day, Qt::Key_Return);
        QCOMPARE(day.Value().toInt(), 31);
        QVERIFY(!day.hint().isEmpty());
        key(1).setFocus(); // leaving drops the refused entry
        QCOMPARE(day.text(), QStringLiteral("31"));
        QVERIFY(day.hint().isEmpty());
    }

    void curveSlotsByFormedName()
    {
        QMTrend& c = chart(QStringLiteral("trdFuel"));
        QVERIFY(c.setProperty("Trend4", QStringLiteral("WaterTank")));
        QVERIFY(c.setProperty("Archive4", QStringLiteral("Wasser")));
        QVERIFY(c.setProperty("MaxValue4", 60000.0));
        QCOMPARE(c.property("Trend4").toString(), QStringLiteral("WaterTank"));
        QCOMPARE(c.slot(3).maxValue, 60000.0);
        QVERIFY(!c.appliedSlot(3).isUsed()); // shown only after ApplyCurveSettings
        c.ApplyCurveSettings();
        QCOMPARE(c.appliedSlot(3).trend, QStringLiteral("WaterTank"));
        QCOMPARE(c.appliedSlot(3).maxValue, 60000.0);
    }

    void unusableRangeFallsBack_data()
    {
        QTest::addColumn<double>("max");
        QTest::newRow("equal to the lower end") << 0.0;
        QTest::newRow("below the lower end") << -5.0;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN();
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
    }

    void unusableRangeFallsBack()
    {
        QFETCH(double, max);
        QMTrend& c = chart(QStringLiteral("trdWasser"));
        c.setProperty("MaxValue2", max);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("trdWasser: curve slot 2 .*drawn on 0 to 12000")));
        c.ApplyCurveSettings();
        QCOMPARE(c.appliedSlot(1).minValue, 0.0);
        QCOMPARE(c.appliedSlot(1).maxValue, 12000.0); // the trend's range in the archive
        c.grab(); // and it paints
    }

    void noDataAndGaps()
    {
        const qint64 base = (m_station->runtime().now() / 1000 - 7200) * 1000;
        record(base, 0, 600, 6000.0);
        record(base, 1200, 1800, 6000.0);
        auto c = standalone(base + 1800 * 1000 - 1000, 1800);
        c->setProperty("Trend1", QStringLiteral("WaterTank1"));
        c->setProperty("Archive1", QStringLiteral("Wasser"));
        c->setProperty("MaxValue1", 12000.0);
        c->setProperty("curveColor1", QColor(255, 0, 0));
        c->setProperty("Trend2", QStringLiteral("NoSuchTrend"));
        c->setProperty("Archive2", QStringLiteral("Wasser"));
        c->ApplyCurveSettings();
        settle(*c);
        QVERIFY(c->curveHasData(0));
        QVERIFY(!c->curveHasData(1)); // unknown trend: an empty curve that says "no data"
        QVERIFY(!c->showsEmptyPeriod());

        // Across the 10-minute gap no red pixel: the line breaks.
        const QImage picture = c->grab().toImage();
        const auto redIn = [&](double fromFraction, double toFraction) {
            int red = 0;
            for (int x = static_cast<int>(picture.width() * fromFraction); x < picture.width() * toFraction; ++x)
                for (int y = 0; y < picture.height(); ++y) {
                    const QColor p = picture.pixelColor(x, y);
                    red += p.red() > 200 && p.green() < 80 && p.blue() < 80;
                }
            return red;
        };
        QVERIFY(redIn(0.15, 0.35) > 0);
        QCOMPARE(redIn(0.45, 0.6), 0);
        QVERIFY(redIn(0.75, 0.9) > 0);

        // Before the oldest sample: the whole period is empty, and the chart says so.
        c->setTimePosition(QDateTime::fromMSecsSinceEpoch(base - 3600 * 1000));
        settle(*c);
        QVERIFY(c->showsEmptyPeriod());
    }

    void curvesAtAndBeyondTheEndsOfTheirRange_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("top");
        QTest::addColumn<bool>("offScale");
        QTest::newRow("at the top") << 12000.0 << true << false;
        QTest::newRow("at the bottom") << 0.0 << false << false;
        QTest::newRow("above") << 15000.0 << true << true;
        QTest::newRow("below") << -500.0 << false << true;
    }

    void curvesAtAndBeyondTheEndsOfTheirRange()
    {
        QFETCH(double, value);
        QFETCH(bool, top);
        QFETCH(bool, offScale);
        const qint64 base = (m_station->runtime().now() / 1000 - 7200) * 1000;
        record(base, 0, 600, value, 0.0);
        auto c = standalone(base + 599 * 1000, 600);
        c->setProperty("Trend1", QStringLiteral("WaterTank1"));
        c->setProperty("Archive1", QStringLiteral("Wasser"));
        c->setProperty("MaxValue1", 12000.0);
        c->setProperty("curveColor1", QColor(255, 0, 0));
        c->ApplyCurveSettings();
        settle(*c);
        const QImage picture = c->grab().toImage();
        const QRect plot = c->plotRect();
        QList<int> redRows; // in the plot's columns: the value axis is labelled in the curve's colour
        for (int y = 0; y < picture.height(); ++y)
            for (int x = plot.left(); x <= plot.right(); ++x) {
                const QColor p = picture.pixelColor(x, y);
                if (p.red() > 200 && p.green() < 80 && p.blue() < 80) {
                    redRows.append(y);
                    break;
                }
            }
        QVERIFY(!redRows.isEmpty());
        QVERIFY(redRows.first() > plot.top() && redRows.last() < plot.bottom()); // inside the frame
        const int outermost = top ? redRows.first() : redRows.last();
        const int edge = top ? plot.top() + 1 : plot.bottom() - 1;
        if (offScale) {
            QCOMPARE(outermost, edge); // clipped at the edge
            QVERIFY2(redRows.size() >= 5, "marked off the scale");
        } else {
            QVERIFY2(std::abs(outermost - edge) >= 3, "clear of the frame");
            QVERIFY2(redRows.size() <= 2, "a plain line, not marked");
        }
    }

    void curveCacheTakesLateAnswers()
    {
        LateHistory history;
        TrendCurveCache cache;
        int arrived = 0;
        const auto cover = [&](qint64 from, qint64 to, qint64 bucket) {
            cache.cover(history, this, QStringLiteral("A"), QStringLiteral("T"), from, to, bucket, false, [&arrived] { ++arrived; });
        };
        cover(0, 10000, 1000);
        QCOMPARE(cache.points().size(), 0);
        QVERIFY(cache.isReading());
        history.answerNext();
        QVERIFY(!cache.isReading());
        QCOMPARE(arrived, 1);
        QCOMPARE(cache.points().size(), 10);
        // Panned right while the new strip is asked for: its answer joins at the end, in order.
        cover(3000, 13000, 1000);
        QCOMPARE(cache.points().first().timeMs, 3000);
        history.answerNext();
        QCOMPARE(cache.points().size(), 10);
        QCOMPARE(cache.points().last().timeMs, 12000);
        // An answer for a zoom level left meanwhile is dropped, not mixed into the new one.
        cover(0, 20000, 2000);
        cover(0, 20000, 4000);
        QCOMPARE(history.pending.size(), std::size_t(2));
        history.answerNext();
        QCOMPARE(cache.points().size(), 0);
        QVERIFY(cache.isReading());  // the dropped answer ends a read too, the newer one is still out
        history.answerNext();
        QVERIFY(!cache.isReading());
        QCOMPARE(cache.points().size(), 20);
        QCOMPARE(arrived, 3);
    }

    void csvHoldsTheValuesAsArchived()
    {
        const qint64 base = (m_station->runtime().now() / 1000 - 7200) * 1000;
        record(base, 0, 10, 6000.0);
        auto c = standalone(base + 9000, 10);
        c->setProperty("Trend1", QStringLiteral("WaterTank1"));
        c->setProperty("Archive1", QStringLiteral("Wasser"));
        c->setProperty("Trend2", QStringLiteral("WaterTank2"));
        c->setProperty("Archive2", QStringLiteral("Wasser"));
        c->ApplyCurveSettings();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("out.csv"));
        const auto exported = [&c](const QString& target) {
            QString result = QStringLiteral("not finished");
            c->exportCsv(target, [&result](const QString& error) { result = error; });
            return result;
        };
        QCOMPARE(exported(path), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 11);
        QCOMPARE(lines[0], QStringLiteral("time,Wasser/WaterTank1,Wasser/WaterTank2"));
        const QStringList row = lines[4].split(QLatin1Char(','));
        QCOMPARE(QDateTime::fromString(row[0], Qt::ISODateWithMs).toMSecsSinceEpoch(), base + 3000);
        QCOMPARE(row[1].toDouble(), 6000.0 + 3 * 1e-3); // exact: shortest text that reads back the same
        QCOMPARE(row[2], QString());
        const QString refused = exported(dir.filePath(QStringLiteral("no/such/folder/out.csv")));
        QVERIFY(!refused.isEmpty() && refused != QStringLiteral("not finished"));
    }
};

QTEST_MAIN(TestTrends)
#include "tst_Trends.moc"
