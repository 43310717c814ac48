#include "EngineTestSupport.h"
#include "FileKinds.h"
#include "ProjectLoader.h"

#include <QDirIterator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace {

using TextId = std::pair<QString, QString>;

/// Every (group, key) a layout asks for: each widget's textGroup with its textKey, onKey and offKey.
QList<TextId> layoutTextKeys(const QString& layoutFile, QStringList& problems)
{
    QList<TextId> ids;
    QFile file(layoutFile);
    if (!file.open(QIODevice::ReadOnly)) {
        problems.append(layoutFile + QStringLiteral(": cannot read"));
        return ids;
    }
    QXmlStreamReader xml(&file);
    struct Widget {
        QString name;
        QHash<QString, QString> properties;
    };
    QList<Widget> stack;
    QString property;
    const auto close = [&](const Widget& w) {
        const QString group = w.properties.value(QStringLiteral("textGroup"));
        for (const char* k : {"textKey", "onKey", "offKey"}) {
            const QString key = w.properties.value(QLatin1String(k));
            if (key.isEmpty())
                continue;
            if (group.isEmpty())
                problems.append(QStringLiteral("%1: %2 has %3 \"%4\" but no textGroup").arg(QFileInfo(layoutFile).fileName(), w.name, QLatin1String(k), key));
            else
                ids.append({group, key});
        }
    };
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            if (xml.name() == QLatin1String("widget"))
                stack.append({xml.attributes().value(QLatin1String("name")).toString(), {}});
            else if (xml.name() == QLatin1String("property") && !stack.isEmpty())
                property = xml.attributes().value(QLatin1String("name")).toString();
            else if (xml.name() == QLatin1String("string") && !property.isEmpty() && !stack.isEmpty())
                stack.last().properties.insert(property, xml.readElementText());
        } else if (xml.isEndElement()) {
            if (xml.name() == QLatin1String("widget") && !stack.isEmpty())
                close(stack.takeLast());
            else if (xml.name() == QLatin1String("property"))
                property.clear();
        }
    }
    if (xml.hasError())
        problems.append(QStringLiteral("%1, line %2: %3").arg(layoutFile).arg(xml.lineNumber()).arg(xml.errorString()));
    return ids;
}

/// The keys the screens name outside the layouts' label properties: the bar captions and every text
/// of the screens' title strips, panels, legends and keys.
QList<TextId> namedKeys()
{
    QList<TextId> ids;
    const QString forms = QStringLiteral("Formular-Namen");
    const QString index = QStringLiteral("Indextexte");
    for (int i = 1; i <= 12; ++i)
        ids.append({forms, QString::number(i)});
    for (const char* k : {"Anlage", "frmCentral", "Alarme", "frmTrends", "frmTrendSelection"})
        ids.append({forms, QLatin1String(k)});
    for (const char* k : {"An", "Aus", "Ventil An", "Ventil Aus", "Pumpe An", "Pumpe Aus", "Kessel An", "Kessel Aus", "Einheit1", "Einheit2",
             "Einheit3", "WasserSta", "Wasser Temp", "TreibstoffSta", "Boiler Temp", "Allgemein", "Wasserstand", "Konden1", "Konden2",
             "Konden3", "Alarm1", "Alarm2", "Quittieren", "Wasserstände", "Treibstoffstände", "Temperatur(Wasser)", "Temperatur(Boiler)",
             "NichtGebraucht", "ButtonOff", "ButtonOn", "Tag", "Monat", "Jahr", "Stunde", "Minute"})
        ids.append({index, QString::fromUtf8(k)});
    for (int n = 1; n <= 3; ++n)
        for (const char* k : {"WasserstandTank", "TreibstoffstandTank", "WassertemperaturTank", "TemperaturBoiler"})
            ids.append({index, QLatin1String(k) + QString::number(n)});
    return ids;
}

} // namespace

class tst_ProjectLoader : public QObject {
    Q_OBJECT

private slots:
    void shippedProjectLoads();
    void everyUsedTextExistsInBothLanguages();
    void everyHelpTopicHasBothFiles();
    void faultsNameFileAndPlace_data();
    void faultsNameFileAndPlace();
    void missingFolderIsNamed();
    void projectNamesNameAFolderInside_data();
    void projectNamesNameAFolderInside();
    void aPathAsProjectNameIsNotFollowed();
    void missingHelpFilesAreNamed();

private:
    static Project shipped()
    {
        const ProjectLoadResult loaded = ProjectLoader::load(QStringLiteral(KALVORA_SOURCE_PROJECT));
        if (!loaded.ok())
            qFatal("%s", qPrintable(loaded.error));
        return loaded.project;
    }
};

void tst_ProjectLoader::shippedProjectLoads()
{
    const ProjectLoadResult loaded = ProjectLoader::load(QStringLiteral(KALVORA_SOURCE_PROJECT));
    QVERIFY2(loaded.ok(), qPrintable(loaded.error));
    const Project& p = loaded.project;
    QCOMPARE(p.name, QStringLiteral("Kalvora"));
    QCOMPARE(p.variables.size(), 35); // the plant's 33 and the runtime's communication and archive status
    QCOMPARE(p.languages, (QList<int>{1031, 1033}));

    // Archives and trends exactly as the charts name them, with the ranges the charts use.
    QStringList layout;
    for (const ArchiveDefinition& a : p.archive.archives) {
        QStringList trends;
        for (const TrendDefinition& t : a.trends)
            trends.append(QStringLiteral("%1 %2").arg(t.name).arg(t.rangeMax));
        layout.append(a.name + QStringLiteral(": ") + trends.join(QStringLiteral(", ")));
    }
    QCOMPARE(layout, (QStringList{
                         QStringLiteral("Wasser: WaterTank 60000, WaterTank1 12000, WaterTank2 12000, WaterTank3 12000"),
                         QStringLiteral("Fuel: FuelTank1 600, FuelTank2 600, FuelTank3 600"),
                         QStringLiteral("WasserTemperaturen: wTemperature1 120, wTemperature2 120, wTemperature3 120"),
                         QStringLiteral("BoilerTemperaturen: bTemperature1 1500, bTemperature2 1500, bTemperature3 1500"),
                     }));
    QCOMPARE(p.archive.archives.at(0).trends.at(0).variable, QStringLiteral("Ch1.Kalvora.Storage.WaterTank"));
    QCOMPARE(p.archive.archives.at(3).trends.at(2).variable, QStringLiteral("Ch1.Kalvora.Unit3.Boiler.Temperature"));

    QCOMPARE(p.alarmGroups.size(), 2);
    QCOMPARE(p.alarmGroups.at(0).name, QStringLiteral("FCentralAlarms1"));
    QCOMPARE(p.alarmGroups.at(0).priority, 1);
    QCOMPARE(p.alarmGroups.at(1).name, QStringLiteral("FCentralAlarms2"));
    QCOMPARE(p.alarmGroups.at(1).priority, 2);
    for (const AlarmDefinition& a : p.alarms)
        QVERIFY2(a.deadband > 0 || a.delayMs > 0, qPrintable(a.id + QStringLiteral(" would chatter")));
}

void tst_ProjectLoader::everyUsedTextExistsInBothLanguages()
{
    const Project p = shipped();
    QSet<QString> defined;
    for (const TextEntry& t : p.texts)
        defined.insert(QStringLiteral("%1|%2|%3").arg(t.languageId).arg(t.group, t.key));

    QStringList problems;
    QList<TextId> wanted = namedKeys();
    QDirIterator layouts(QStringLiteral(KALVORA_SOURCE_LAYOUTS), {QStringLiteral("*.ui")}, QDir::Files);
    int layoutCount = 0;
    while (layouts.hasNext()) {
        wanted += layoutTextKeys(layouts.next(), problems);
        ++layoutCount;
    }
    for (const TextId& id : std::as_const(wanted))
        for (int language : {1031, 1033})
            if (!defined.contains(QStringLiteral("%1|%2|%3").arg(language).arg(id.first, id.second)))
                problems.append(QStringLiteral("language %1, group \"%2\", key \"%3\" is missing").arg(language).arg(id.first, id.second));
    problems.removeDuplicates();
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    qInfo("checked %lld text uses from %d layouts", static_cast<long long>(wanted.size()), layoutCount);
}

void tst_ProjectLoader::everyHelpTopicHasBothFiles()
{
    QSet<QString> topics{QStringLiteral("start")};
    for (const AlarmDefinition& a : shipped().alarms)
        topics.insert(a.helpTopic);
    QStringList problems;
    for (const QString& topic : std::as_const(topics)) {
        for (const char* suffix : {"de.rtf", "eng.rtf"}) {
            const QString path = QDir(QStringLiteral(KALVORA_SOURCE_HTML)).filePath(topic + QLatin1String(suffix));
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                problems.append(path + QStringLiteral(": missing"));
                continue;
            }
            const QByteArray rtf = file.readAll();
            int depth = 0;
            bool balanced = true;
            for (qsizetype i = 0; i < rtf.size(); ++i) {
                if (rtf.at(i) == '\\') {
                    ++i; // an escaped brace does not count
                    continue;
                }
                depth += rtf.at(i) == '{' ? 1 : rtf.at(i) == '}' ? -1 : 0;
                balanced = balanced && (depth > 0 || i == rtf.size() - 1 || rtf.mid(i + 1).trimmed().isEmpty());
            }
            if (!rtf.startsWith("{\\rtf1") || depth != 0 || !balanced)
                problems.append(path + QStringLiteral(": not a well-formed RTF document"));
        }
    }
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
}

void tst_ProjectLoader::faultsNameFileAndPlace_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("from"); // empty: the whole file becomes a file of the kind `to` (replaceWithKind)
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QStringList>("expected");

    const auto row = [](const char* name, const char* file, const char* from, const char* to, QStringList expected) {
        QTest::newRow(name) << QString::fromLatin1(file) << QByteArray(from) << QByteArray(to) << expected;
    };
    row("json syntax", "variables.json", "\"type\": \"bool\", \"writable\": true,", "\"type\": \"bool\" \"writable\": true,",
        {QStringLiteral("variables.json, line 3, column 59: ")});
    row("unknown type", "variables.json", "\"Ch1.Kalvora.Storage.WaterTank\", \"type\": \"double\"", "\"Ch1.Kalvora.Storage.WaterTank\", \"type\": \"float\"",
        {QStringLiteral("variables.json, field variables[1] \"Ch1.Kalvora.Storage.WaterTank\".type"), QStringLiteral("unknown type \"float\"")});
    row("max below min", "variables.json", "\"min\": 0, \"max\": 50000", "\"min\": 0, \"max\": -5",
        {QStringLiteral("variables[1]"), QStringLiteral(".max: must be above min")});
    row("variable twice", "variables.json", "Ch1.Kalvora.Unit1.WaterTank.FillOn", "Ch1.Kalvora.Unit1.WaterTank.ValveOn",
        {QStringLiteral("variables.json"), QStringLiteral("variable named twice")});
    row("driven variable missing", "variables.json", "Ch1.Kalvora.Unit2.Boiler.SwitchOn", "Ch1.Kalvora.Unit2.Boiler.SwitchedOn",
        {QStringLiteral("simulation.json, field units[1] \"Unit2\""), QStringLiteral("\"Ch1.Kalvora.Unit2.Boiler.SwitchOn\""), QStringLiteral("does not declare")});
    row("switch read-only", "variables.json", "\"Ch1.Kalvora.WaterPump\", \"type\": \"bool\", \"writable\": true", "\"Ch1.Kalvora.WaterPump\", \"type\": \"bool\"",
        {QStringLiteral("simulation.json"), QStringLiteral("must be writable")});
    row("computed writable", "variables.json", "\"Ch1.Kalvora.Unit1.Boiler.BurnerOn\", \"type\": \"bool\"", "\"Ch1.Kalvora.Unit1.Boiler.BurnerOn\", \"type\": \"bool\", \"writable\": true",
        {QStringLiteral("simulation.json"), QStringLiteral("must be read-only")});
    row("water beyond capacity", "simulation.json", "\"storageWater\": 30000", "\"storageWater\": 45000",
        {QStringLiteral("simulation.json, field initial.storageWater"), QStringLiteral("exceeds the storage capacity")});
    row("negative flow", "simulation.json", "\"fillFlow\": 8", "\"fillFlow\": -8",
        {QStringLiteral("simulation.json, field unit.fillFlow"), QStringLiteral("outside")});
    row("thermostat above boiling", "simulation.json", "\"setPoint\": 75", "\"setPoint\": 175",
        {QStringLiteral("simulation.json, field units[0] \"Unit1\".setPoint"), QStringLiteral("outside")});
    row("alarm on unknown variable", "alarms.json", "Ch1.Kalvora.Unit1.Boiler.Temperature", "Ch1.Kalvora.Unit1.Boiler.Temp",
        {QStringLiteral("alarms.json, field alarms[0] \"Unit1.BoilerOverheat\".variable"), QStringLiteral("no process variable")});
    row("alarm in unknown group", "alarms.json", "\"group\": \"FCentralAlarms1\"", "\"group\": \"FCentralAlarms9\"",
        {QStringLiteral("alarms[0]"), QStringLiteral(".group: no alarm group \"FCentralAlarms9\"")});
    row("on/off alarm on a number", "alarms.json", "\"Ch1.Kalvora.WaterPump\", \"condition\": \"off\"", "\"Ch1.Kalvora.Storage.WaterTank\", \"condition\": \"off\"",
        {QStringLiteral("\"WaterPump.Off\".condition"), QStringLiteral("needs a bool variable")});
    row("help topic leaves html", "alarms.json", "\"help\": \"boileroverheat\"", "\"help\": \"../boileroverheat\"",
        {QStringLiteral("alarms.json"), QStringLiteral(".help: a help topic is a file base name")});
    row("alarm text missing", "alarms.json", "\"text\": \"AlarmKessel1Uebertemperatur\"", "\"text\": \"AlarmKessel1Heiss\"",
        {QStringLiteral("texts.tsv"), QStringLiteral("alarm \"Unit1.BoilerOverheat\""), QStringLiteral("key \"AlarmKessel1Heiss\"")});
    row("trend range upside down", "archives.json", "\"min\": 0, \"max\": 600}", "\"min\": 600, \"max\": 0}",
        {QStringLiteral("archives.json, field archives[1] \"Fuel\".trends[0] \"FuelTank1\".max"), QStringLiteral("must be above min")});
    row("trend of unknown variable", "archives.json", "Ch1.Kalvora.Unit2.WaterTank.Temperature", "Ch1.Kalvora.Unit2.Water.Temperature",
        {QStringLiteral("archives.json"), QStringLiteral("\"wTemperature2\".variable: no process variable")});
    row("text line short of a field", "texts.tsv", "Indextexte\tTag\tTag\tDay", "Indextexte\tTag\tTag",
        {QStringLiteral("texts.tsv, line"), QStringLiteral("expected 4 fields")});
    row("text defined twice", "texts.tsv", "Indextexte\tMonat\t", "Indextexte\tTag\t",
        {QStringLiteral("texts.tsv, line"), QStringLiteral("key \"Tag\" is already defined on line")});
    row("newer project format", "project.json", "\"format\": 1", "\"format\": 2",
        {QStringLiteral("project.json, field format"), QStringLiteral("reads project format 1")});
    // A misspelt field would otherwise fall back to its default without a word.
    row("misspelt field", "variables.json", "\"writable\": true", "\"writabel\": true",
        {QStringLiteral("variables.json, field variables[0] \"Ch1.Kalvora.WaterPump\".writabel: unknown field")});
    row("unknown field of a setting", "simulation.json", "\"fillFlow\": 8,", "\"fillFlow\": 8, \"filFlow\": 9,",
        {QStringLiteral("simulation.json, field unit.filFlow: unknown field"), QStringLiteral("fillFlow")});
    row("unknown top-level field", "project.json", "\"format\": 1,", "\"format\": 1, \"nmae\": \"x\",",
        {QStringLiteral("project.json, field nmae: unknown field")});
    row("misspelt optional field", "alarms.json", "\"delaySeconds\": 3,", "\"delaySecond\": 3,",
        {QStringLiteral("alarms.json, field alarms[0] \"Unit1.BoilerOverheat\".delaySecond: unknown field")});
    row("unknown field of a trend", "archives.json", "\"min\": 0, \"max\": 600}", "\"min\": 0, \"max\": 600, \"colour\": 1}",
        {QStringLiteral("\"FuelTank1\".colour: unknown field")});
    // The toolkit's reader keeps one of two equal keys silently.
    row("key twice", "alarms.json", "\"limit\": 1100, \"deadband\": 50,", "\"limit\": 1100, \"limit\": 900, \"deadband\": 50,",
        {QStringLiteral("alarms.json, line 7, column "), QStringLiteral("\"limit\" is given twice in one object (first on line 7)")});
    row("top-level key twice", "archives.json", "\"deleteBatch\": 1000,", "\"deleteBatch\": 1000,\n    \"retentionDays\": 1,",
        {QStringLiteral("archives.json, line 4, column 5: the field \"retentionDays\" is given twice"), QStringLiteral("(first on line 2)")});
    row("key twice, once escaped", "archives.json", "\"deleteBatch\": 1000,", "\"deleteBatch\": 1000, \"delete\\u0042atch\": 5,",
        {QStringLiteral("archives.json, line 3"), QStringLiteral("\"deleteBatch\" is given twice")});
    row("fractional milliseconds", "simulation.json", "\"tickMilliseconds\": 1000", "\"tickMilliseconds\": 1000.5",
        {QStringLiteral("simulation.json, field tickMilliseconds: 1000.5 is not a whole number")});
    row("fractional priority", "alarms.json", "\"priority\": 1,", "\"priority\": 1.5,",
        {QStringLiteral("alarms.json, field groups[0] \"FCentralAlarms1\".priority: 1.5 is not a whole number")});
    row("int variable beyond 64 bits", "variables.json", "\"type\": \"double\", \"unit\": \"l\", \"min\": 0, \"max\": 50000",
        "\"type\": \"int\", \"unit\": \"l\", \"min\": 0, \"max\": 1e20",
        {QStringLiteral("variables.json, field variables[1] \"Ch1.Kalvora.Storage.WaterTank\".max"), QStringLiteral("outside")});
    row("text not UTF-8", "texts.tsv", "Indextexte\tTag\tTag\tDay", "Indextexte\tTag\tT\xe4g\tDay",
        {QStringLiteral("texts.tsv, line 63: the line is not valid UTF-8 text")});
    // Files that are not what their name says are refused before they are read.
    row("FIFO", "variables.json", "", "fifo", {QStringLiteral("variables.json: not a regular file but a FIFO")});
    row("link to /dev/zero", "texts.tsv", "", "link to /dev/zero", {QStringLiteral("texts.tsv: not a regular file but a character device")});
    row("folder", "project.json", "", "folder", {QStringLiteral("project.json: not a regular file but a folder")});
    row("oversized", "alarms.json", "", "oversized:52428800", {QStringLiteral("alarms.json: the file is 52428800 bytes, more than the 8388608 bytes")});
    row("unknown history store", "project.json", "\"format\": 1,", "\"format\": 1, \"history\": {\"store\": \"mysql\"},",
        {QStringLiteral("project.json, field history.store"), QStringLiteral("expected one of sqlite, postgresql")});
    row("unknown history field", "project.json", "\"format\": 1,", "\"format\": 1, \"history\": {\"store\": \"postgresql\", \"conection\": \"x\"},",
        {QStringLiteral("project.json, field history"), QStringLiteral("conection")});
    row("server without connection", "project.json", "\"format\": 1,", "\"format\": 1, \"history\": {\"store\": \"postgresql\"},",
        {QStringLiteral("project.json, field history.connection"), QStringLiteral("missing")});
    row("empty connection", "project.json", "\"format\": 1,", "\"format\": 1, \"history\": {\"store\": \"postgresql\", \"connection\": \" \"},",
        {QStringLiteral("project.json, field history.connection: empty")});
    row("connection for files", "project.json", "\"format\": 1,", "\"format\": 1, \"history\": {\"store\": \"sqlite\", \"connection\": \"host=x\"},",
        {QStringLiteral("project.json, field history.connection: only a database server")});
    QTest::newRow("NUL in a text") << QStringLiteral("texts.tsv") << QByteArray("Indextexte\tTag\tTag\tDay")
                                   << QByteArray("Indextexte\tTag\tT\0g\tDay", 22)
                                   << QStringList{QStringLiteral("texts.tsv, line 63: the line holds a NUL byte (column 17)")};
}

void tst_ProjectLoader::faultsNameFileAndPlace()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    const QString folder = QDir(copyProject(dir.path())).filePath(QStringLiteral("Kalvora"));
    const QString path = QDir(folder).filePath(file);
    if (from.isEmpty())
        QVERIFY(replaceWithKind(path, QString::fromLatin1(to)));
    else
        QVERIFY2(replaceInFile(path, from, to), "the project no longer holds the text this case edits");
    const ReadWatchdog watchdog(path);
    const ProjectLoadResult loaded = ProjectLoader::load(folder);
    QVERIFY(!loaded.ok());
    for (const QString& part : expected)
        QVERIFY2(loaded.error.contains(part), qPrintable(QStringLiteral("\"%1\" lacks \"%2\"").arg(loaded.error, part)));
}

void tst_ProjectLoader::missingFolderIsNamed()
{
    QTemporaryDir dir;
    const QString folder = QDir(dir.path()).filePath(QStringLiteral("Kalvora"));
    ProjectLoadResult loaded = ProjectLoader::load(folder);
    QVERIFY(loaded.error.contains(QDir::toNativeSeparators(folder)));

    QDir().mkpath(folder);
    loaded = ProjectLoader::load(folder);
    QVERIFY2(loaded.error.contains(QStringLiteral("project.json: the file is missing")), qPrintable(loaded.error));
}

void tst_ProjectLoader::projectNamesNameAFolderInside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("good");
    QTest::newRow("the project") << QStringLiteral("Kalvora") << true;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("blank") << QStringLiteral("  ") << false;
    QTest::newRow("blank after") << QStringLiteral("Kalvora ") << false;
    QTest::newRow("this folder") << QStringLiteral(".") << false;
    QTest::newRow("the parent") << QStringLiteral("..") << false;
    QTest::newRow("way out") << QStringLiteral("../../../../etc") << false;
    QTest::newRow("subfolder") << QStringLiteral("Kalvora/sub") << false;
    QTest::newRow("absolute") << QStringLiteral("/etc") << false;
    QTest::newRow("backslash") << QStringLiteral("..\\Kalvora") << false;
}

void tst_ProjectLoader::projectNamesNameAFolderInside()
{
    QFETCH(QString, name);
    QFETCH(bool, good);
    const QString fault = ProjectLoader::nameFault(name);
    QCOMPARE(fault.isEmpty(), good);
    if (!good && !name.trimmed().isEmpty())
        QVERIFY2(fault.contains(QLatin1Char('"') + name + QLatin1Char('"')), qPrintable(fault));
}

void tst_ProjectLoader::aPathAsProjectNameIsNotFollowed()
{
    // A complete project right beside the projects folder: reachable by "../", never by name.
    QTemporaryDir dir;
    copyProject(dir.path());
    QVERIFY(QDir(dir.path()).rename(QStringLiteral("projects/Kalvora"), QStringLiteral("Kalvora")));
    Runtime runtime(testOptions(dir.path()));
    const QString reason = startAndWait(runtime, QStringLiteral("../Kalvora"));
    QVERIFY2(reason.contains(QStringLiteral("\"../Kalvora\" is not the name of a folder in the projects folder")), qPrintable(reason));
}

void tst_ProjectLoader::missingHelpFilesAreNamed()
{
    QTemporaryDir html;
    const Project project = shipped();
    QStringList expected;
    for (qsizetype i = 0; i < project.alarms.size(); ++i) {
        const QString topic = project.alarms.at(i).helpTopic;
        QFile(QDir(html.path()).filePath(topic + QStringLiteral("de.rtf"))).open(QIODevice::WriteOnly);
        if (topic == QLatin1String("fuelempty"))
            continue; // its English file is the one missing
        QFile(QDir(html.path()).filePath(topic + QStringLiteral("eng.rtf"))).open(QIODevice::WriteOnly);
    }
    const QStringList notices = ProjectLoader::missingHelpFiles(project, html.path());
    QCOMPARE(notices.size(), 1);
    QVERIFY2(notices.first().contains(QStringLiteral("alarms.json, field alarms[2] \"Unit1.FuelEmpty\".help")), qPrintable(notices.first()));
    QVERIFY2(notices.first().contains(QStringLiteral("fuelempty" "eng.rtf is missing")), qPrintable(notices.first()));
}

QTEST_GUILESS_MAIN(tst_ProjectLoader)
#include "tst_projectloader.moc"
