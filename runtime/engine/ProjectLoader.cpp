#include "ProjectLoader.h"

#include "JsonFile.h"
#include "PlantSimulator.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <cmath>
#include <limits>
#include <optional>

namespace {

constexpr int ProjectFormat = 1;

/// The first fault found; carries the finished message up to load().
using Fault = FileFault;

/// The fields each kind of object in the project files takes; a new field is one more name on its
/// line. Anything else is refused (JsonFile::known).
const QHash<QString, QStringList>& knownFields()
{
    static const QHash<QString, QStringList> fields{
        {QStringLiteral("project"), {QStringLiteral("format"), QStringLiteral("name"), QStringLiteral("source"), QStringLiteral("history")}},
        {QStringLiteral("history"), {QStringLiteral("store"), QStringLiteral("connection")}},
        {QStringLiteral("variables"), {QStringLiteral("variables")}},
        {QStringLiteral("variable"), {QStringLiteral("name"), QStringLiteral("type"), QStringLiteral("unit"), QStringLiteral("writable"), QStringLiteral("min"), QStringLiteral("max")}},
        {QStringLiteral("simulation"), {QStringLiteral("prefix"), QStringLiteral("tickMilliseconds"), QStringLiteral("speed"), QStringLiteral("seed"), QStringLiteral("ambientTemperature"), QStringLiteral("supplyTemperature"), QStringLiteral("demandPeriodSeconds"), QStringLiteral("unit"), QStringLiteral("fuelDelivery"), QStringLiteral("storage"), QStringLiteral("initial"), QStringLiteral("units")}},
        {QStringLiteral("unit"), {QStringLiteral("waterCapacity"), QStringLiteral("fillFlow"), QStringLiteral("fullResetLevel"), QStringLiteral("fuelCapacity"), QStringLiteral("fuelConsumption"), QStringLiteral("burnerHeat"), QStringLiteral("boilerLoss"), QStringLiteral("boilerToWater"), QStringLiteral("heatTransfer"), QStringLiteral("waterLoss"), QStringLiteral("boilingPoint"), QStringLiteral("latentHeat"), QStringLiteral("wetLevel"), QStringLiteral("tripTemperature"), QStringLiteral("resetTemperature"), QStringLiteral("noise"), QStringLiteral("demandLoss"), QStringLiteral("baseDemand"), QStringLiteral("steamStart"), QStringLiteral("steamPerDegree")}},
        {QStringLiteral("fuelDelivery"), {QStringLiteral("orderBelow"), QStringLiteral("delaySeconds"), QStringLiteral("amount")}},
        {QStringLiteral("storage"), {QStringLiteral("capacity"), QStringLiteral("outletFlow"), QStringLiteral("refillBelow"), QStringLiteral("refillUpTo"), QStringLiteral("refillFlow")}},
        {QStringLiteral("initial"), {QStringLiteral("waterPump"), QStringLiteral("outletValve"), QStringLiteral("storageWater")}},
        {QStringLiteral("units"), {QStringLiteral("name"), QStringLiteral("water"), QStringLiteral("waterTemperature"), QStringLiteral("fuel"), QStringLiteral("boilerTemperature"), QStringLiteral("valveOn"), QStringLiteral("fuelPumpOn"), QStringLiteral("switchOn"), QStringLiteral("demandScale"), QStringLiteral("lossScale"), QStringLiteral("burnerScale"), QStringLiteral("setPoint"), QStringLiteral("switchingDifference")}},
        {QStringLiteral("alarms"), {QStringLiteral("groups"), QStringLiteral("alarms")}},
        {QStringLiteral("group"), {QStringLiteral("name"), QStringLiteral("priority")}},
        {QStringLiteral("alarm"), {QStringLiteral("id"), QStringLiteral("group"), QStringLiteral("variable"), QStringLiteral("condition"), QStringLiteral("limit"), QStringLiteral("deadband"), QStringLiteral("delaySeconds"), QStringLiteral("text"), QStringLiteral("textGroup"), QStringLiteral("help")}},
        {QStringLiteral("archives"), {QStringLiteral("retentionDays"), QStringLiteral("deleteBatch"), QStringLiteral("recordIntervalMilliseconds"), QStringLiteral("archives")}},
        {QStringLiteral("archive"), {QStringLiteral("name"), QStringLiteral("trends")}},
        {QStringLiteral("trend"), {QStringLiteral("name"), QStringLiteral("variable"), QStringLiteral("min"), QStringLiteral("max")}},
    };
    return fields;
}

/// The largest whole number a double holds exactly; integer settings and int variables stay inside.
constexpr double maxExactInteger = 9007199254740991.0;

QString fileOf(const QString& folder, const char* name)
{
    return QDir::toNativeSeparators(QDir(folder).filePath(QString::fromLatin1(name)));
}

void readProjectFile(const QString& folder, Project& project)
{
    const JsonFile file(fileOf(folder, "project.json"), knownFields());
    file.known(file.root(), {}, QStringLiteral("project"));
    const double format = file.number(file.root(), {}, "format");
    if (format != ProjectFormat)
        file.fail(QStringLiteral("format"), QStringLiteral("this program reads project format %1, the file has %2").arg(ProjectFormat).arg(format));
    project.name = file.name(file.root(), {}, "name");
    const QString source = file.string(file.root(), {}, "source", QStringLiteral("simulation"));
    if (source == QStringLiteral("modbus"))
        project.source = PlantSourceKind::Modbus;
    else if (source != QStringLiteral("simulation"))
        file.fail(QStringLiteral("source"), QStringLiteral("unknown source \"%1\" (simulation or modbus)").arg(source));
    if (!file.root().contains(QLatin1String("history")))
        return;
    const QJsonObject history = file.object(file.root(), {}, "history");
    file.known(history, QStringLiteral("history"), QStringLiteral("history"));
    project.history.store = file.choice<HistoryStoreKind>(history, QStringLiteral("history"), "store",
        {{QStringLiteral("sqlite"), HistoryStoreKind::Embedded}, {QStringLiteral("postgresql"), HistoryStoreKind::PostgreSql}});
    if (project.history.store == HistoryStoreKind::PostgreSql) {
        project.history.connection = file.string(history, QStringLiteral("history"), "connection");
        // An empty string would quietly take libpq's defaults: the local server as the login user.
        if (project.history.connection.trimmed().isEmpty())
            file.fail(QStringLiteral("history.connection"), QStringLiteral("empty; name the server, e.g. \"host=... dbname=...\""));
    }
    else if (history.contains(QLatin1String("connection")))
        file.fail(QStringLiteral("history.connection"), QStringLiteral("only a database server takes a connection"));
}

TagType parseType(const JsonFile& file, const QString& field, const QString& text)
{
    static const QHash<QString, TagType> types{
        {QStringLiteral("bool"), TagType::Bool},
        {QStringLiteral("int"), TagType::Int},
        {QStringLiteral("double"), TagType::Double},
        {QStringLiteral("string"), TagType::String},
    };
    const auto it = types.constFind(text);
    if (it == types.constEnd())
        file.fail(field, QStringLiteral("unknown type \"%1\" (bool, int, double or string)").arg(text));
    return *it;
}

void readVariables(const QString& folder, Project& project)
{
    const JsonFile file(fileOf(folder, "variables.json"), knownFields());
    file.known(file.root(), {}, QStringLiteral("variables"));
    const QJsonArray list = file.array(file.root(), {}, "variables");
    QSet<QString> seen;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const auto [entry, name, place] = file.named(list, i, QStringLiteral("variables"), "name", seen, "variable");
        file.known(entry, place, QStringLiteral("variable"));
        TagDefinition def;
        def.name = name;
        def.type = parseType(file, place + QStringLiteral(".type"), file.string(entry, place, "type"));
        def.unit = file.string(entry, place, "unit", QString());
        def.writable = file.boolean(entry, place, "writable", false);
        if (def.type == TagType::Int || def.type == TagType::Double) {
            // Whole-number variables hold 64-bit integers; their limits must be whole and exact.
            if (def.type == TagType::Int) {
                def.minimum = static_cast<double>(file.whole(entry, place, "min", std::nullopt, -maxExactInteger, maxExactInteger));
                def.maximum = static_cast<double>(file.whole(entry, place, "max", std::nullopt, -maxExactInteger, maxExactInteger));
            } else {
                def.minimum = file.number(entry, place, "min");
                def.maximum = file.number(entry, place, "max");
            }
            if (def.maximum <= def.minimum)
                file.fail(place + QStringLiteral(".max"), QStringLiteral("must be above min (%1)").arg(def.minimum));
        }
        project.variables.append(def);
    }
    if (project.variables.isEmpty())
        file.fail(QStringLiteral("variables"), QStringLiteral("the project declares no variables"));
}

const TagDefinition* findVariable(const Project& project, const QString& name)
{
    for (const TagDefinition& def : project.variables)
        if (def.name == name)
            return &def;
    return nullptr;
}

bool isNumeric(TagType type)
{
    return type == TagType::Int || type == TagType::Double;
}

void requireVariable(const JsonFile& file, const Project& project, const QString& field, const QString& name, bool wantBool, bool wantWritable)
{
    const TagDefinition* def = findVariable(project, name);
    const QString kind = wantBool ? QStringLiteral("bool") : QStringLiteral("number");
    if (!def)
        file.fail(field, QStringLiteral("the simulation drives \"%1\" (%2), which variables.json does not declare").arg(name, kind));
    if (wantBool != (def->type == TagType::Bool) || (!wantBool && !isNumeric(def->type)))
        file.fail(field, QStringLiteral("the simulation needs \"%1\" to be a %2").arg(name, kind));
    if (wantWritable != def->writable)
        file.fail(field,
            wantWritable ? QStringLiteral("\"%1\" is an operator switch and must be writable").arg(name)
                          : QStringLiteral("\"%1\" is computed by the simulation and must be read-only").arg(name));
}

void readSimulation(const QString& folder, Project& project)
{
    const JsonFile file(fileOf(folder, "simulation.json"), knownFields());
    const QJsonObject& root = file.root();
    file.known(root, {}, QStringLiteral("simulation"));
    SimulationParameters& sim = project.simulation;
    sim.prefix = file.string(root, {}, "prefix");
    sim.tickMilliseconds = static_cast<int>(file.whole(root, {}, "tickMilliseconds", 1000, 50, 60000));
    sim.speed = file.number(root, {}, "speed", 1.0, 0.01, 3600);
    sim.seed = static_cast<quint64>(file.whole(root, {}, "seed", 1, 0, maxExactInteger));
    sim.ambientTemperature = file.number(root, {}, "ambientTemperature", 20, -40, 60);
    sim.supplyTemperature = file.number(root, {}, "supplyTemperature", 40, 0, 99);
    sim.demandPeriodSeconds = file.number(root, {}, "demandPeriodSeconds", 86400, 60, 365 * 86400.0);

    const QJsonObject u = file.object(root, {}, "unit");
    file.known(u, QStringLiteral("unit"), QStringLiteral("unit"));
    UnitParameters& p = sim.unit;
    const QString up = QStringLiteral("unit");
    p.waterCapacity = file.number(u, up, "waterCapacity", std::nullopt, 1, 1e9);
    p.fillFlow = file.number(u, up, "fillFlow", std::nullopt, 0, 1e6);
    p.fullResetLevel = file.number(u, up, "fullResetLevel", std::nullopt, 0, p.waterCapacity);
    p.fuelCapacity = file.number(u, up, "fuelCapacity", std::nullopt, 1, 1e9);
    p.fuelConsumption = file.number(u, up, "fuelConsumption", std::nullopt, 0, 1e3);
    p.burnerHeat = file.number(u, up, "burnerHeat", std::nullopt, 0, 1e3);
    p.boilerLoss = file.number(u, up, "boilerLoss", std::nullopt, 1e-6, 0.5);
    p.boilerToWater = file.number(u, up, "boilerToWater", std::nullopt, 0, 0.5);
    p.heatTransfer = file.number(u, up, "heatTransfer", std::nullopt, 0, 1e4);
    p.waterLoss = file.number(u, up, "waterLoss", std::nullopt, 0, 0.5);
    p.boilingPoint = file.number(u, up, "boilingPoint", std::nullopt, 1, 400);
    p.latentHeat = file.number(u, up, "latentHeat", std::nullopt, 1, 1e5);
    p.wetLevel = file.number(u, up, "wetLevel", std::nullopt, 1, p.waterCapacity);
    p.tripTemperature = file.number(u, up, "tripTemperature", std::nullopt, 1, 1e4);
    p.resetTemperature = file.number(u, up, "resetTemperature", std::nullopt, 0, p.tripTemperature);
    if (p.resetTemperature >= p.tripTemperature)
        file.fail(QStringLiteral("unit.resetTemperature"), QStringLiteral("must be below tripTemperature (%1)").arg(p.tripTemperature));
    p.noise = file.number(u, up, "noise", 0.0, 0, 0.5);
    p.demandLoss = file.number(u, up, "demandLoss", 0.0, 0, 0.5);
    p.baseDemand = file.number(u, up, "baseDemand", 0.0, 0, 1);
    p.steamStart = file.number(u, up, "steamStart", 0.0, 0, 1e4);
    p.steamPerDegree = file.number(u, up, "steamPerDegree", 0.0, 0, 1e3);

    const QJsonObject d = file.object(root, {}, "fuelDelivery");
    file.known(d, QStringLiteral("fuelDelivery"), QStringLiteral("fuelDelivery"));
    const QString dp = QStringLiteral("fuelDelivery");
    sim.delivery.orderBelow = file.number(d, dp, "orderBelow", std::nullopt, 0, p.fuelCapacity);
    sim.delivery.delaySeconds = file.number(d, dp, "delaySeconds", std::nullopt, 0, 7 * 86400);
    sim.delivery.amount = file.number(d, dp, "amount", std::nullopt, 1, 1e9);

    const QJsonObject s = file.object(root, {}, "storage");
    file.known(s, QStringLiteral("storage"), QStringLiteral("storage"));
    const QString sp = QStringLiteral("storage");
    StorageParameters& st = sim.storage;
    st.capacity = file.number(s, sp, "capacity", std::nullopt, 1, 1e9);
    st.outletFlow = file.number(s, sp, "outletFlow", std::nullopt, 0, 1e6);
    st.refillBelow = file.number(s, sp, "refillBelow", std::nullopt, 0, st.capacity);
    st.refillUpTo = file.number(s, sp, "refillUpTo", std::nullopt, st.refillBelow, st.capacity);
    st.refillFlow = file.number(s, sp, "refillFlow", std::nullopt, 0, 1e6);

    const QJsonObject init = file.object(root, {}, "initial");
    file.known(init, QStringLiteral("initial"), QStringLiteral("initial"));
    const QString ip = QStringLiteral("initial");
    sim.waterPumpOn = file.boolean(init, ip, "waterPump");
    sim.outletOpen = file.boolean(init, ip, "outletValve");
    sim.storageWater = file.number(init, ip, "storageWater", std::nullopt, 0, st.capacity);

    const QJsonArray units = file.array(root, {}, "units");
    if (units.isEmpty())
        file.fail(QStringLiteral("units"), QStringLiteral("the plant needs at least one unit"));
    double water = sim.storageWater;
    QSet<QString> names;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const auto [entry, name, place] = file.named(units, i, QStringLiteral("units"), "name", names, "unit");
        file.known(entry, place, QStringLiteral("units"));
        UnitInitialState unit;
        unit.name = name;
        unit.water = file.number(entry, place, "water", std::nullopt, 0, p.waterCapacity);
        unit.waterTemperature = file.number(entry, place, "waterTemperature", std::nullopt, -40, p.boilingPoint);
        unit.fuel = file.number(entry, place, "fuel", std::nullopt, 0, p.fuelCapacity);
        unit.boilerTemperature = file.number(entry, place, "boilerTemperature", std::nullopt, -40, p.tripTemperature);
        unit.valveOn = file.boolean(entry, place, "valveOn");
        unit.fuelPumpOn = file.boolean(entry, place, "fuelPumpOn");
        unit.switchOn = file.boolean(entry, place, "switchOn");
        unit.demandScale = file.number(entry, place, "demandScale", 1.0, 0, 10);
        unit.lossScale = file.number(entry, place, "lossScale", 1.0, 0, 10);
        unit.burnerScale = file.number(entry, place, "burnerScale", 1.0, 0, 10);
        unit.setPoint = file.number(entry, place, "setPoint", 0.0, 0, p.boilingPoint);
        unit.switchingDifference = file.number(entry, place, "switchingDifference", 0.0, 0, p.boilingPoint);
        water += unit.water;
        sim.units.append(unit);

        const QString base = sim.prefix + unit.name + QLatin1Char('.');
        for (const PlantVariableSpec& v : PlantSimulator::unitVariables())
            requireVariable(file, project, place, base + QLatin1String(v.suffix), v.isBool, v.operatorSwitch);
    }
    for (const PlantVariableSpec& v : PlantSimulator::commonVariables())
        requireVariable(file, project, QStringLiteral("prefix"), sim.prefix + QLatin1String(v.suffix), v.isBool, v.operatorSwitch);
    // The loop is closed: more water than the storage tank holds would have nowhere to go.
    if (water > st.capacity)
        file.fail(QStringLiteral("initial.storageWater"),
            QStringLiteral("the water of storage and units (%1 l) exceeds the storage capacity (%2 l)").arg(water).arg(st.capacity));
}

void readAlarms(const QString& folder, Project& project)
{
    const JsonFile file(fileOf(folder, "alarms.json"), knownFields());
    file.known(file.root(), {}, QStringLiteral("alarms"));
    const QJsonArray groups = file.array(file.root(), {}, "groups");
    QSet<QString> groupNames;
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const auto [entry, name, place] = file.named(groups, i, QStringLiteral("groups"), "name", groupNames, "group");
        file.known(entry, place, QStringLiteral("group"));
        AlarmGroupDefinition group;
        group.name = name;
        group.priority = static_cast<int>(file.whole(entry, place, "priority", std::nullopt, 1, 1000));
        project.alarmGroups.append(group);
    }

    static const QHash<QString, AlarmCondition> conditions{
        {QStringLiteral("above"), AlarmCondition::Above},
        {QStringLiteral("below"), AlarmCondition::Below},
        {QStringLiteral("on"), AlarmCondition::On},
        {QStringLiteral("off"), AlarmCondition::Off},
    };
    static const QRegularExpression safeTopic(QStringLiteral("^[A-Za-z0-9_-]+$"));
    const QJsonArray alarms = file.array(file.root(), {}, "alarms");
    QSet<QString> ids;
    for (qsizetype i = 0; i < alarms.size(); ++i) {
        const auto [entry, name, place] = file.named(alarms, i, QStringLiteral("alarms"), "id", ids, "alarm");
        file.known(entry, place, QStringLiteral("alarm"));
        AlarmDefinition alarm;
        alarm.id = name;
        alarm.group = file.string(entry, place, "group");
        if (!groupNames.contains(alarm.group))
            file.fail(place + QStringLiteral(".group"), QStringLiteral("no alarm group \"%1\" in \"groups\"").arg(alarm.group));
        alarm.variable = file.string(entry, place, "variable");
        const TagDefinition* def = findVariable(project, alarm.variable);
        if (!def)
            file.fail(place + QStringLiteral(".variable"), QStringLiteral("no process variable \"%1\" in variables.json").arg(alarm.variable));
        const QString condition = file.string(entry, place, "condition");
        const auto c = conditions.constFind(condition);
        if (c == conditions.constEnd())
            file.fail(place + QStringLiteral(".condition"), QStringLiteral("unknown condition \"%1\" (above, below, on or off)").arg(condition));
        alarm.condition = *c;
        const bool limitCondition = alarm.condition == AlarmCondition::Above || alarm.condition == AlarmCondition::Below;
        if (limitCondition) {
            if (!isNumeric(def->type))
                file.fail(place + QStringLiteral(".condition"), QStringLiteral("\"%1\" needs a numeric variable").arg(condition));
            alarm.limit = file.number(entry, place, "limit");
            alarm.deadband = file.number(entry, place, "deadband", std::nullopt, 0, 1e12);
        } else if (def->type != TagType::Bool) {
            file.fail(place + QStringLiteral(".condition"), QStringLiteral("\"%1\" needs a bool variable").arg(condition));
        }
        alarm.delayMs = static_cast<qint64>(std::llround(file.number(entry, place, "delaySeconds", 0.0, 0, 86400) * 1000.0));
        alarm.textKey = file.name(entry, place, "text");
        alarm.textGroup = file.string(entry, place, "textGroup", QStringLiteral("Indextexte"));
        alarm.helpTopic = file.string(entry, place, "help");
        // The topic becomes part of a file name below html/.
        if (!safeTopic.match(alarm.helpTopic).hasMatch())
            file.fail(place + QStringLiteral(".help"), QStringLiteral("a help topic is a file base name of letters, digits, '_' and '-'"));
        project.alarms.append(alarm);
    }
}

void readArchives(const QString& folder, Project& project)
{
    const JsonFile file(fileOf(folder, "archives.json"), knownFields());
    const QJsonObject& root = file.root();
    file.known(root, {}, QStringLiteral("archives"));
    ArchiveSettings& settings = project.archive;
    settings.retentionDays = static_cast<int>(file.whole(root, {}, "retentionDays", 30, 1, 3650));
    settings.deleteBatch = static_cast<int>(file.whole(root, {}, "deleteBatch", 1000, 1, 1000000));
    settings.recordIntervalMs = static_cast<int>(file.whole(root, {}, "recordIntervalMilliseconds", 1000, 100, 3600000));
    const QJsonArray archives = file.array(root, {}, "archives");
    QSet<QString> archiveNames;
    for (qsizetype i = 0; i < archives.size(); ++i) {
        const auto [entry, name, place] = file.named(archives, i, QStringLiteral("archives"), "name", archiveNames, "archive");
        file.known(entry, place, QStringLiteral("archive"));
        ArchiveDefinition archive;
        archive.name = name;
        const QJsonArray trends = file.array(entry, place, "trends");
        QSet<QString> trendNames;
        for (qsizetype j = 0; j < trends.size(); ++j) {
            const auto [t, trendName, tp] = file.named(trends, j, place + QStringLiteral(".trends"), "name", trendNames, "trend");
            file.known(t, tp, QStringLiteral("trend"));
            TrendDefinition trend;
            trend.name = trendName;
            trend.variable = file.string(t, tp, "variable");
            const TagDefinition* def = findVariable(project, trend.variable);
            if (!def)
                file.fail(tp + QStringLiteral(".variable"), QStringLiteral("no process variable \"%1\" in variables.json").arg(trend.variable));
            if (!isNumeric(def->type) && def->type != TagType::Bool)
                file.fail(tp + QStringLiteral(".variable"), QStringLiteral("only numbers and on/off values can be archived"));
            trend.rangeMin = file.number(t, tp, "min");
            trend.rangeMax = file.number(t, tp, "max");
            if (trend.rangeMax <= trend.rangeMin)
                file.fail(tp + QStringLiteral(".max"), QStringLiteral("must be above min (%1)").arg(trend.rangeMin));
            trend.unit = def->unit;
            archive.trends.append(trend);
        }
        settings.archives.append(archive);
    }
}

void readTexts(const QString& folder, Project& project)
{
    const QString path = fileOf(folder, "texts.tsv");
    const QByteArray data = JsonFile::bytesOf(path);
    const auto fail = [&](int line, const QString& reason) { throw Fault{QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(reason)}; };
    // Decoded line by line, so a byte that is not UTF-8 is named by its line instead of turning into
    // a replacement character on the operator's screen.
    QStringList lines;
    for (const QByteArray& bytes : data.split('\n')) {
        const int number = static_cast<int>(lines.size()) + 1;
        if (bytes.contains('\0'))
            fail(number, QStringLiteral("the line holds a NUL byte (column %1)").arg(bytes.indexOf('\0') + 1));
        QStringDecoder decoder(QStringDecoder::Utf8);
        QString line = decoder(bytes);
        if (decoder.hasError())
            fail(number, QStringLiteral("the line is not valid UTF-8 text"));
        lines.append(line);
    }
    QHash<QString, int> firstLine;
    bool haveHeader = false;
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines.at(n);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (!haveHeader) {
            if (fields.size() < 3 || fields.at(0) != QStringLiteral("group") || fields.at(1) != QStringLiteral("key"))
                fail(n + 1, QStringLiteral("the first line must be: group, key and the language ids (such as 1031, 1033), separated by tabs"));
            for (qsizetype i = 2; i < fields.size(); ++i) {
                bool ok = false;
                const int id = fields.at(i).toInt(&ok);
                if (!ok || id <= 0 || project.languages.contains(id))
                    fail(n + 1, QStringLiteral("\"%1\" is not a new language id such as 1031").arg(fields.at(i)));
                project.languages.append(id);
            }
            haveHeader = true;
            continue;
        }
        if (fields.size() != project.languages.size() + 2)
            fail(n + 1, QStringLiteral("expected %1 fields separated by tabs (group, key and one text per language), found %2")
                            .arg(project.languages.size() + 2)
                            .arg(fields.size()));
        const QString& group = fields.at(0);
        const QString& key = fields.at(1);
        if (group.isEmpty() || key.isEmpty())
            fail(n + 1, QStringLiteral("group and key must not be empty"));
        const QString id = group + QChar(u'\x1f') + key;
        if (const auto it = firstLine.constFind(id); it != firstLine.constEnd())
            fail(n + 1, QStringLiteral("group \"%1\", key \"%2\" is already defined on line %3").arg(group, key).arg(*it));
        firstLine.insert(id, n + 1);
        for (qsizetype i = 0; i < project.languages.size(); ++i)
            project.texts.append({project.languages.at(i), group, key, fields.at(i + 2)});
    }
    if (!haveHeader)
        fail(1, QStringLiteral("the file holds no header line"));

    // Every alarm must be readable in every language of the project.
    for (const AlarmDefinition& alarm : std::as_const(project.alarms))
        if (!firstLine.contains(alarm.textGroup + QChar(u'\x1f') + alarm.textKey))
            throw Fault{QStringLiteral("%1: the text of alarm \"%2\" (group \"%3\", key \"%4\") is missing")
                            .arg(path, alarm.id, alarm.textGroup, alarm.textKey)};
}

} // namespace

ProjectLoadResult ProjectLoader::load(const QString& folder)
{
    ProjectLoadResult result;
    if (!QFileInfo(folder).isDir()) {
        result.error = QStringLiteral("The runtime project folder %1 does not exist").arg(QDir::toNativeSeparators(QFileInfo(folder).absoluteFilePath()));
        return result;
    }
    Project& project = result.project;
    project.folder = QFileInfo(folder).absoluteFilePath();
    try {
        readProjectFile(folder, project);
        readVariables(folder, project);
        readSimulation(folder, project);
        readAlarms(folder, project);
        readArchives(folder, project);
        readTexts(folder, project);
    } catch (const Fault& fault) {
        result.error = fault.message;
    }
    return result;
}

QString ProjectLoader::nameFault(const QString& name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("No runtime project was named");
    // The name is a folder directly inside the projects folder, never a way out of it.
    if (name == QLatin1String(".") || name == QLatin1String("..") || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QChar(u'\0')) || name.trimmed() != name)
        return QStringLiteral("The runtime project name \"%1\" is not the name of a folder in the projects folder "
                              "(no path, no \"..\", no blanks around it)").arg(name);
    return {};
}

QStringList ProjectLoader::missingHelpFiles(const Project& project, const QString& htmlFolder)
{
    QStringList notices;
    QSet<QString> told;
    for (qsizetype i = 0; i < project.alarms.size(); ++i) {
        const AlarmDefinition& alarm = project.alarms.at(i);
        for (const char* suffix : {"de.rtf", "eng.rtf"}) {
            const QString file = QDir(htmlFolder).filePath(alarm.helpTopic + QLatin1String(suffix));
            if (told.contains(file) || QFileInfo(file).isFile())
                continue;
            told.insert(file);
            notices.append(QStringLiteral("%1, field alarms[%2] \"%3\".help: the help file %4 is missing")
                               .arg(fileOf(project.folder, "alarms.json")).arg(i).arg(alarm.id, QDir::toNativeSeparators(file)));
        }
    }
    return notices;
}
