#include "LayoutLoader.h"

#include "KalvoraError.h"
#include "LayoutChecker.h"
#include "StdFont.h"

#include <QBuffer>
#include <QFile>
#include <QMetaProperty>
#include <QUiLoader>
#include <QWidget>

namespace {

/// Creates registered classes itself and leaves the standard widgets to the toolkit's loader.
class ControlBuilder final : public QUiLoader {
public:
    explicit ControlBuilder(const QHash<QString, LayoutLoader::Control>& controls)
        : m_controls(controls)
    {
    }

    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override
    {
        if (auto it = m_controls.constFind(className); it != m_controls.constEnd()) {
            QWidget* widget = it->factory(parent);
            widget->setObjectName(name);
            return widget;
        }
        return QUiLoader::createWidget(className, parent, name);
    }

private:
    const QHash<QString, LayoutLoader::Control>& m_controls;
};

/// Fonts and colours given as layout-only settings on widgets that have no property of that name.
void applyLayoutSettings(QWidget& root)
{
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(&root);
    for (QWidget* widget : widgets) {
        const QMetaObject* meta = widget->metaObject();
        const QVariant typeface = widget->property(LayoutChecker::typefaceProperty);
        if (typeface.isValid() && meta->indexOfProperty(LayoutChecker::typefaceProperty) < 0)
            widget->setFont(StdFont::parse(typeface.toString()).toQFont());
        const QVariant back = widget->property(LayoutChecker::backColorProperty);
        if (back.isValid() && meta->indexOfProperty(LayoutChecker::backColorProperty) < 0) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::Window, back.value<QColor>());
            palette.setColor(QPalette::Base, back.value<QColor>());
            widget->setPalette(palette);
            widget->setAutoFillBackground(true);
        }
        const QVariant fore = widget->property(LayoutChecker::foreColorProperty);
        if (fore.isValid() && meta->indexOfProperty(LayoutChecker::foreColorProperty) < 0) {
            QPalette palette = widget->palette();
            palette.setColor(QPalette::WindowText, fore.value<QColor>());
            palette.setColor(QPalette::Text, fore.value<QColor>());
            palette.setColor(QPalette::ButtonText, fore.value<QColor>());
            widget->setPalette(palette);
        }
    }
}

} // namespace

LayoutLoader::LayoutLoader() = default;
LayoutLoader::~LayoutLoader() = default;

void LayoutLoader::registerControl(const QString& className, const QMetaObject& meta, Factory factory)
{
    m_controls.insert(className, Control{&meta, std::move(factory)});
}

std::unique_ptr<QWidget> LayoutLoader::load(const QString& filePath) const
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        throw KalvoraError(QStringLiteral("Cannot read layout %1: %2").arg(filePath, file.errorString()));
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw KalvoraError(QStringLiteral("Cannot read layout %1: %2").arg(filePath, file.errorString()));

    const QStringList standard = QUiLoader().availableWidgets();
    LayoutChecker(filePath, m_controls, standard).check(content);

    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    ControlBuilder builder(m_controls);
    std::unique_ptr<QWidget> root(builder.load(&buffer));
    if (!root)
        throw KalvoraError(QStringLiteral("Layout %1 could not be built: %2").arg(filePath, builder.errorString()));
    applyLayoutSettings(*root);
    return root;
}
