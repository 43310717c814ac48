#include "EngineTestSupport.h"
#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "StationFixture.h"
#include "Window.h"
#include "frmSelection.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QString overview = QStringLiteral("FCentral");
const QString screenName = QStringLiteral("frmTrendSelection");
const QString dialogName = QStringLiteral("frmSelection");
const QString msgFull = QStringLiteral("Sie haben bereits 8 Trends ausgewählt!");
const QString msgRest = QStringLiteral("Die restlichen Trends konnten nicht übernommen werden, da schon 8 Trends ausgewählt sind!");

const QStringList storedRows{QStringLiteral("wTemperature1@WasserTemperaturen"), QStringLiteral("wTemperature2@WasserTemperaturen"),
                             QStringLiteral("wTemperature3@WasserTemperaturen")};
const QStringList wasser{QStringLiteral("WaterTank"), QStringLiteral("WaterTank1"), QStringLiteral("WaterTank2"), QStringLiteral("WaterTank3")};
const QStringList fuelRows{QStringLiteral("FuelTank1@Fuel"), QStringLiteral("FuelTank2@Fuel"), QStringLiteral("FuelTank3@Fuel")};
const QStringList eightRows = QStringList{QStringLiteral("WaterTank@Wasser"), QStringLiteral("WaterTank1@Wasser"), QStringLiteral("WaterTank2@Wasser"),
                                          QStringLiteral("WaterTank3@Wasser")}
    + fuelRows + QStringList{QStringLiteral("bTemperature1@BoilerTemperaturen")};

// The catalogue variant: a trend name in two archives, one differing only in case, a five-trend archive.
const QByteArray variantArchives = R"({"retentionDays": 30, "deleteBatch": 1000, "recordIntervalMilliseconds": 1000, "archives": [
 {"name": "Wasser", "trends": [
  {"name": "WaterTank", "variable": "Ch1.Kalvora.Storage.WaterTank", "min": 0, "max": 60000},
  {"name": "WaterTank1", "variable": "Ch1.Kalvora.Unit1.WaterTank", "min": 0, "max": 12000},
  {"name": "WaterTank2", "variable": "Ch1.Kalvora.Unit2.WaterTank", "min": 0, "max": 12000},
  {"name": "WaterTank3", "variable": "Ch1.Kalvora.Unit3.WaterTank", "min": 0, "max": 12000},
  {"name": "wTemperature1", "variable": "Ch1.Kalvora.Unit1.WaterTank.Temperature", "min": 0, "max": 90}]},
 {"name": "WasserTemperaturen", "trends": [
  {"name": "wTemperature1", "variable": "Ch1.Kalvora.Unit1.WaterTank.Temperature", "min": 0, "max": 120},
  {"name": "wTemperature2", "variable": "Ch1.Kalvora.Unit2.WaterTank.Temperature", "min": 0, "max": 120},
  {"name": "wTemperature3", "variable": "Ch1.Kalvora.Unit3.WaterTank.Temperature", "min": 0, "max": 120},
  {"name": "WTemperature1", "variable": "Ch1.Kalvora.Unit1.WaterTank.Temperature", "min": 0, "max": 130}]},
 {"name": "Fuel", "trends": [
  {"name": "FuelTank1", "variable": "Ch1.Kalvora.Unit1.Boiler.FuelTank", "min": 0, "max": 600},
  {"name": "FuelTank2", "variable": "Ch1.Kalvora.Unit2.Boiler.FuelTank", "min": 0, "max": 600},
  {"name": "FuelTank3", "variable": "Ch1.Kalvora.Unit3.Boiler.FuelTank", "min": 0, "max": 600}]}]})";
const QByteArray noArchives = R"({"retentionDays": 30, "deleteBatch": 1000, "recordIntervalMilliseconds": 1000, "archives": []})";

} // namespace

class TestTrendSelection final : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_projects;
    std::unique_ptr<StationFixture> m_station;
    QStringList m_messages;

    StationFixture& station() { return *m_station; }
    Window& dialog() { return station().window(dialogName); }
    QMTrend& chart() { return station().window(screenName).control<QMTrend>(QStringLiteral("trdDummy")); }
    QMTrendLegend& legend() { return station().window(screenName).control<QMTrendLegend>(QStringLiteral("legTrends")); }
    QListWidget& lstAll() { return dialog().control<QListWidget>(QStringLiteral("lstAll")); }
    QComboBox& cboArchives() { return dialog().control<QComboBox>(QStringLiteral("cboArchives")); }
    QTreeWidget& lvwSelected() { return dialog().control<QTreeWidget>(QStringLiteral("lvwSelected")); }
    void press(const char* button) { dialog().control<QPushButton>(QString::fromLatin1(button)).click(); }

    /// A station on the real project, or on a copy whose archives are replaced.
    void startStation(const QByteArray& archives = {})
    {
        QString root;
        if (!archives.isEmpty()) {
            m_projects = std::make_unique<QTemporaryDir>();
            root = copyProject(m_projects->path());
            QFile file(QDir(root).filePath(QStringLiteral("Kalvora/archives.json")));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(archives);
        }
        m_station = std::make_unique<StationFixture>(root);
        QVERIFY(m_station->startUp());
        m_station->pressAndWait(overview, 8);
        QVERIFY(m_station->window(screenName).isVisible());
    }

    /// Writes the chart's slots as "trend@archive" texts, slot 1 first; slots not given are emptied.
    void setSlots(const QStringList& curves)
    {
        for (int n = 1; n <= 8; ++n) {
            const QStringList parts = n <= curves.size() ? curves[n - 1].split(QLatin1Char('@')) : QStringList{QString(), QString()};
            chart().setProperty(QByteArray("Trend" + QByteArray::number(n)).constData(), parts.value(0));
            chart().setProperty(QByteArray("Archive" + QByteArray::number(n)).constData(), parts.value(1));
        }
    }
    QStringList slotTexts(bool applied)
    {
        QStringList texts;
        for (int i = 0; i < 8; ++i) {
            const QMTrend::CurveSlot& s = applied ? chart().appliedSlot(i) : chart().slot(i);
            if (!s.trend.isEmpty() || !s.archive.isEmpty())
                texts.append(s.trend + QLatin1Char('@') + s.archive);
        }
        return texts;
    }
    QStringList legendTexts()
    {
        QStringList texts;
        for (const QMTrendLegend::Entry& e : legend().entries())
            texts.append(e.trend + QLatin1Char('@') + e.archive);
        return texts;
    }
    QStringList rows()
    {
        QStringList texts;
        for (int i = 0; i < lvwSelected().topLevelItemCount(); ++i)
            texts.append(lvwSelected().topLevelItem(i)->text(0) + QLatin1Char('@') + lvwSelected().topLevelItem(i)->text(1));
        return texts;
    }
    QStringList available()
    {
        QStringList texts;
        for (int i = 0; i < lstAll().count(); ++i)
            texts.append(lstAll().item(i)->text());
        return texts;
    }
    void showArchive(const QString& archive)
    {
        const int index = cboArchives().findText(archive);
        QVERIFY2(index >= 0, qPrintable(archive));
        cboArchives().setCurrentIndex(index);
    }
    void pick(const QString& archive, const QString& trend)
    {
        showArchive(archive);
        lstAll().setCurrentRow(static_cast<int>(available().indexOf(trend)));
        press("cmdAdd");
    }
    /// As the window system delivers a double click: press and release, then the double click.
    static void doubleClick(QAbstractItemView& view, const QRect& item)
    {
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, item.center());
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, item.center());
    }
    /// Opens the chooser on the table's slots and shows the table's archive.
    void openFromTable()
    {
        QFETCH(QStringList, curves);
        QFETCH(QString, archive);
        startStation();
        setSlots(curves);
        dialog().show();
        showArchive(archive);
    }
    /// Opens the chooser as the chart's request does (modally) and runs `whileOpen` inside it; whatever
    /// `whileOpen` leaves open is cancelled, so a failing check cannot block the test.
    void requestFromChart(const std::function<void()>& whileOpen)
    {
        QTimer::singleShot(0, this, [&] {
            whileOpen();
            if (dialog().isVisible())
                press("cmdAbort");
        });
        Q_EMIT chart().TrendSelectRequest();
        QVERIFY(!dialog().isLoaded());
    }

private Q_SLOTS:
    void init()
    {
        m_messages.clear();
        frmSelection::setMessageSink([this](QWidget& shown, const QString& text) {
            QVERIFY(shown.isVisible()); // the dialog stays open behind the message
            m_messages.append(text);
        });
    }

    void cleanup()
    {
        if (m_station)
            QVERIFY2(m_station->reportedErrors().isEmpty(), qPrintable(m_station->reportedErrors().join(QLatin1Char('\n'))));
        m_station.reset();
        m_projects.reset();
    }

    void theScreenShowsTheStoredCurvesAndAChoiceAppliesAtOnce()
    {
        startStation();
        QCOMPARE(station().shell().CurrentScreen(), &station().window(screenName));
        QCOMPARE(slotTexts(false), storedRows);
        QCOMPARE(legendTexts(), storedRows);
        QCOMPARE(legend().entries().first().maxValue, 100.0);

        requestFromChart([&] {
            QCOMPARE(station().shell().CurrentScreen(), &dialog());
            press("cmdRemoveAll");
            showArchive(QStringLiteral("BoilerTemperaturen"));
            press("cmdAddAll");
            pick(QStringLiteral("Fuel"), QStringLiteral("FuelTank1"));
            pick(QStringLiteral("Fuel"), QStringLiteral("FuelTank2"));
            press("cmdOK");
        });
        const QStringList five{QStringLiteral("bTemperature1@BoilerTemperaturen"), QStringLiteral("bTemperature2@BoilerTemperaturen"),
                               QStringLiteral("bTemperature3@BoilerTemperaturen"), QStringLiteral("FuelTank1@Fuel"), QStringLiteral("FuelTank2@Fuel")};
        QCOMPARE(slotTexts(true), five);
        QCOMPARE(legendTexts(), five);

        // Cancelling a changed selection leaves chart and legend as they were.
        requestFromChart([&] {
            QCOMPARE(rows(), five);
            press("cmdRemoveAll");
        });
        QCOMPARE(slotTexts(true), five);
        QCOMPARE(legendTexts(), five);

        // Leaving the screen discards the choice: the next visit starts from the stored curves.
        station().pressAndWait(screenName, 5);
        QVERIFY(!station().window(screenName).isLoaded());
        station().pressAndWait(overview, 8);
        QCOMPARE(slotTexts(false), storedRows);
        QCOMPARE(legendTexts(), storedRows);
        QVERIFY(m_messages.isEmpty());
    }

    void anOpeningShowsTheChartsSlots()
    {
        startStation();
        dialog().show();
        QCOMPARE(rows(), storedRows);
        QCOMPARE(cboArchives().count(), 4);
        QCOMPARE(cboArchives().currentText(), QStringLiteral("Wasser"));
        QCOMPARE(available(), wasser);
        showArchive(QStringLiteral("WasserTemperaturen"));
        QCOMPARE(available(), QStringList()); // all three are selected
        QCOMPARE(lvwSelected().header()->sectionSize(0), 88); // 1440 twips less 120
    }

    void slotsBecomeRows_data()
    {
        QTest::addColumn<QStringList>("curves");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("unlisted trend: no row, later curves still") << QStringList{QStringLiteral("Nothing@Wasser"), QStringLiteral("FuelTank1@Fuel"), QStringLiteral("@"), QStringLiteral("WaterTank@Wasser")}
                                                                 << QStringList{QStringLiteral("FuelTank1@Fuel"), QStringLiteral("WaterTank@Wasser")};
        QTest::newRow("the row keeps the slot's archive") << QStringList{QStringLiteral("FuelTank1@Wasser")} << QStringList{QStringLiteral("FuelTank1@Wasser")};
        QTest::newRow("letter case counts") << QStringList{QStringLiteral("fueltank1@Fuel"), QStringLiteral("FuelTank1@Fuel")} << QStringList{QStringLiteral("FuelTank1@Fuel")};
        QTest::newRow("eight curves") << eightRows << eightRows;
        QTest::newRow("empty chart") << QStringList() << QStringList();
    }

    void slotsBecomeRows()
    {
        QFETCH(QStringList, curves);
        QFETCH(QStringList, expected);
        startStation();
        setSlots(curves);
        dialog().show();
        QCOMPARE(rows(), expected);
    }

    void addOperations_data()
    {
        QTest::addColumn<QStringList>("curves");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::addColumn<QStringList>("availableAfter");
        QTest::addColumn<QStringList>("messages");
        const QString boiler = QStringLiteral("BoilerTemperaturen");
        const QStringList boilerLeft{QStringLiteral("bTemperature2"), QStringLiteral("bTemperature3")};
        QTest::newRow("eight rows, >") << eightRows << boiler << 0 << ">" << eightRows << boilerLeft << QStringList{msgFull};
        QTest::newRow("eight rows, double click") << eightRows << boiler << 1 << "double click" << eightRows << boilerLeft << QStringList{msgFull};
        QTest::newRow("eight rows, >>") << eightRows << boiler << -1 << ">>" << eightRows << boilerLeft << QStringList{msgRest};
        QTest::newRow("eight rows, >> with nothing left") << eightRows << QStringLiteral("Fuel") << -1 << ">>" << eightRows << QStringList() << QStringList();
        QTest::newRow("> without a current entry") << storedRows << QStringLiteral("Wasser") << -1 << ">" << storedRows << wasser << QStringList();
        QTest::newRow("> takes the current entry and the shown archive")
            << storedRows << QStringLiteral("Wasser") << 1 << ">" << storedRows + QStringList{QStringLiteral("WaterTank1@Wasser")}
            << QStringList{QStringLiteral("WaterTank"), QStringLiteral("WaterTank2"), QStringLiteral("WaterTank3")} << QStringList();
        QTest::newRow("six rows, four available, >>")
            << storedRows + fuelRows << QStringLiteral("Wasser") << -1 << ">>" << storedRows + fuelRows + QStringList{QStringLiteral("WaterTank@Wasser"), QStringLiteral("WaterTank1@Wasser")}
            << QStringList{QStringLiteral("WaterTank2"), QStringLiteral("WaterTank3")} << QStringList{msgRest};
        QTest::newRow("five rows, three available, >>")
            << storedRows + fuelRows.mid(0, 2) << boiler << -1 << ">>"
            << storedRows + fuelRows.mid(0, 2) + QStringList{QStringLiteral("bTemperature1@BoilerTemperaturen"), QStringLiteral("bTemperature2@BoilerTemperaturen"), QStringLiteral("bTemperature3@BoilerTemperaturen")}
            << QStringList() << QStringList();
    }

    void addOperations()
    {
        QFETCH(int, current);
        QFETCH(QString, action);
        openFromTable();
        lstAll().setCurrentRow(current);
        if (action == QLatin1String(">"))
            press("cmdAdd");
        else if (action == QLatin1String(">>"))
            press("cmdAddAll");
        else
            doubleClick(lstAll(), lstAll().visualItemRect(lstAll().item(current)));
        QTEST(rows(), "rowsAfter");
        QTEST(available(), "availableAfter");
        QTEST(m_messages, "messages");
    }

    void removeOperations_data()
    {
        QTest::addColumn<QStringList>("curves");
        QTest::addColumn<QString>("archive");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("rowsAfter");
        QTest::addColumn<QStringList>("availableAfter");
        const QString temperatures = QStringLiteral("WasserTemperaturen");
        QTest::newRow("< on a row of another archive") << storedRows << QStringLiteral("Wasser") << 0 << "<" << storedRows.mid(1) << wasser;
        QTest::newRow("< on a row of the shown archive") << storedRows << temperatures << 1 << "<"
                                                         << QStringList{storedRows[0], storedRows[2]} << QStringList{QStringLiteral("wTemperature2")};
        QTest::newRow("double click on a row") << storedRows << temperatures << 0 << "double click" << storedRows.mid(1) << QStringList{QStringLiteral("wTemperature1")};
        QTest::newRow("< without a current row") << storedRows << temperatures << -1 << "<" << storedRows << QStringList();
        QTest::newRow("< and << without rows") << QStringList() << QStringLiteral("Wasser") << -1 << "< <<" << QStringList() << wasser;
        QTest::newRow("<< offers the shown archive's rows again")
            << QStringList{storedRows[0], QStringLiteral("FuelTank1@Fuel"), storedRows[1]} << QStringLiteral("Fuel") << 0 << "<<" << QStringList()
            << QStringList{QStringLiteral("FuelTank2"), QStringLiteral("FuelTank3"), QStringLiteral("FuelTank1")};
    }

    void removeOperations()
    {
        QFETCH(int, current);
        QFETCH(QString, action);
        openFromTable();
        lvwSelected().setCurrentItem(current >= 0 ? lvwSelected().topLevelItem(current) : nullptr);
        if (action == QLatin1String("double click")) {
            doubleClick(lvwSelected(), lvwSelected().visualItemRect(lvwSelected().topLevelItem(current)));
        } else {
            if (action.startsWith(QLatin1String("<")))
                press(action.startsWith(QLatin1String("<<")) ? "cmdRemoveAll" : "cmdRemove");
            if (action.endsWith(QLatin1String(" <<")))
                press("cmdRemoveAll");
        }
        QTEST(rows(), "rowsAfter");
        QTEST(available(), "availableAfter");
    }

    void onlyAPickedEntryMoves_data()
    {
        QTest::addColumn<QStringList>("curves");
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("curvesAfter");
        QTest::addColumn<QStringList>("messages");
        const auto with = [](const QString& curve) { return storedRows + QStringList{curve}; };
        const auto without = [](int row) { QStringList left = storedRows; left.removeAt(row); return left; };
        // Steps: >, >> and < press the buttons; "click" and "dclick" a row of a list; "key Down" to the focused list.
        QTest::newRow("> at once") << storedRows << ">" << storedRows << QStringList();
        const QStringList eightElsewhere = storedRows + fuelRows
            + QStringList{QStringLiteral("bTemperature1@BoilerTemperaturen"), QStringLiteral("bTemperature2@BoilerTemperaturen")};
        QTest::newRow("> at once, eight rows") << eightElsewhere << ">" << eightElsewhere << QStringList(); // Wasser, shown first, has all four left
        QTest::newRow("< at once") << storedRows << "<" << storedRows << QStringList();
        QTest::newRow("a click, then > twice") << storedRows << "click lstAll 2;>;>" << with(QStringLiteral("WaterTank2@Wasser")) << QStringList();
        QTest::newRow("an arrow key, then > twice") << storedRows << "key Down;>;>" << with(QStringLiteral("WaterTank1@Wasser")) << QStringList();
        QTest::newRow("a double click, then >") << storedRows << "dclick lstAll 3;>" << with(QStringLiteral("WaterTank3@Wasser")) << QStringList();
        QTest::newRow("a pick moved by >>, then >") << storedRows + fuelRows.mid(0, 2) << "click lstAll 0;>>;>"
                                                  << storedRows + fuelRows.mid(0, 2) + QStringList{QStringLiteral("WaterTank@Wasser"), QStringLiteral("WaterTank1@Wasser"), QStringLiteral("WaterTank2@Wasser")}
                                                  << QStringList{msgRest};
        QTest::newRow("a click, then < twice") << storedRows << "click lvwSelected 1;<;<" << without(1) << QStringList();
        QTest::newRow("a double click, then <") << storedRows << "dclick lvwSelected 0;<" << without(0) << QStringList();
    }

    void onlyAPickedEntryMoves()
    {
        QFETCH(QStringList, curves);
        QFETCH(QString, steps);
        startStation();
        setSlots(curves);
        chart().ApplyCurveSettings();
        requestFromChart([&] {
            // The operator's first look: the dialog in front, the focus where the window system puts it.
            QTRY_COMPARE(QApplication::focusWidget(), &lstAll());
            for (const QString& step : steps.split(QLatin1Char(';'))) {
                const QStringList word = step.split(QLatin1Char(' '));
                if (step == QLatin1String(">>")) {
                    press("cmdAddAll");
                } else if (step == QLatin1String(">") || step == QLatin1String("<")) {
                    press(step == QLatin1String(">") ? "cmdAdd" : "cmdRemove");
                } else if (word[0] == QLatin1String("key")) {
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
                } else {
                    QAbstractItemView& view = word[1] == QLatin1String("lstAll") ? static_cast<QAbstractItemView&>(lstAll()) : lvwSelected();
                    const QRect item = view.visualRect(view.model()->index(word[2].toInt(), 0));
                    if (word[0] == QLatin1String("dclick"))
                        doubleClick(view, item);
                    else
                        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, item.center());
                }
            }
            press("cmdOK");
        });
        QTEST(slotTexts(true), "curvesAfter");
        QTEST(m_messages, "messages");
    }

    void okWritesTheRowsIntoTheSlots_data()
    {
        QTest::addColumn<QStringList>("picks");
        QTest::addColumn<QList<double>>("maxValues");
        QTest::newRow("no rows") << QStringList() << QList<double>{100, 100, 77, 77, 77, 77, 77, 77};
        QTest::newRow("two rows") << QStringList{QStringLiteral("FuelTank2@Fuel"), QStringLiteral("bTemperature3@BoilerTemperaturen")}
                                  << QList<double>{600, 1500, 77, 77, 77, 77, 77, 77};
    }

    void okWritesTheRowsIntoTheSlots()
    {
        QFETCH(QStringList, picks);
        QFETCH(QList<double>, maxValues);
        startStation();
        for (int n = 3; n <= 8; ++n)
            chart().setProperty(QByteArray("MaxValue" + QByteArray::number(n)).constData(), 77.0); // only used curves get a range
        dialog().show();
        press("cmdRemoveAll");
        for (const QString& p : picks)
            pick(p.section(QLatin1Char('@'), 1), p.section(QLatin1Char('@'), 0, 0));
        press("cmdOK");
        QVERIFY(!dialog().isLoaded());
        QCOMPARE(slotTexts(false), picks);
        QCOMPARE(slotTexts(true), picks);
        QCOMPARE(legendTexts(), picks);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(chart().slot(i).maxValue, maxValues[i]);
    }

    void okWithASlotWhoseArchiveLacksItsTrend()
    {
        startStation();
        setSlots({QStringLiteral("FuelTank1@Wasser")});
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("archive Wasser has no trend FuelTank1.*range of archive Fuel")));
        dialog().show();
        press("cmdOK");
        QCOMPARE(slotTexts(true), QStringList{QStringLiteral("FuelTank1@Wasser")});
        QCOMPARE(chart().slot(0).maxValue, 600.0);
        QVERIFY(station().endings().isEmpty());
    }

    void cancelLeavesEverySlot_data()
    {
        QTest::addColumn<bool>("byTitleBar");
        QTest::newRow("Abbrechen") << false;
        QTest::newRow("closed from the title bar") << true;
    }

    void cancelLeavesEverySlot()
    {
        QFETCH(bool, byTitleBar);
        startStation();
        dialog().show();
        press("cmdRemoveAll");
        pick(QStringLiteral("Fuel"), QStringLiteral("FuelTank3"));
        if (byTitleBar)
            dialog().widget().close();
        else
            press("cmdAbort");
        QVERIFY(!dialog().isLoaded());
        QCOMPARE(slotTexts(false), storedRows);
        QCOMPARE(chart().slot(0).maxValue, 100.0);
        dialog().show(); // a new opening keeps nothing of the last one
        QCOMPARE(rows(), storedRows);
    }

    void aNameInTwoArchivesOrInTwoCases()
    {
        startStation(variantArchives);
        dialog().show();
        QCOMPARE(rows(), storedRows); // one row per slot, though Wasser lists wTemperature1 too
        QCOMPARE(available(), wasser + QStringList{QStringLiteral("wTemperature1")});
        showArchive(QStringLiteral("WasserTemperaturen"));
        QCOMPARE(available(), QStringList{QStringLiteral("WTemperature1")});

        // Six rows and five available: the top two move, the rest stay.
        showArchive(QStringLiteral("Fuel"));
        press("cmdAddAll");
        showArchive(QStringLiteral("Wasser"));
        press("cmdAddAll");
        QCOMPARE(m_messages, QStringList{msgRest});
        QCOMPARE(rows().mid(6), (QStringList{QStringLiteral("WaterTank@Wasser"), QStringLiteral("WaterTank1@Wasser")}));
        QCOMPARE(available(), (QStringList{QStringLiteral("WaterTank2"), QStringLiteral("WaterTank3"), QStringLiteral("wTemperature1")}));
    }

    void aCatalogueWithoutArchives()
    {
        startStation(noArchives);
        dialog().show();
        QCOMPARE(cboArchives().count(), 0);
        QCOMPARE(rows(), QStringList());
        QCOMPARE(available(), QStringList());
        for (const char* button : {"cmdAdd", "cmdAddAll", "cmdRemove", "cmdRemoveAll"})
            press(button);
        QVERIFY(m_messages.isEmpty());
        press("cmdOK");
        QCOMPARE(slotTexts(true), QStringList());
        QCOMPARE(legendTexts(), QStringList());
    }

    void theLimitMessageIsAPlainBox()
    {
        startStation();
        frmSelection::setMessageSink({}); // the real box
        setSlots(eightRows);
        dialog().show();
        showArchive(QStringLiteral("BoilerTemperaturen"));
        lstAll().setCurrentRow(0);
        QString seen;
        QTimer::singleShot(50, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = QStringLiteral("%1|%2|%3|%4|%5").arg(box->windowTitle(), box->text()).arg(box->icon() == QMessageBox::NoIcon)
                       .arg(box->standardButtons() == QMessageBox::Ok).arg(dialog().isVisible());
            box->button(QMessageBox::Ok)->click();
        });
        press("cmdAdd");
        QCOMPARE(seen, QStringLiteral("Kalvora|%1|1|1|1").arg(msgFull));
    }

    void theCaptionsOfTheLastSwitchOnEveryOpening()
    {
        startStation();
        station().pressAndWait(screenName, 2);
        for (int opening = 0; opening < 2; ++opening) {
            requestFromChart([&] {
                QCOMPARE(dialog().widget().windowTitle(), QStringLiteral("Trend Selection"));
                QCOMPARE(dialog().control<QGroupBox>(QStringLiteral("fraAll")).title(), QStringLiteral("Existing Trends"));
                QCOMPARE(dialog().control<QPushButton>(QStringLiteral("cmdAbort")).text(), QStringLiteral("Cancel"));
                press("cmdOK");
            });
        }
    }

    void theLegendFindsItsChartByName_data()
    {
        QTest::addColumn<QString>("named");
        QTest::addColumn<int>("entries");
        QTest::newRow("a chart") << "chart" << 8;
        QTest::newRow("no such control") << "missing" << 0;
        QTest::newRow("not a chart") << "label" << 0;
    }

    void theLegendFindsItsChartByName()
    {
        QFETCH(QString, named);
        QFETCH(int, entries);
        startStation();
        QWidget window;
        window.resize(1019, 100);
        auto* chart = new QMTrend(station().runtime(), &window);
        chart->setObjectName(QStringLiteral("chart"));
        (new QLabel(&window))->setObjectName(QStringLiteral("label"));
        auto* legend = new QMTrendLegend(station().runtime(), &window);
        legend->setGeometry(0, 0, 1019, 44);
        legend->setTrendcontrol(named);
        const QColor colours[] = {Qt::red, Qt::green, Qt::blue, Qt::cyan, Qt::magenta, Qt::yellow, Qt::darkRed, Qt::darkGreen};
        for (int n = 1; n <= 8; ++n) {
            chart->setProperty(QByteArray("Trend" + QByteArray::number(n)).constData(), QStringLiteral("t%1").arg(n));
            chart->setProperty(QByteArray("curveColor" + QByteArray::number(n)).constData(), colours[n - 1]);
        }
        if (entries == 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("legend stays empty")));
        legend->UpdateLegend();
        QCOMPARE(legend->entries().size(), entries);
        // Two rows of four: each entry's colour shows inside its own cell.
        const QImage picture = legend->grab().toImage();
        for (int i = 0; i < entries; ++i) {
            const QRect cell((i % 4) * 1019 / 4, (i / 4) * 22, 1019 / 4, 22);
            bool found = false;
            for (int y = cell.top(); y <= cell.bottom() && !found; ++y)
                for (int x = cell.left(); x < cell.left() + 40 && !found; ++x)
                    found = picture.pixelColor(x, y) == colours[i];
            QVERIFY2(found, qPrintable(QStringLiteral("entry %1").arg(i + 1)));
        }
    }
};

QTEST_MAIN(TestTrendSelection)
#include "tst_TrendSelection.moc"
