// Renders every drawing in an art folder to a 24-bit PNG of the drawing's own size in a picture
// folder: layouts/art/FCentral.svg -> layouts/pictures/FCentral.png (1024 x 768).
//
// The output depends only on the drawing and the Qt version: no fonts (the drawings hold no text),
// no time stamps, and an opaque canvas, so rendering twice gives the same bytes.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QSvgRenderer>
#include <QTextStream>

namespace {

bool render(const QString& svgPath, const QString& pngPath, QTextStream& err)
{
    QSvgRenderer renderer(svgPath);
    if (!renderer.isValid()) {
        err << "renderart: " << svgPath << " is not a drawing the SVG renderer can read\n";
        return false;
    }
    const QSize size = renderer.defaultSize();
    if (size.isEmpty()) {
        err << "renderart: " << svgPath << " gives no width and height\n";
        return false;
    }
    QImage canvas(size, QImage::Format_RGB32);
    canvas.fill(Qt::white);
    {
        QPainter painter(&canvas);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    QImageWriter writer(pngPath, "png");
    if (!writer.write(canvas.convertToFormat(QImage::Format_RGB888))) {
        err << "renderart: cannot write " << pngPath << ": " << writer.errorString() << "\n";
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // The SVG renderer needs a GUI application object, not a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        err << "usage: renderart <art folder> <picture folder>\n";
        return 2;
    }
    const QDir artDir(args[1]);
    const QDir pictureDir(args[2]);
    const QStringList drawings = artDir.entryList({QStringLiteral("*.svg")}, QDir::Files, QDir::Name);
    if (drawings.isEmpty()) {
        err << "renderart: no drawings (*.svg) in " << artDir.path() << "\n";
        return 1;
    }
    if (!QDir().mkpath(pictureDir.path())) {
        err << "renderart: cannot create " << pictureDir.path() << "\n";
        return 1;
    }
    int failures = 0;
    for (const QString& drawing : drawings) {
        const QString png = pictureDir.filePath(QFileInfo(drawing).completeBaseName() + QStringLiteral(".png"));
        if (render(artDir.filePath(drawing), png, err))
            out << png << "\n";
        else
            ++failures;
    }
    return failures ? 1 : 0;
}
