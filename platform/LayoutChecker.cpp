#include "LayoutChecker.h"

#include "KalvoraError.h"
#include "StdFont.h"

#include <QList>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QSet>
#include <QStringList>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>

struct LayoutChecker::Value {
    QString property;
    QString control;
    QString kind;
    QString text;
    /// The parts of a compound value (<rect>, <size>, <font>, <color>) by element name, in order.
    QList<std::pair<QString, QString>> parts;
    qint64 line = 0;
    qint64 column = 0;
};

namespace {

/// Whole-number properties with a narrower range than maxWholeNumber, by property name, whatever
/// control carries them. A new entry is one line.
struct NamedRange {
    const char* property;
    qint64 minimum;
    qint64 maximum;
};
constexpr NamedRange namedRanges[] = {
    {LayoutChecker::tabIndexProperty, 0, 9999},
    {"decimals", 0, 15},
    {"pipeWidth", 0, LayoutChecker::maxExtent},
    {"lineWidth", 0, LayoutChecker::maxExtent},
    {"interval", 0, 86'400'000}, // a timer's milliseconds: up to a day
};

/// The value element a layout-only setting needs, or an empty string for any other property.
QString layoutSettingKind(const QString& name)
{
    if (name == QLatin1String(LayoutChecker::typefaceProperty) || name == QLatin1String(LayoutChecker::pictureProperty))
        return QStringLiteral("string");
    if (name == QLatin1String(LayoutChecker::backColorProperty) || name == QLatin1String(LayoutChecker::foreColorProperty))
        return QStringLiteral("color");
    if (name == QLatin1String(LayoutChecker::tabIndexProperty))
        return QStringLiteral("number");
    return {};
}

/// The value elements a property of the given type accepts.
QStringList acceptedKinds(const QMetaProperty& property)
{
    if (property.isEnumType())
        return {QStringLiteral("enum"), QStringLiteral("set"), QStringLiteral("number")};
    switch (property.metaType().id()) {
    case QMetaType::QString:
        return {QStringLiteral("string")};
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return {QStringLiteral("number")};
    case QMetaType::Double:
    case QMetaType::Float:
        return {QStringLiteral("double"), QStringLiteral("number")};
    case QMetaType::Bool:
        return {QStringLiteral("bool")};
    case QMetaType::QColor:
        return {QStringLiteral("color")};
    case QMetaType::QRect:
        return {QStringLiteral("rect")};
    case QMetaType::QSize:
        return {QStringLiteral("size")};
    case QMetaType::QPoint:
        return {QStringLiteral("point")};
    case QMetaType::QFont:
        return {QStringLiteral("font")};
    case QMetaType::QStringList:
        return {QStringLiteral("stringlist")};
    default:
        return {};
    }
}

/// The range a whole number of the property's own type can hold.
std::pair<qint64, qint64> typeRange(const QMetaProperty& property)
{
    switch (property.metaType().id()) {
    case QMetaType::Int:
        return {std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
    case QMetaType::UInt:
        return {0, std::numeric_limits<unsigned>::max()};
    case QMetaType::Short:
        return {std::numeric_limits<short>::min(), std::numeric_limits<short>::max()};
    case QMetaType::UShort:
        return {0, std::numeric_limits<unsigned short>::max()};
    case QMetaType::ULongLong:
        return {0, std::numeric_limits<qint64>::max()};
    default:
        return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    }
}

QString describeKind(const QString& kind)
{
    if (kind == QLatin1String("number"))
        return QStringLiteral("a whole number");
    if (kind == QLatin1String("double"))
        return QStringLiteral("a number");
    if (kind == QLatin1String("bool"))
        return QStringLiteral("true or false");
    return QStringLiteral("<%1>").arg(kind);
}

bool isCompound(const QString& kind)
{
    return kind == QLatin1String("rect") || kind == QLatin1String("size") || kind == QLatin1String("point")
        || kind == QLatin1String("font") || kind == QLatin1String("color");
}

QString placeOf(const QString& property, const QString& control)
{
    return control.isEmpty() ? QStringLiteral("property \"%1\"").arg(property)
                             : QStringLiteral("property \"%1\" of control \"%2\"").arg(property, control);
}

} // namespace

LayoutChecker::LayoutChecker(QString filePath, ClassLookup classes)
    : m_filePath(std::move(filePath))
    , m_classes(std::move(classes))
{
}

void LayoutChecker::fail(const QXmlStreamReader& xml, const QString& what) const
{
    throw KalvoraError(QStringLiteral("%1:%2:%3: %4").arg(m_filePath).arg(xml.lineNumber()).arg(xml.columnNumber()).arg(what));
}

void LayoutChecker::check(const QByteArray& content) const
{
    if (content.size() > maxFileBytes)
        throw KalvoraError(QStringLiteral("%1: the layout has %2 bytes, more than the %3 a layout may have")
                               .arg(m_filePath).arg(content.size()).arg(maxFileBytes));
    checkShape(content);

    QXmlStreamReader xml(content);
    QSet<QString> names;
    QStringList stack;
    // The class and name of each open <widget>, innermost last.
    QList<const QMetaObject*> widgetClasses;
    QStringList widgetNames;
    bool sawRoot = false;
    int controls = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            const QString element = xml.name().toString();
            if (!sawRoot) {
                if (element != QLatin1String("ui"))
                    fail(xml, QStringLiteral("not a screen layout: the root element is <%1>, not <ui>").arg(element));
                sawRoot = true;
            }
            if (element == QLatin1String("widget")) {
                const QString className = xml.attributes().value(QLatin1String("class")).toString();
                const QString name = xml.attributes().value(QLatin1String("name")).toString();
                if (name.isEmpty())
                    fail(xml, QStringLiteral("a control of class \"%1\" has no name").arg(className));
                const QMetaObject* meta = m_classes(className);
                if (!meta)
                    fail(xml, QStringLiteral("unknown control class \"%1\" for control \"%2\"").arg(className, name));
                if (names.contains(name))
                    fail(xml, QStringLiteral("the control name \"%1\" is used twice").arg(name));
                if (++controls > maxControls)
                    fail(xml, QStringLiteral("more than %1 controls in one layout").arg(maxControls));
                names.insert(name);
                widgetClasses.append(meta);
                widgetNames.append(name);
            } else if (element == QLatin1String("property")) {
                if (!stack.isEmpty() && stack.last() == QLatin1String("widget"))
                    checkProperty(xml, widgetClasses.last(), widgetNames.last(), widgetClasses.size() == 1);
                else // the settings of an item, a column or a layout: no class to check against, but sane values
                    checkRanges(readValue(xml, xml.attributes().value(QLatin1String("name")).toString(), {}), false);
                continue; // the whole element has been read
            }
            stack.append(element);
        } else if (token == QXmlStreamReader::EndElement) {
            if (!stack.isEmpty() && stack.takeLast() == QLatin1String("widget")) {
                widgetClasses.removeLast();
                widgetNames.removeLast();
            }
        }
    }
    if (xml.hasError())
        fail(xml, QStringLiteral("XML error: %1").arg(xml.errorString()));
    if (!sawRoot)
        throw KalvoraError(QStringLiteral("%1: the layout file is empty").arg(m_filePath));
}

void LayoutChecker::checkShape(const QByteArray& content) const
{
    // A first pass over the bare structure, before any value is read: the nesting that the toolkit's
    // reader would follow level by level on its own stack, and declarations a layout never needs.
    QXmlStreamReader xml(content);
    int depth = 0;
    while (!xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            if (++depth > maxNesting)
                fail(xml, QStringLiteral("the elements nest deeper than %1 levels").arg(maxNesting));
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::DTD:
            fail(xml, QStringLiteral("a layout has no document type declaration"));
        case QXmlStreamReader::EntityReference:
            fail(xml, QStringLiteral("a layout uses no entities of its own"));
        default:
            break;
        }
    }
    // XML errors are reported by the main pass with the same place.
}

void LayoutChecker::checkProperty(QXmlStreamReader& xml, const QMetaObject* meta, const QString& controlName, bool root) const
{
    const QString propertyName = xml.attributes().value(QLatin1String("name")).toString();
    const Value value = readValue(xml, propertyName, controlName);
    const int index = meta->indexOfProperty(propertyName.toLatin1().constData());
    const QString settingKind = layoutSettingKind(propertyName);
    if (index < 0 && settingKind.isEmpty())
        fail(xml, QStringLiteral("control \"%1\" (%2) has no property \"%3\"")
                      .arg(controlName, QString::fromLatin1(meta->className()), propertyName));
    if (index < 0)
        checkLayoutSetting(xml, value, settingKind);
    else
        checkValue(xml, value, meta->property(index));
    checkRanges(value, root);
}

LayoutChecker::Value LayoutChecker::readValue(QXmlStreamReader& xml, const QString& propertyName, const QString& controlName) const
{
    Value value;
    value.property = propertyName;
    value.control = controlName;
    if (!xml.readNextStartElement()) {
        if (xml.hasError())
            fail(xml, QStringLiteral("XML error: %1").arg(xml.errorString()));
        fail(xml, QStringLiteral("%1 has no value").arg(placeOf(propertyName, controlName)));
    }
    value.kind = xml.name().toString();
    value.line = xml.lineNumber();
    value.column = xml.columnNumber();
    if (isCompound(value.kind)) {
        while (xml.readNextStartElement()) {
            const QString part = xml.name().toString();
            value.parts.append({part, xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed()});
        }
    } else if (value.kind == QLatin1String("stringlist") || value.kind == QLatin1String("palette")) {
        xml.skipCurrentElement();
    } else {
        value.text = xml.readElementText(QXmlStreamReader::SkipChildElements);
    }
    if (xml.hasError())
        fail(xml, QStringLiteral("XML error: %1").arg(xml.errorString()));
    xml.skipCurrentElement(); // the rest of <property>
    if (xml.hasError())
        fail(xml, QStringLiteral("XML error: %1").arg(xml.errorString()));
    return value;
}

void LayoutChecker::checkLayoutSetting(QXmlStreamReader& xml, const Value& value, const QString& settingKind) const
{
    if (value.kind != settingKind)
        fail(xml, QStringLiteral("%1 needs <%2>, the layout gives <%3>").arg(placeOf(value.property, value.control), settingKind, value.kind));
    bool ok = true;
    if (settingKind == QLatin1String("number"))
        value.text.trimmed().toInt(&ok);
    if (!ok)
        fail(xml, QStringLiteral("%1: \"%2\" is not a whole number").arg(placeOf(value.property, value.control), value.text));
}

void LayoutChecker::checkValue(QXmlStreamReader& xml, const Value& value, const QMetaProperty& property) const
{
    const QStringList kinds = acceptedKinds(property);
    if (kinds.isEmpty())
        return;
    // Only a failure needs the place in words.
    const auto place = [&value] { return placeOf(value.property, value.control); };
    if (!kinds.contains(value.kind))
        fail(xml, QStringLiteral("%1 needs %2, the layout gives <%3>").arg(place(), describeKind(kinds.first()), value.kind));
    bool ok = true;
    const QString text = value.text.trimmed();
    if (value.kind == QLatin1String("number") && !property.isEnumType()) {
        const qint64 number = text.toLongLong(&ok);
        const auto [low, high] = typeRange(property);
        if (ok && (number < low || number > high))
            fail(xml, QStringLiteral("%1: %2 does not fit the property (%3 to %4)").arg(place(), text).arg(low).arg(high));
    } else if (value.kind == QLatin1String("double")) {
        text.toDouble(&ok);
    } else if (value.kind == QLatin1String("bool")) {
        ok = value.text == QLatin1String("true") || value.text == QLatin1String("false");
    } else if (property.isEnumType() && (value.kind == QLatin1String("enum") || value.kind == QLatin1String("set"))) {
        const QMetaEnum meta = property.enumerator();
        meta.keysToValue(text.toLatin1().constData(), &ok);
        if (!ok)
            fail(xml, QStringLiteral("%1: \"%2\" is not a value of %3").arg(place(), text, QString::fromLatin1(meta.name())));
    }
    if (!ok)
        fail(xml, QStringLiteral("%1: \"%2\" is not %3").arg(place(), value.text, describeKind(value.kind)));
}

void LayoutChecker::checkRanges(const Value& value, bool root) const
{
    // Only a failure needs the place in words.
    const auto place = [&value] { return placeOf(value.property, value.control); };
    const auto out = [&](const QString& what) {
        throw KalvoraError(QStringLiteral("%1:%2:%3: %4: %5").arg(m_filePath).arg(value.line).arg(value.column).arg(place(), what));
    };
    const QString pixels = QStringLiteral(" pixels");
    const auto whole = [&](const QString& part, const QString& text, qint64 low, qint64 high, const QString& unit) {
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (!ok)
            out(QStringLiteral("%1 \"%2\" is not a whole number%3").arg(part, text, unit == pixels ? QStringLiteral(" (positions and sizes must be whole pixels)") : QString()));
        if (number < low || number > high)
            out(QStringLiteral("%1 %2 is outside %3 to %4%5").arg(part).arg(number).arg(low).arg(high).arg(unit));
    };
    if (value.kind == QLatin1String("rect") || value.kind == QLatin1String("size") || value.kind == QLatin1String("point")) {
        const bool unbounded = value.property == QLatin1String("maximumSize");
        for (const auto& [part, text] : value.parts) {
            if (part == QLatin1String("x") || part == QLatin1String("y")) {
                whole(part, text, -maxPosition, maxPosition, pixels);
            } else if (part == QLatin1String("width") || part == QLatin1String("height")) {
                bool ok = false;
                if (unbounded && text.toLongLong(&ok) == unboundedExtent && ok)
                    continue;
                // A window needs at least one pixel to be shown at all.
                whole(part, text, root && value.property == QLatin1String("geometry") ? 1 : 0, maxExtent, pixels);
            } else {
                out(QStringLiteral("unexpected <%1> in <%2>").arg(part, value.kind));
            }
        }
    } else if (value.kind == QLatin1String("color")) {
        for (const auto& [part, text] : value.parts) {
            if (part != QLatin1String("red") && part != QLatin1String("green") && part != QLatin1String("blue") && part != QLatin1String("alpha"))
                out(QStringLiteral("unexpected <%1> in <color>").arg(part));
            whole(part, text, 0, 255, QStringLiteral(" (colour channel)"));
        }
    } else if (value.kind == QLatin1String("font")) {
        for (const auto& [part, text] : value.parts) {
            if (part == QLatin1String("pointsize"))
                whole(part, text, static_cast<qint64>(minFontPoints), static_cast<qint64>(maxFontPoints), QStringLiteral(" points"));
            else if (part == QLatin1String("weight"))
                whole(part, text, 0, 1000, {});
            else if (part == QLatin1String("family") && text.size() > 255)
                out(QStringLiteral("the font family name is longer than 255 characters"));
        }
    } else if (value.kind == QLatin1String("number")) {
        qint64 low = -maxWholeNumber;
        qint64 high = maxWholeNumber;
        for (const NamedRange& range : namedRanges) {
            if (value.property == QLatin1String(range.property)) {
                low = range.minimum;
                high = range.maximum;
            }
        }
        whole(QStringLiteral("the value"), value.text.trimmed(), low, high, {});
    } else if (value.kind == QLatin1String("double")) {
        bool ok = false;
        const double number = value.text.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(number) || std::fabs(number) > maxMagnitude)
            out(QStringLiteral("\"%1\" is not a finite number of at most %2").arg(value.text.trimmed()).arg(maxMagnitude));
    } else if (value.kind == QLatin1String("string") && value.property == QLatin1String(typefaceProperty)) {
        try {
            const StdFont font = StdFont::parse(value.text);
            if (font.points() < minFontPoints || font.points() > maxFontPoints)
                out(QStringLiteral("the font size %1 pt is outside %2 to %3 points").arg(font.points()).arg(minFontPoints).arg(maxFontPoints));
        } catch (const KalvoraError& e) {
            out(e.message());
        }
    }
}
