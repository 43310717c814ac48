#pragma once

#include <QString>

#include <functional>

class QXmlStreamReader;
struct QMetaObject;
struct QMetaProperty;

/// Checks a layout file before it is built, so that a fault is reported with its file, line and column
/// instead of surfacing later as a control that silently shows nothing, or as a window the toolkit
/// cannot build or paint.
///
/// The checker reads the file as a flat stream, never recursing per level, so a hostile file cannot
/// exhaust the stack here; it refuses what the toolkit's own (recursive) reader or the painting
/// could not survive. The limits below are far beyond what a screen of 1024 x 768 pixels needs and
/// well inside what the program can build and draw.
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

    /// Element levels, counted from <ui>; the program's layouts need fewer than ten.
    static constexpr int maxNesting = 32;
    /// Controls in one layout; the plant overview has about a hundred.
    static constexpr int maxControls = 4000;
    /// Bytes of one layout file.
    static constexpr qint64 maxFileBytes = 16 * 1024 * 1024;
    /// Positions (x, y) in pixels, either side of the parent's origin.
    static constexpr int maxPosition = 16384;
    /// Widths and heights in pixels, of windows and controls alike.
    static constexpr int maxExtent = 4096;
    /// The toolkit's "no maximum" size, which a maximumSize may name.
    static constexpr int unboundedExtent = 16777215;
    /// Font sizes in points.
    static constexpr double minFontPoints = 1.0;
    static constexpr double maxFontPoints = 144.0;
    /// Whole-number properties without a range of their own (a twips position, milliseconds, seconds).
    static constexpr qint64 maxWholeNumber = 10'000'000;
    /// Numbers with a fraction: finite and at most this far from zero.
    static constexpr double maxMagnitude = 1e15;

    /// The class behind a control class name as the layouts give it, or null for a class the
    /// program does not know.
    using ClassLookup = std::function<const QMetaObject*(const QString& className)>;

    LayoutChecker(QString filePath, ClassLookup classes);

    /// Throws KalvoraError at the first fault.
    void check(const QByteArray& content) const;

private:
    struct Value;
    [[noreturn]] void fail(const QXmlStreamReader& xml, const QString& what) const;
    void checkShape(const QByteArray& content) const;
    void checkProperty(QXmlStreamReader& xml, const QMetaObject* meta, const QString& controlName, bool root) const;
    Value readValue(QXmlStreamReader& xml, const QString& propertyName, const QString& controlName) const;
    void checkLayoutSetting(QXmlStreamReader& xml, const Value& value, const QString& settingKind) const;
    void checkValue(QXmlStreamReader& xml, const Value& value, const QMetaProperty& property) const;
    void checkRanges(const Value& value, bool root) const;

    QString m_filePath;
    ClassLookup m_classes;
};
