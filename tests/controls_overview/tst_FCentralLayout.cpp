// The plant overview's stored layout, read as XML: every control of the process picture with its class,
// place (the plant table's twips), binding and stored settings; and the pictures it draws on.

#include <QFile>
#include <QHash>
#include <QRect>
#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString P = QStringLiteral("Ch1.Kalvora.");
const QString IDX = QStringLiteral("QMSLanguageLib.QMSIndex");
const QString VOU = QStringLiteral("QuelmirStudioLib.QMSVarOut");
const QString SWT = QStringLiteral("QuelmirStudio2Lib.QMSSwitch");
const QString BAR = QStringLiteral("QuelmirStudioLib.QMSBar");
const QString FLL = QStringLiteral("QuelmirStudioLib.QMSFill");
const QString PBX = QStringLiteral("QuelmirStudioLib.QMSPicBox");
const QString ALN = QStringLiteral("QMSAlarmLib.QMSAlarmLine");
const QString PIC = QStringLiteral("PictureBox");

struct Control {
    QString className;
    QString name;
    QString parent;
    QRect geometry;
    bool hasGeometry = false;
    QHash<QString, QString> values; // property name -> text; colours as "r,g,b"
};

/// Reads every <widget> with its own properties (not those of its children).
QHash<QString, Control> readLayout(const QString& path, QString* error)
{
    QHash<QString, Control> controls;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return controls;
    }
    QXmlStreamReader xml(&file);
    QStringList stack; // names of the open widgets
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == QLatin1String("widget")) {
            Control c;
            c.className = xml.attributes().value(QLatin1String("class")).toString();
            c.name = xml.attributes().value(QLatin1String("name")).toString();
            c.parent = stack.isEmpty() ? QString() : stack.last();
            if (controls.contains(c.name))
                *error = QStringLiteral("control %1 appears twice").arg(c.name);
            controls.insert(c.name, c);
            stack.append(c.name);
        } else if (xml.isEndElement() && xml.name() == QLatin1String("widget")) {
            stack.removeLast();
        } else if (xml.isStartElement() && xml.name() == QLatin1String("property") && !stack.isEmpty()) {
            Control& c = controls[stack.last()];
            const QString property = xml.attributes().value(QLatin1String("name")).toString();
            xml.readNextStartElement();
            const QString kind = xml.name().toString();
            if (kind == QLatin1String("rect") || kind == QLatin1String("color")) {
                QList<int> parts;
                while (xml.readNextStartElement())
                    parts.append(xml.readElementText().toInt());
                if (kind == QLatin1String("rect") && parts.size() == 4) {
                    c.geometry = QRect(parts[0], parts[1], parts[2], parts[3]);
                    c.hasGeometry = true;
                } else if (parts.size() == 3) {
                    c.values.insert(property, QStringLiteral("%1,%2,%3").arg(parts[0]).arg(parts[1]).arg(parts[2]));
                }
            } else {
                c.values.insert(property, xml.readElementText());
            }
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        *error = QStringLiteral("%1 at line %2").arg(xml.errorString()).arg(xml.lineNumber());
    return controls;
}

/// Width, height, bit depth and colour type from a PNG file's header.
struct PngHeader {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colourType = -1;
};

PngHeader readPngHeader(const QString& path)
{
    QFile file(path);
    PngHeader header;
    if (!file.open(QIODevice::ReadOnly))
        return header;
    const QByteArray bytes = file.read(26);
    if (bytes.size() < 26 || !bytes.startsWith("\x89PNG\r\n\x1a\n") || bytes.mid(12, 4) != "IHDR")
        return header;
    const auto be32 = [&](int at) {
        return (uchar(bytes[at]) << 24) | (uchar(bytes[at + 1]) << 16) | (uchar(bytes[at + 2]) << 8) | uchar(bytes[at + 3]);
    };
    header.width = be32(16);
    header.height = be32(20);
    header.bitDepth = uchar(bytes[24]);
    header.colourType = uchar(bytes[25]);
    return header;
}

QString rgb(int r, int g, int b)
{
    return QStringLiteral("%1,%2,%3").arg(r).arg(g).arg(b);
}

} // namespace

class tst_FCentralLayout : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void window();
    void control_data();
    void control();
    void counts();
    void stateTexts_data();
    void stateTexts();
    void panelTexts();
    void levelBars();
    void valueDisplays();
    void switches();
    void pipeSegmentsStayInside();
    void alarmLines();
    void pictures_data();
    void pictures();

private:
    const Control& get(const QString& name) const;
    QHash<QString, Control> m_controls;
};

void tst_FCentralLayout::initTestCase()
{
    QString error;
    m_controls = readLayout(QStringLiteral(KALVORA_FCENTRAL_UI), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(m_controls.contains(QStringLiteral("FCentral")));
}

const Control& tst_FCentralLayout::get(const QString& name) const
{
    static const Control none;
    const auto it = m_controls.constFind(name);
    return it != m_controls.constEnd() ? *it : none;
}

void tst_FCentralLayout::window()
{
    const Control& w = get(QStringLiteral("FCentral"));
    QCOMPARE(w.className, QStringLiteral("QWidget"));
    QCOMPARE(w.geometry, QRect(0, 0, 1024, 768));
    QCOMPARE(w.values.value(QStringLiteral("picture")), QStringLiteral("layouts:pictures/FCentral.png"));

    const Control& bar = get(QStringLiteral("QMButton1"));
    QCOMPARE(bar.className, QStringLiteral("Kalvora.QMButton"));
    QCOMPARE(bar.parent, QStringLiteral("FCentral"));
    QCOMPARE(bar.geometry, QRect(2, 674, 1019, 91));
    QCOMPARE(bar.values.value(QStringLiteral("bagFile")), QStringLiteral("layouts:QMButton.bag"));
    QCOMPARE(bar.values.value(QStringLiteral("tabIndex")), QStringLiteral("15"));

    const Control& timer = get(QStringLiteral("Timer1"));
    QCOMPARE(timer.className, QStringLiteral("Timer"));
    QCOMPARE(timer.values.value(QStringLiteral("interval")), QStringLiteral("25"));
    QCOMPARE(timer.values.value(QStringLiteral("running")), QStringLiteral("false"));

    const Control& language = get(QStringLiteral("qmSprache"));
    QCOMPARE(language.className, QStringLiteral("QM4LanguageLib.QMLanguage"));
    QVERIFY(language.values.isEmpty());

    for (const char* title : {"idxPlantTitle", "idxSimulation"})
        QCOMPARE(get(QString::fromLatin1(title)).values.value(QStringLiteral("typeface")), QStringLiteral("Tahoma, 12pt, bold"));
    QCOMPARE(get(QStringLiteral("idxPlantTitle")).values.value(QStringLiteral("backColor")), rgb(227, 227, 227));
    QCOMPARE(get(QStringLiteral("idxPlantTitle")).values.value(QStringLiteral("foreColor")), rgb(0, 0, 0));
    QCOMPARE(get(QStringLiteral("idxSimulation")).values.value(QStringLiteral("backColor")), rgb(0, 136, 226));
    QCOMPARE(get(QStringLiteral("idxSimulation")).values.value(QStringLiteral("foreColor")), rgb(227, 227, 227));
}

// Every placed control with the plant table's numbers in twips and its binding.
void tst_FCentralLayout::control_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("binding"); // process variable, or "group/key" for a fixed text

    const QString top = QStringLiteral("FCentral");
    const auto row = [](const QString& name, const QString& cls, const QString& parent, QRect twips, const QString& binding) {
        QTest::newRow(qPrintable(name)) << cls << parent << twips << binding;
    };

    row(QStringLiteral("idxPlantTitle"), IDX, top, {30, 30, 5115, 450}, QStringLiteral("Formular-Namen/Anlage"));
    row(QStringLiteral("idxSimulation"), IDX, top, {5145, 30, 10185, 450}, QStringLiteral("Formular-Namen/frmCentral"));
    row(QStringLiteral("swtWaterPump"), SWT, top, {360, 2145, 405, 495}, P + QStringLiteral("WaterPump"));
    row(QStringLiteral("idxWaterPump"), IDX, top, {30, 1080, 1425, 330}, P + QStringLiteral("WaterPump"));
    row(QStringLiteral("fllWaterPump"), FLL, top, {75, 1440, 10185, 555}, P + QStringLiteral("WaterPump"));

    const int valveLeft[] = {2610, 6390, 10170};
    const int valveTextLeft[] = {3015, 6795, 10575};
    const int valveTextTop[] = {2040, 2025, 2040};
    const int in1Left[] = {2205, 5985, 9765};
    const int in1Top[] = {1785, 1800, 1785};
    const int in2Left[] = {2130, 5910, 9690};
    const int in2Top[] = {1905, 1920, 1920};
    const int in3Top[] = {2445, 2460, 2460};
    const int waterBarLeft[] = {1530, 5310, 9090};
    const int pumpLeft[] = {3900, 7680, 11460};
    const int pumpTextLeft[] = {2715, 6495, 10275};
    const int fuelFillLeft[] = {3105, 6870, 10665};
    const int fuelFillTop[] = {3990, 3975, 3960};
    const int fuelBarLeft[] = {3180, 6960, 10740};
    const int burnerLeft[] = {870, 4650, 8430};
    for (int i = 0; i < 3; ++i) {
        const QString u = QString::number(i + 1);
        const QString unit = P + QStringLiteral("Unit") + u + QLatin1Char('.');
        row(QStringLiteral("swtWaterValve") + u, SWT, top, {valveLeft[i], 1920, 375, 570}, unit + QStringLiteral("WaterTank.ValveOn"));
        row(QStringLiteral("idxWaterValve") + u, IDX, top, {valveTextLeft[i], valveTextTop[i], 1500, 330}, unit + QStringLiteral("WaterTank.ValveOn"));
        row(QStringLiteral("fllWaterIn") + u + QLatin1Char('1'), FLL, top, {in1Left[i], in1Top[i], 165, 165}, unit + QStringLiteral("WaterTank.FillOn"));
        row(QStringLiteral("fllWaterIn") + u + QLatin1Char('2'), FLL, top, {in2Left[i], in2Top[i], 240, 555}, unit + QStringLiteral("WaterTank.FillOn"));
        row(QStringLiteral("fllWaterIn") + u + QLatin1Char('3'), FLL, top, {in1Left[i], in3Top[i], 165, 165}, unit + QStringLiteral("WaterTank.FillOn"));
        row(QStringLiteral("barWaterLevel") + u, BAR, top, {waterBarLeft[i], 2880, 990, 750}, unit + QStringLiteral("WaterTank"));
        row(QStringLiteral("swtFuelPump") + u, SWT, top, {pumpLeft[i], 4680, 405, 495}, unit + QStringLiteral("Boiler.FuelTank.PumpOn"));
        row(QStringLiteral("idxFuelPump") + u, IDX, top, {pumpTextLeft[i], 3615, 1830, 330}, unit + QStringLiteral("Boiler.FuelTank.PumpOn"));
        row(QStringLiteral("fllFuelPump") + u, FLL, top, {fuelFillLeft[i], fuelFillTop[i], 915, 1725}, unit + QStringLiteral("Boiler.FuelTank.PumpOn"));
        row(QStringLiteral("barFuelLevel") + u, BAR, top, {fuelBarLeft[i], 5685, 735, 1095}, unit + QStringLiteral("Boiler.FuelTank"));
        row(QStringLiteral("pbxBurner") + u, PBX, top, {burnerLeft[i], 4320, 2295, 2460}, unit + QStringLiteral("Boiler.BurnerOn"));
        row(QStringLiteral("swtBoiler") + u, SWT, QStringLiteral("pbxBurner") + u, {840, 15, 630, 825}, unit + QStringLiteral("Boiler.SwitchOn"));
        row(QStringLiteral("idxBurner") + u, IDX, top, {burnerLeft[i], 6795, 3045, 330}, unit + QStringLiteral("Boiler.BurnerOn"));
    }

    const struct {
        const char* name;
        QRect twips;
        int unit;
    } condensate[] = {
        {"fllCondensation11", {1425, 1695, 375, 915}, 1}, {"fllCondensation12", {1425, 690, 345, 780}, 1},
        {"fllCondensation13", {1320, 690, 12690, 225}, 1}, {"fllCondensation14", {13740, 630, 285, 2640}, 1},
        {"fllCondensation21", {5220, 1725, 285, 900}, 2}, {"fllCondensation22", {5250, 960, 345, 495}, 2},
        {"fllCondensation23", {5100, 990, 8625, 195}, 2}, {"fllCondensation24", {13485, 930, 285, 2340}, 2},
        {"fllCondensation31", {9000, 1710, 345, 900}, 3}, {"fllCondensation32", {8850, 1200, 4620, 300}, 3},
        {"fllCondensation33", {13230, 1245, 285, 2025}, 3},
    };
    for (const auto& c : condensate)
        row(QString::fromLatin1(c.name), FLL, top, c.twips, P + QStringLiteral("Unit%1.Kondensation").arg(c.unit));

    row(QStringLiteral("barWaterLevel"), BAR, top, {12735, 3435, 1680, 1470}, P + QStringLiteral("Storage.WaterTank"));
    row(QStringLiteral("swtWaterValve"), SWT, top, {13890, 6000, 375, 570}, P + QStringLiteral("Storage.Valve.Manual"));
    row(QStringLiteral("idxWaterValve"), IDX, top, {13800, 6795, 1500, 330}, P + QStringLiteral("Storage.Valve.Manual"));
    row(QStringLiteral("fllWaterOut"), FLL, top, {13395, 6690, 2070, 765}, QString());

    const int panelLeft[] = {225, 4020, 7815, 11610};
    for (int i = 0; i < 4; ++i)
        row(QStringLiteral("picContainer%1").arg(i + 1), PIC, top, {panelLeft[i], 7470, 3510, 2205}, QString());
    const int rowTop[] = {555, 960, 1365, 1770};
    const char* what[] = {"WaterLevel", "WaterTemp", "FuelLevel", "BoilerTemp"};
    const char* labelKey[] = {"WasserSta", "Wasser Temp", "TreibstoffSta", "Boiler Temp"};
    const char* variable[] = {"WaterTank", "WaterTank.Temperature", "Boiler.FuelTank", "Boiler.Temperature"};
    for (int i = 0; i < 3; ++i) {
        const QString u = QString::number(i + 1);
        const QString panel = QStringLiteral("picContainer") + u;
        row(QStringLiteral("idxUnit") + u, IDX, panel, {90, 75, 3300, 405}, QStringLiteral("Indextexte/Einheit") + u);
        for (int r = 0; r < 4; ++r) {
            row(QStringLiteral("idx%1%2").arg(QLatin1String(what[r]), u), IDX, panel, {90, rowTop[r], 1845, 330},
                QStringLiteral("Indextexte/") + QLatin1String(labelKey[r]));
            row(QStringLiteral("vou%1%2").arg(QLatin1String(what[r]), u), VOU, panel, {2010, rowTop[r], 1365, 330},
                P + QStringLiteral("Unit%1.%2").arg(u, QLatin1String(variable[r])));
        }
    }
    const QString storage = QStringLiteral("picContainer4");
    row(QStringLiteral("idxGeneral"), IDX, storage, {90, 75, 3300, 405}, QStringLiteral("Indextexte/Allgemein"));
    row(QStringLiteral("idxWaterLevel"), IDX, storage, {90, 555, 2340, 330}, QStringLiteral("Indextexte/Wasserstand"));
    row(QStringLiteral("vouWaterLevel"), VOU, storage, {2505, 555, 870, 330}, P + QStringLiteral("Storage.WaterTank"));
    const int condensateTop[] = {960, 1365, 1770};
    const int condensateValueTop[] = {945, 1365, 1770};
    for (int i = 0; i < 3; ++i) {
        const QString u = QString::number(i + 1);
        row(QStringLiteral("idxCondensation") + u, IDX, storage, {90, condensateTop[i], 2340, 330}, QStringLiteral("Indextexte/Konden") + u);
        row(QStringLiteral("vouCondensation") + u, VOU, storage, {2505, condensateValueTop[i], 870, 330},
            P + QStringLiteral("Unit%1.Kondensation").arg(u));
    }

    row(QStringLiteral("alnPriority1"), ALN, top, {225, 9720, 7305, 330}, QString());
    row(QStringLiteral("alnPriority2"), ALN, top, {7815, 9720, 7305, 330}, QString());
}

void tst_FCentralLayout::control()
{
    QFETCH(QString, className);
    QFETCH(QString, parent);
    QFETCH(QRect, twips);
    QFETCH(QString, binding);

    const QString name = QString::fromLatin1(QTest::currentDataTag());
    QVERIFY2(m_controls.contains(name), "missing from the layout");
    const Control& c = get(name);
    QCOMPARE(c.className, className);
    QCOMPARE(c.parent, parent);
    QVERIFY(c.hasGeometry);
    QCOMPARE(QRect(c.geometry.x() * 15, c.geometry.y() * 15, c.geometry.width() * 15, c.geometry.height() * 15), twips);
    if (binding.contains(QLatin1Char('/'))) {
        QCOMPARE(c.values.value(QStringLiteral("textGroup")) + QLatin1Char('/') + c.values.value(QStringLiteral("textKey")), binding);
        QVERIFY(!c.values.contains(QStringLiteral("processVariable")));
    } else {
        QCOMPARE(c.values.value(QStringLiteral("processVariable")), binding);
    }
}

void tst_FCentralLayout::counts()
{
    QHash<QString, int> perClass;
    for (const Control& c : std::as_const(m_controls))
        ++perClass[c.className];
    QCOMPARE(perClass.value(IDX), 33);
    QCOMPARE(perClass.value(VOU), 16);
    QCOMPARE(perClass.value(BAR), 7);
    QCOMPARE(perClass.value(FLL), 25);
    QCOMPARE(perClass.value(SWT), 11);
    QCOMPARE(perClass.value(PBX), 3);
    QCOMPARE(perClass.value(ALN), 2);
    QCOMPARE(perClass.value(PIC), 4);
}

void tst_FCentralLayout::stateTexts_data()
{
    QTest::addColumn<QString>("onKey");
    QTest::addColumn<QString>("offKey");

    QTest::newRow("idxWaterPump") << QStringLiteral("An") << QStringLiteral("Aus");
    for (int u = 1; u <= 3; ++u) {
        QTest::newRow(qPrintable(QStringLiteral("idxWaterValve%1").arg(u))) << QStringLiteral("Ventil An") << QStringLiteral("Ventil Aus");
        QTest::newRow(qPrintable(QStringLiteral("idxFuelPump%1").arg(u))) << QStringLiteral("Pumpe An") << QStringLiteral("Pumpe Aus");
        QTest::newRow(qPrintable(QStringLiteral("idxBurner%1").arg(u))) << QStringLiteral("Kessel An") << QStringLiteral("Kessel Aus");
    }
    QTest::newRow("idxWaterValve") << QStringLiteral("Ventil An") << QStringLiteral("Ventil Aus");
}

void tst_FCentralLayout::stateTexts()
{
    QFETCH(QString, onKey);
    QFETCH(QString, offKey);
    const Control& c = get(QString::fromLatin1(QTest::currentDataTag()));
    QCOMPARE(c.values.value(QStringLiteral("textGroup")), QStringLiteral("Indextexte"));
    QCOMPARE(c.values.value(QStringLiteral("onKey")), onKey);
    QCOMPARE(c.values.value(QStringLiteral("offKey")), offKey);
    QVERIFY(!c.values.contains(QStringLiteral("textKey")));
    QCOMPARE(c.values.value(QStringLiteral("typeface")), QStringLiteral("Tahoma, 8.25pt, bold"));
}

void tst_FCentralLayout::panelTexts()
{
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(get(QStringLiteral("picContainer%1").arg(i)).values.value(QStringLiteral("backColor")), rgb(177, 177, 177));
    for (const Control& c : std::as_const(m_controls)) {
        if (c.className != IDX || !c.parent.startsWith(QLatin1String("picContainer")))
            continue;
        const bool heading = c.name.startsWith(QLatin1String("idxUnit")) || c.name == QLatin1String("idxGeneral");
        QCOMPARE(c.values.value(QStringLiteral("typeface")),
                 heading ? QStringLiteral("Tahoma, 9.75pt, bold") : QStringLiteral("Tahoma, 8.25pt, bold"));
    }
}

void tst_FCentralLayout::levelBars()
{
    for (const Control& c : std::as_const(m_controls)) {
        if (c.className != BAR)
            continue;
        const bool fuel = c.name.startsWith(QLatin1String("barFuelLevel"));
        const bool storage = c.name == QLatin1String("barWaterLevel");
        QCOMPARE(c.values.value(QStringLiteral("scaleMax")).toDouble(), fuel ? 500.0 : storage ? 50000.0 : 10000.0);
        QCOMPARE(c.values.value(QStringLiteral("barColor")), fuel ? rgb(0, 0, 128) : rgb(0, 136, 226));
        QCOMPARE(c.values.value(QStringLiteral("marks")), QStringLiteral("20;40;60;80"));
    }
}

void tst_FCentralLayout::valueDisplays()
{
    for (const Control& c : std::as_const(m_controls)) {
        if (c.className != VOU)
            continue;
        const QString variable = c.values.value(QStringLiteral("processVariable"));
        const QString unit = variable.endsWith(QLatin1String("Temperature")) ? QStringLiteral("°C")
            : variable.endsWith(QLatin1String("Kondensation"))               ? QString()
                                                                             : QStringLiteral("l");
        QCOMPARE(c.values.value(QStringLiteral("unitText")), unit);
        // One decimal wherever the value is not a count of litres.
        QCOMPARE(c.values.value(QStringLiteral("decimals")), unit == QLatin1String("l") ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(c.values.value(QStringLiteral("typeface")), QStringLiteral("Tahoma, 8.25pt, bold"));
        QCOMPARE(c.geometry.width(), c.parent == QLatin1String("picContainer4") ? 58 : 91);
    }
}

void tst_FCentralLayout::switches()
{
    QList<int> order;
    for (const Control& c : std::as_const(m_controls)) {
        if (c.className != SWT)
            continue;
        QCOMPARE(c.values.value(QStringLiteral("valueText")), QStringLiteral("-1"));
        QCOMPARE(c.values.value(QStringLiteral("typeface")), QStringLiteral("MS Sans Serif, 8.25pt"));
        bool ok = false;
        const int index = c.values.value(QStringLiteral("tabIndex")).toInt(&ok);
        QVERIFY2(ok, qPrintable(c.name));
        QVERIFY2(index < 15, "every switch comes before the bar");
        QVERIFY2(!order.contains(index), qPrintable(c.name));
        order.append(index);
    }
    QCOMPARE(order.size(), 11);
}

void tst_FCentralLayout::pipeSegmentsStayInside()
{
    // A flow path point outside its segment would draw nothing there and leave a grey gap in a flowing pipe.
    static const QRegularExpression separators(QStringLiteral("[\\s;]+"));
    for (const Control& c : std::as_const(m_controls)) {
        if (c.className != FLL)
            continue;
        const QStringList points = c.values.value(QStringLiteral("flowPath")).split(separators, Qt::SkipEmptyParts);
        QVERIFY2(points.size() >= 2, qPrintable(c.name));
        for (const QString& point : points) {
            const QStringList xy = point.split(QLatin1Char(','));
            QCOMPARE(xy.size(), 2);
            bool okX = false;
            bool okY = false;
            const double x = xy[0].toDouble(&okX);
            const double y = xy[1].toDouble(&okY);
            QVERIFY2(okX && okY, qPrintable(c.name + QLatin1Char(' ') + point));
            QVERIFY2(x >= 0 && x <= c.geometry.width() && y >= 0 && y <= c.geometry.height(), qPrintable(c.name + QLatin1Char(' ') + point));
        }
        const int pipe = c.values.value(QStringLiteral("pipeWidth")).toInt();
        QVERIFY2(pipe > 0 && pipe <= qMin(c.geometry.width(), c.geometry.height()), qPrintable(c.name));
    }
}

void tst_FCentralLayout::alarmLines()
{
    for (const char* name : {"alnPriority1", "alnPriority2"}) {
        const Control& c = get(QString::fromLatin1(name));
        const bool first = name[11] == '1';
        QCOMPARE(c.values.value(QStringLiteral("alarmGroup")), first ? QStringLiteral("FCentralAlarms1") : QStringLiteral("FCentralAlarms2"));
        QCOMPARE(c.values.value(QStringLiteral("columnCode")), QStringLiteral("TX"));
        QCOMPARE(c.values.value(QStringLiteral("dateFormat")), QStringLiteral("%02D.%02O.%02Y"));
        QCOMPARE(c.values.value(QStringLiteral("timeFormat")), QStringLiteral("%02T:%02I:%02S"));
        QCOMPARE(c.values.value(QStringLiteral("caption")), QStringLiteral("Alarm"));
        QCOMPARE(c.values.value(QStringLiteral("blinkUnacknowledged")), first ? QStringLiteral("true") : QStringLiteral("false"));
        QCOMPARE(c.values.value(QStringLiteral("typeface")), QStringLiteral("Tahoma, 8.25pt, bold"));
    }
}

void tst_FCentralLayout::pictures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QSize>("size");

    QTest::newRow("process picture") << QStringLiteral("FCentral.png") << QSize(1024, 768);
    QTest::newRow("burner with flame") << QStringLiteral("burner_on.png") << QSize(154, 164);
    QTest::newRow("burner without flame") << QStringLiteral("burner_off.png") << QSize(153, 164);
}

void tst_FCentralLayout::pictures()
{
    QFETCH(QString, file);
    QFETCH(QSize, size);
    const PngHeader header = readPngHeader(QStringLiteral(KALVORA_SOURCE_LAYOUTS "/pictures/") + file);
    QCOMPARE(QSize(header.width, header.height), size);
    QCOMPARE(header.bitDepth, 8);
    QCOMPARE(header.colourType, 2); // truecolour without alpha: 24 bits a pixel
    QVERIFY(QFile::exists(QStringLiteral(KALVORA_SOURCE_LAYOUTS "/art/") + file.chopped(4) + QStringLiteral(".svg")));

    for (int u = 1; u <= 3; ++u) {
        const Control& burner = get(QStringLiteral("pbxBurner%1").arg(u));
        QCOMPARE(burner.values.value(QStringLiteral("pictureOn")), QStringLiteral("layouts:pictures/burner_on.png"));
        QCOMPARE(burner.values.value(QStringLiteral("pictureOff")), QStringLiteral("layouts:pictures/burner_off.png"));
    }
}

QTEST_MAIN(tst_FCentralLayout)
#include "tst_FCentralLayout.moc"
