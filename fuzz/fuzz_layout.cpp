// libFuzzer harness over the layout checker and loader: arbitrary bytes as a window layout. Whatever
// they are, LayoutLoader::build must either refuse them with a KalvoraError or build a widget tree
// that can be drawn and destroyed; a crash, a sanitizer report, any other exception, a timeout or
// running out of memory is a finding. See README.md.

#include "KalvoraError.h"
#include "LayoutLoader.h"
#include "PictureBox.h"
#include "TimerControl.h"

#include <QApplication>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

/// One stand-in for every runtime control class the layouts name, with the kinds of stored settings
/// they carry, so that seeds pass the class checks and their properties are checked and set.
class Probe final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString processVariable MEMBER m_text)
    Q_PROPERTY(QString textGroup MEMBER m_text)
    Q_PROPERTY(QString textKey MEMBER m_text)
    Q_PROPERTY(QString onKey MEMBER m_text)
    Q_PROPERTY(QString offKey MEMBER m_text)
    Q_PROPERTY(QString typeface MEMBER m_text)
    Q_PROPERTY(QString unitText MEMBER m_text)
    Q_PROPERTY(QString valueText MEMBER m_text)
    Q_PROPERTY(QString marks MEMBER m_text)
    Q_PROPERTY(QString flowPath MEMBER m_text)
    Q_PROPERTY(QString pictureOn MEMBER m_text)
    Q_PROPERTY(QString pictureOff MEMBER m_text)
    Q_PROPERTY(QString bagFile MEMBER m_text)
    Q_PROPERTY(QString caption MEMBER m_text)
    Q_PROPERTY(QString alarmGroup MEMBER m_text)
    Q_PROPERTY(QString columnCode MEMBER m_text)
    Q_PROPERTY(QString dateFormat MEMBER m_text)
    Q_PROPERTY(QString timeFormat MEMBER m_text)
    Q_PROPERTY(QString projectName MEMBER m_text)
    Q_PROPERTY(QColor backColor MEMBER m_color)
    Q_PROPERTY(QColor foreColor MEMBER m_color)
    Q_PROPERTY(QColor flowColor MEMBER m_color)
    Q_PROPERTY(QColor barColor MEMBER m_color)
    Q_PROPERTY(QColor fillColor MEMBER m_color)
    Q_PROPERTY(QColor lineColor MEMBER m_color)
    Q_PROPERTY(int decimals MEMBER m_number)
    Q_PROPERTY(int pipeWidth MEMBER m_number)
    Q_PROPERTY(int lineWidth MEMBER m_number)
    Q_PROPERTY(double scaleMax MEMBER m_real)
    Q_PROPERTY(bool blinkUnacknowledged MEMBER m_flag)
    Q_PROPERTY(Qt::Alignment alignment MEMBER m_alignment)

public:
    using QWidget::QWidget;

private:
    QString m_text;
    QColor m_color;
    int m_number = 0;
    double m_real = 0.0;
    bool m_flag = false;
    Qt::Alignment m_alignment;
};

LayoutLoader* loader = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Messages of refused pictures and the like would flood the fuzzer's output.
    qputenv("QT_LOGGING_RULES", "*=false");
    static QApplication app(*argc, *argv);
    QDir::setSearchPaths(QStringLiteral("layouts"), {QStringLiteral(KALVORA_SOURCE_LAYOUTS)});
    loader = new LayoutLoader;
    loader->registerControl(QStringLiteral("Timer"), TimerControl::staticMetaObject, [](QWidget* parent) { return new TimerControl(parent); });
    loader->registerControl(QStringLiteral("PictureBox"), PictureBox::staticMetaObject, [](QWidget* parent) { return new PictureBox(parent); });
    for (const char* name : {"QM4StartLib.QMStart", "QM4LanguageLib.QMLanguage", "QMSLanguageLib.QMSIndex", "QuelmirStudioLib.QMSVarOut",
             "QuelmirStudioLib.QMSBar", "QuelmirStudioLib.QMSFill", "QuelmirStudioLib.QMSPicBox", "QuelmirStudioLib.QMSShape",
             "QuelmirStudio2Lib.QMSSwitch", "QMSAlarmLib.QMSAlarmLine", "Kalvora.QMButton"})
        loader->registerControl(QString::fromLatin1(name), Probe::staticMetaObject, [](QWidget* parent) { return new Probe(parent); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        std::unique_ptr<QWidget> root = loader->build(content, QStringLiteral("fuzz.ui"));
        // Drawn into a small image: the painting of whatever the layout built, never a huge surface.
        QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        root->render(&painter, QPoint(), QRegion(0, 0, 32, 32));
    } catch (const KalvoraError&) {
        // A refusal with its reason: what bad input must get.
    } catch (...) {
        std::abort(); // anything else escaping the loader is a finding
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

#include "fuzz_layout.moc"
