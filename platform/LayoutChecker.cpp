#include "LayoutChecker.h"

#include "KalvoraError.h"
#include "StdFont.h"

#include <QMetaProperty>
#include <QSet>
#include <QXmlStreamReader>

namespace {

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
    case QMetaType::QFont:
        return {QStringLiteral("font")};
    case QMetaType::QStringList:
        return {QStringLiteral("stringlist")};
    default:
        return {};
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

} // namespace

LayoutChecker::LayoutChecker(QString filePath, const QHash<QString, LayoutLoader::Control>& controls,
                             QStringList standardClasses)
    : m_filePath(std::move(filePath))
    , m_controls(controls)
    , m_standardClasses(std::move(standardClasses))
{
}

void LayoutChecker::fail(const QXmlStreamReader& xml, const QString& what) const
{
    throw KalvoraError(QStringLiteral("%1:%2:%3: %4").arg(m_filePath).arg(xml.lineNumber()).arg(xml.columnNumber()).arg(what));
}

void LayoutChecker::check(const QByteArray& content) const
{
    QXmlStreamReader xml(content);
    QSet<QString> names;
    QStringList stack;
    QStringList widgetClasses;
    QStringList widgetNames;
    bool sawRoot = false;
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
                if (!m_controls.contains(className) && !m_standardClasses.contains(className))
                    fail(xml, QStringLiteral("unknown control class \"%1\" for control \"%2\"").arg(className, name));
                if (names.contains(name))
                    fail(xml, QStringLiteral("the control name \"%1\" is used twice").arg(name));
                names.insert(name);
                widgetClasses.append(className);
                widgetNames.append(name);
            } else if (element == QLatin1String("property") && !stack.isEmpty() && stack.last() == QLatin1String("widget")) {
                checkProperty(xml, widgetClasses.last(), widgetNames.last());
                continue; // checkProperty consumed the whole element
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

void LayoutChecker::checkProperty(QXmlStreamReader& xml, const QString& className, const QString& controlName) const
{
    const QString propertyName = xml.attributes().value(QLatin1String("name")).toString();
    const Value value = readValue(xml, propertyName);
    const auto control = m_controls.constFind(className);
    const QMetaObject* meta = control != m_controls.constEnd() ? control->meta : nullptr;

    const QString settingKind = layoutSettingKind(propertyName);
    if (!settingKind.isEmpty() && (!meta || meta->indexOfProperty(propertyName.toLatin1().constData()) < 0)) {
        if (value.kind != settingKind)
            fail(xml, QStringLiteral("property \"%1\" of control \"%2\" needs <%3>, the layout gives <%4>")
                          .arg(propertyName, controlName, settingKind, value.kind));
        bool ok = true;
        if (settingKind == QLatin1String("number"))
            value.text.trimmed().toInt(&ok);
        if (!ok)
            fail(xml, QStringLiteral("property \"%1\" of control \"%2\": \"%3\" is not a whole number")
                          .arg(propertyName, controlName, value.text));
        if (propertyName == QLatin1String(typefaceProperty)) {
            try {
                StdFont::parse(value.text);
            } catch (const KalvoraError& e) {
                fail(xml, QStringLiteral("control \"%1\": %2").arg(controlName, e.message()));
            }
        }
        return;
    }
    if (meta)
        checkValue(xml, value, meta, propertyName, controlName);
}

LayoutChecker::Value LayoutChecker::readValue(QXmlStreamReader& xml, const QString& propertyName) const
{
    Value value;
    if (!xml.readNextStartElement())
        fail(xml, QStringLiteral("property \"%1\" has no value").arg(propertyName));
    value.kind = xml.name().toString();
    value.line = xml.lineNumber();
    value.column = xml.columnNumber();
    if (value.kind == QLatin1String("color")) {
        while (xml.readNextStartElement()) {
            bool ok = false;
            const int channel = xml.readElementText().trimmed().toInt(&ok);
            if (!ok || channel < 0 || channel > 255)
                fail(xml, QStringLiteral("property \"%1\": colour channels must be 0 to 255").arg(propertyName));
        }
    } else if (value.kind == QLatin1String("rect") || value.kind == QLatin1String("size")) {
        while (xml.readNextStartElement()) {
            bool ok = false;
            xml.readElementText().trimmed().toInt(&ok);
            if (!ok)
                fail(xml, QStringLiteral("property \"%1\": positions and sizes must be whole pixels").arg(propertyName));
        }
    } else if (value.kind == QLatin1String("font") || value.kind == QLatin1String("stringlist")
               || value.kind == QLatin1String("palette")) {
        xml.skipCurrentElement();
    } else {
        value.text = xml.readElementText(QXmlStreamReader::SkipChildElements);
    }
    if (xml.hasError())
        fail(xml, QStringLiteral("XML error: %1").arg(xml.errorString()));
    xml.skipCurrentElement(); // the rest of <property>
    return value;
}

void LayoutChecker::checkValue(QXmlStreamReader& xml, const Value& value, const QMetaObject* meta,
                               const QString& propertyName, const QString& controlName) const
{
    const int index = meta->indexOfProperty(propertyName.toLatin1().constData());
    if (index < 0)
        fail(xml, QStringLiteral("control \"%1\" (%2) has no property \"%3\"")
                      .arg(controlName, QString::fromLatin1(meta->className()), propertyName));
    const QMetaProperty property = meta->property(index);
    const QStringList kinds = acceptedKinds(property);
    if (kinds.isEmpty())
        return;
    if (!kinds.contains(value.kind))
        fail(xml, QStringLiteral("property \"%1\" of control \"%2\" needs %3, the layout gives <%4>")
                      .arg(propertyName, controlName, describeKind(kinds.first()), value.kind));
    bool ok = true;
    if (value.kind == QLatin1String("number"))
        value.text.trimmed().toLongLong(&ok);
    else if (value.kind == QLatin1String("double"))
        value.text.trimmed().toDouble(&ok);
    else if (value.kind == QLatin1String("bool"))
        ok = value.text == QLatin1String("true") || value.text == QLatin1String("false");
    if (!ok)
        fail(xml, QStringLiteral("property \"%1\" of control \"%2\": \"%3\" is not %4")
                      .arg(propertyName, controlName, value.text, describeKind(value.kind)));
}
