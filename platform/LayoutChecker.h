#pragma once

#include "LayoutLoader.h"

#include <QHash>
#include <QString>
#include <QStringList>

class QXmlStreamReader;

/// Checks a layout file before it is built, so that a fault is reported with its file, line and column
/// instead of surfacing later as a control that silently shows nothing.
class LayoutChecker final {
public:
    /// Layout-only settings any widget may carry: font in the notation of StdFont, background, text.
    static constexpr const char* typefaceProperty = "typeface";
    static constexpr const char* backColorProperty = "backColor";
    static constexpr const char* foreColorProperty = "foreColor";
    /// Keyboard order: controls with a tab index take the focus in ascending order.
    static constexpr const char* tabIndexProperty = "tabIndex";
    /// A picture file drawn as the widget's background (a window's process picture).
    static constexpr const char* pictureProperty = "picture";

    LayoutChecker(QString filePath, const QHash<QString, LayoutLoader::Control>& controls, QStringList standardClasses);

    /// Throws KalvoraError at the first fault.
    void check(const QByteArray& content) const;

private:
    struct Value {
        QString kind;
        QString text;
        qint64 line = 0;
        qint64 column = 0;
    };
    [[noreturn]] void fail(const QXmlStreamReader& xml, const QString& what) const;
    void checkProperty(QXmlStreamReader& xml, const QString& className, const QString& controlName) const;
    Value readValue(QXmlStreamReader& xml, const QString& propertyName) const;
    void checkValue(QXmlStreamReader& xml, const Value& value, const QMetaObject* meta, const QString& propertyName,
                    const QString& controlName) const;

    QString m_filePath;
    const QHash<QString, LayoutLoader::Control>& m_controls;
    QStringList m_standardClasses;
};
