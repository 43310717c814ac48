#include "LayoutLoader.h"

#include "KalvoraError.h"
#include "LayoutChecker.h"
#include "RegularFile.h"
#include "StdFont.h"

#include <QBuffer>
#include <QMetaProperty>
#include <QUiLoader>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTextBrowser>
#include <QTreeWidget>

#include <algorithm>

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

namespace {

/// Draws a window's background picture: a plain copy of the exposed part, which is far cheaper than
/// letting the toolkit fill the background with the picture as a pattern on every repaint.
class BackgroundPicture final : public QObject {
public:
    BackgroundPicture(QWidget& widget, QPixmap picture)
        : QObject(&widget)
        , m_picture(std::move(picture))
    {
        widget.setAttribute(Qt::WA_OpaquePaintEvent);
        widget.setAutoFillBackground(false);
        widget.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            auto* widget = static_cast<QWidget*>(watched);
            const QRegion& exposed = static_cast<QPaintEvent*>(event)->region();
            QPainter painter(widget);
            // Rectangle by rectangle: the bounding box of scattered small updates is most of the window.
            for (const QRect& area : exposed) {
                painter.drawPixmap(area.topLeft(), m_picture, area);
                for (const QRect& beyond : QRegion(area).subtracted(m_picture.rect()))
                    painter.fillRect(beyond, widget->palette().color(QPalette::Window));
            }
        }
        return false;
    }

private:
    QPixmap m_picture;
};

/// Chains the focus through the controls that carry a tab index, lowest first.
void applyTabOrder(const QList<QWidget*>& widgets)
{
    QList<std::pair<int, QWidget*>> ordered;
    for (QWidget* widget : widgets) {
        const QVariant index = widget->property(LayoutChecker::tabIndexProperty);
        if (index.isValid())
            ordered.append({index.toInt(), widget});
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (qsizetype i = 1; i < ordered.size(); ++i)
        QWidget::setTabOrder(ordered[i - 1].second, ordered[i].second);
}

/// Fonts, colours and pictures given as layout-only settings on widgets that have no such property.
void applyLayoutSettings(QWidget& root, const QString& filePath)
{
    QList<QWidget*> widgets = root.findChildren<QWidget*>();
    widgets.prepend(&root);
    applyTabOrder(widgets);
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
        const QVariant picture = widget->property(LayoutChecker::pictureProperty);
        if (picture.isValid() && meta->indexOfProperty(LayoutChecker::pictureProperty) < 0) {
            const QPixmap pixmap(picture.toString());
            if (pixmap.isNull())
                throw KalvoraError(QStringLiteral("%1: control \"%2\": cannot read picture %3")
                                       .arg(filePath, widget->objectName(), picture.toString()));
            new BackgroundPicture(*widget, pixmap);
        }
    }
}

} // namespace

LayoutLoader::LayoutLoader()
    : m_builder(std::make_unique<ControlBuilder>(m_controls))
    , m_standardClasses(m_builder->availableWidgets())
{
    // The common classes by their static description: a sample of each (a text browser, a tree) costs
    // milliseconds at start, and every layout is checked at start.
    for (const QMetaObject* meta : {&QWidget::staticMetaObject, &QFrame::staticMetaObject, &QLabel::staticMetaObject,
                                    &QPushButton::staticMetaObject, &QCheckBox::staticMetaObject, &QRadioButton::staticMetaObject,
                                    &QComboBox::staticMetaObject, &QLineEdit::staticMetaObject, &QGroupBox::staticMetaObject,
                                    &QListWidget::staticMetaObject, &QTreeWidget::staticMetaObject, &QTextBrowser::staticMetaObject})
        m_standardMeta.insert(QString::fromLatin1(meta->className()), meta);
}

LayoutLoader::~LayoutLoader() = default;

void LayoutLoader::registerControl(const QString& className, const QMetaObject& meta, Factory factory)
{
    m_controls.insert(className, Control{&meta, std::move(factory)});
}

const QMetaObject* LayoutLoader::classOf(const QString& className) const
{
    if (const auto it = m_controls.constFind(className); it != m_controls.constEnd())
        return it->meta;
    if (!m_standardClasses.contains(className))
        return nullptr;
    auto known = m_standardMeta.constFind(className);
    if (known == m_standardMeta.constEnd()) {
        // The toolkit names its standard classes but not their properties: one sample tells.
        const std::unique_ptr<QWidget> sample(m_builder->QUiLoader::createWidget(className, nullptr, QString()));
        known = m_standardMeta.insert(className, sample ? sample->metaObject() : nullptr);
    }
    return *known;
}

QByteArray LayoutLoader::read(const QString& filePath)
{
    RegularFile::Content content = RegularFile::read(filePath, LayoutChecker::maxFileBytes);
    if (!content.ok())
        throw KalvoraError(QStringLiteral("Cannot read layout %1").arg(content.message(filePath)));
    return std::move(content.bytes);
}

void LayoutLoader::checkContent(const QByteArray& content, const QString& sourceName) const
{
    // The file is read afresh every time; bytes that passed before pass again, so they are not
    // checked twice (the start checks every layout, then the first screens load at once).
    if (const auto it = m_passed.constFind(sourceName); it != m_passed.constEnd() && *it == content)
        return;
    LayoutChecker(sourceName, [this](const QString& className) { return classOf(className); }).check(content);
    m_passed.insert(sourceName, content);
}

std::unique_ptr<QWidget> LayoutLoader::load(const QString& filePath) const
{
    return build(read(filePath), filePath);
}

void LayoutLoader::check(const QString& filePath) const
{
    checkContent(read(filePath), filePath);
}

std::unique_ptr<QWidget> LayoutLoader::build(QByteArray content, const QString& sourceName) const
{
    checkContent(content, sourceName);

    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    std::unique_ptr<QWidget> root(m_builder->load(&buffer));
    if (!root)
        throw KalvoraError(QStringLiteral("Layout %1 could not be built: %2").arg(sourceName, m_builder->errorString()));
    applyLayoutSettings(*root, sourceName);
    return root;
}
