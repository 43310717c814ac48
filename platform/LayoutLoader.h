#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QWidget;
struct QMetaObject;

/// \brief Builds a window's widget tree from its layout file, creating the program's own control
/// classes by the class names the layouts use.
///
/// Every load reads the file afresh. The file is checked before anything is built: XML errors,
/// unknown control classes, duplicate control names, unknown properties and values of the wrong type
/// are reported as KalvoraError naming the file, line and column.
class LayoutLoader final {
public:
    using Factory = std::function<QWidget*(QWidget* parent)>;

    LayoutLoader();
    ~LayoutLoader();
    LayoutLoader(const LayoutLoader&) = delete;
    LayoutLoader& operator=(const LayoutLoader&) = delete;

    /// Registers a control class under the name the layouts give it ("QuelmirStudioLib.QMSBar").
    void registerControl(const QString& className, const QMetaObject& meta, Factory factory);
    template <class T, class... Args>
    void registerControl(const QString& className, Args&... args)
    {
        registerControl(className, T::staticMetaObject, [&args...](QWidget* parent) { return new T(args..., parent); });
    }

    std::unique_ptr<QWidget> load(const QString& filePath) const;
    /// Reads and checks a layout file without building it; throws KalvoraError like load().
    void check(const QString& filePath) const;
    /// Checks and builds a layout given as bytes; `sourceName` names it in messages.
    std::unique_ptr<QWidget> build(QByteArray content, const QString& sourceName) const;
    /// The class of a control class name as layouts give it, registered or standard; null if unknown.
    const QMetaObject* classOf(const QString& className) const;

    struct Control {
        const QMetaObject* meta = nullptr;
        Factory factory;
    };

private:
    static QByteArray read(const QString& filePath);
    void checkContent(const QByteArray& content, const QString& sourceName) const;

    QHash<QString, Control> m_controls;
    // The toolkit's loader scans its plugin folders when it is made; one serves every load.
    std::unique_ptr<class ControlBuilder> m_builder;
    QStringList m_standardClasses;
    mutable QHash<QString, const QMetaObject*> m_standardMeta;
    /// The content of each layout as it last passed the check.
    mutable QHash<QString, QByteArray> m_passed;
};
