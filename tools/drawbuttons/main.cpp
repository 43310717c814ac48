// Draws the navigation bar's button images and writes them as GIF files into layouts/buttons.
// The images are artwork: run this after changing a drawing, look at the result, then run makebag.

#include "GifWriter.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>

namespace {

// One calm palette for all buttons: slate outlines on light steel, colour only where it carries meaning
// (flags, water, alarm, curves, stop).
const QColor outline(60, 70, 80);
const QColor steel(200, 205, 210);
const QColor paper(250, 250, 250);
const QColor grid(205, 210, 215);
const QColor water(60, 130, 200);
const QColor warning(242, 194, 0);
const QColor stop(176, 32, 32);
const QColor curveBlue(30, 100, 190);
const QColor curveRed(200, 60, 40);
const QColor curveGreen(40, 140, 70);

QPen line(const QColor& colour, qreal width = 1.0)
{
    QPen pen(colour, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

/// A flag with a thin outline and a one-pixel shadow, so it reads as a badge on the key.
void drawFlag(QPainter& p, const QRectF& area, const std::function<void(QPainter&, const QRectF&)>& paint)
{
    p.fillRect(area.translated(1, 1), QColor(0, 0, 0, 60));
    p.save();
    p.setClipRect(area);
    paint(p, area);
    p.restore();
    p.setPen(line(outline));
    p.setBrush(Qt::NoBrush);
    p.drawRect(area.adjusted(0.5, 0.5, -0.5, -0.5));
}

void drawBadgeText(QPainter& p, const QRectF& area, const QString& text)
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    font.setBold(true);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(font);
    p.setPen(outline);
    p.drawText(area, Qt::AlignCenter, text);
}

void german(QPainter& p, const QSize& size)
{
    const QRectF flag((size.width() - 44) / 2.0, 7, 44, 27);
    drawFlag(p, flag, [](QPainter& q, const QRectF& r) {
        const qreal h = r.height() / 3.0;
        q.fillRect(QRectF(r.left(), r.top(), r.width(), h), QColor(0, 0, 0));
        q.fillRect(QRectF(r.left(), r.top() + h, r.width(), h), QColor(221, 0, 0));
        q.fillRect(QRectF(r.left(), r.top() + 2 * h, r.width(), h), QColor(255, 206, 0));
    });
    drawBadgeText(p, QRectF(0, 37, size.width(), 14), QStringLiteral("DE"));
}

void english(QPainter& p, const QSize& size)
{
    const QRectF flag((size.width() - 44) / 2.0, 7, 44, 27);
    drawFlag(p, flag, [](QPainter& q, const QRectF& r) {
        const QColor blue(1, 33, 105);
        const QColor red(200, 16, 46);
        q.fillRect(r, blue);
        const qreal unit = r.height() / 30.0;
        q.setPen(QPen(Qt::white, 6 * unit));
        q.drawLine(r.topLeft(), r.bottomRight());
        q.drawLine(r.bottomLeft(), r.topRight());
        q.setPen(QPen(red, 2 * unit));
        q.drawLine(r.topLeft(), r.bottomRight());
        q.drawLine(r.bottomLeft(), r.topRight());
        const QPointF c = r.center();
        q.fillRect(QRectF(r.left(), c.y() - 5 * unit, r.width(), 10 * unit), Qt::white);
        q.fillRect(QRectF(c.x() - 5 * unit, r.top(), 10 * unit, r.height()), Qt::white);
        q.fillRect(QRectF(r.left(), c.y() - 3 * unit, r.width(), 6 * unit), red);
        q.fillRect(QRectF(c.x() - 3 * unit, r.top(), 6 * unit, r.height()), red);
    });
    drawBadgeText(p, QRectF(0, 37, size.width(), 14), QStringLiteral("EN"));
}

/// A vessel with a water level: the building block of the plant picture.
void drawVessel(QPainter& p, const QRectF& body, qreal level)
{
    QPainterPath shape;
    shape.addRoundedRect(body, body.width() / 2.5, body.width() / 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(steel);
    p.drawPath(shape);
    p.save();
    p.setClipPath(shape);
    p.fillRect(QRectF(body.left(), body.bottom() - body.height() * level, body.width(), body.height() * level), water);
    p.restore();
    p.setPen(line(outline, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shape);
}

void overview(QPainter& p, const QSize&)
{
    // Three boilers feeding a common header into the storage tank.
    p.setPen(line(outline, 2.0));
    p.drawLine(QPointF(13, 50), QPointF(58, 50));
    for (const qreal x : {13.0, 27.0, 41.0})
        p.drawLine(QPointF(x, 42), QPointF(x, 50));
    p.drawLine(QPointF(58, 50), QPointF(58, 47));
    for (const qreal x : {8.0, 22.0, 36.0})
        drawVessel(p, QRectF(x, 14, 10, 28), 0.45);
    drawVessel(p, QRectF(49, 9, 18, 38), 0.6);
}

void alarms(QPainter& p, const QSize& size)
{
    const qreal cx = size.width() / 2.0;
    QPainterPath triangle;
    triangle.moveTo(cx, 8);
    triangle.lineTo(cx + 22, 50);
    triangle.lineTo(cx - 22, 50);
    triangle.closeSubpath();
    p.setPen(line(outline, 2.0));
    p.setBrush(warning);
    p.drawPath(triangle);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 30));
    QPainterPath mark;
    mark.moveTo(cx - 2.6, 22);
    mark.lineTo(cx + 2.6, 22);
    mark.lineTo(cx + 1.4, 38);
    mark.lineTo(cx - 1.4, 38);
    mark.closeSubpath();
    p.drawPath(mark);
    p.drawEllipse(QPointF(cx, 43.5), 2.4, 2.4);
}

/// A small chart: white plot with a light grid and axes; `curves` draws inside it.
void drawChart(QPainter& p, const QRectF& plot, const std::function<void(QPainter&, const QRectF&)>& curves)
{
    p.setPen(Qt::NoPen);
    p.setBrush(paper);
    p.drawRect(plot);
    p.setPen(line(grid, 1.0));
    for (int i = 1; i < 4; ++i) {
        const qreal y = std::round(plot.top() + plot.height() * i / 4.0) + 0.5;
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    for (int i = 1; i < 4; ++i) {
        const qreal x = std::round(plot.left() + plot.width() * i / 4.0) + 0.5;
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    }
    p.save();
    p.setClipRect(plot);
    curves(p, plot);
    p.restore();
    p.setPen(line(outline, 1.5));
    p.drawLine(plot.bottomLeft(), plot.topLeft() - QPointF(0, 2));
    p.drawLine(plot.bottomLeft(), plot.bottomRight() + QPointF(2, 0));
}

void drawCurve(QPainter& p, const QRectF& plot, const QColor& colour, const std::function<qreal(qreal)>& shape)
{
    QPainterPath path;
    const int steps = 40;
    for (int i = 0; i <= steps; ++i) {
        const qreal t = qreal(i) / steps;
        const QPointF point(plot.left() + t * plot.width(), plot.bottom() - shape(t) * plot.height());
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    p.setPen(line(colour, 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void trends(QPainter& p, const QSize&)
{
    drawChart(p, QRectF(12, 9, 52, 40), [](QPainter& q, const QRectF& r) {
        drawCurve(q, r, curveBlue, [](qreal t) { return 0.3 + 0.45 * (1 - std::exp(-3.5 * t)); });
        drawCurve(q, r, curveRed, [](qreal t) { return 0.45 + 0.18 * std::sin(6.0 * t + 0.4); });
    });
}

void freeTrends(QPainter& p, const QSize&)
{
    drawChart(p, QRectF(8, 9, 36, 40), [](QPainter& q, const QRectF& r) {
        drawCurve(q, r, curveBlue, [](qreal t) { return 0.25 + 0.5 * t * t; });
        drawCurve(q, r, curveGreen, [](qreal t) { return 0.55 + 0.15 * std::sin(7.0 * t); });
    });
    // The chooser: a list of curves with their colours, ticked where chosen.
    const QRectF list(49, 9, 20, 40);
    p.setPen(line(outline, 1.0));
    p.setBrush(paper);
    p.drawRect(list.adjusted(0.5, 0.5, -0.5, -0.5));
    const QColor swatches[] = {curveBlue, curveGreen, curveRed};
    const bool chosen[] = {true, true, false};
    for (int i = 0; i < 3; ++i) {
        const qreal y = list.top() + 6 + i * 11;
        p.setPen(Qt::NoPen);
        p.setBrush(swatches[i]);
        p.drawRect(QRectF(list.left() + 4, y, 5, 5));
        p.setPen(line(chosen[i] ? outline : grid, 1.6));
        if (chosen[i]) {
            p.drawLine(QPointF(list.left() + 11.5, y + 2.5), QPointF(list.left() + 13.5, y + 5));
            p.drawLine(QPointF(list.left() + 13.5, y + 5), QPointF(list.left() + 17, y - 0.5));
        } else {
            p.drawLine(QPointF(list.left() + 11.5, y + 2.5), QPointF(list.left() + 16.5, y + 2.5));
        }
    }
}

void exitButton(QPainter& p, const QSize& size)
{
    const QPointF c(size.width() / 2.0, 31);
    const qreal radius = 15;
    p.setPen(line(stop, 4.0));
    p.setBrush(Qt::NoBrush);
    // Arc open at the top, with the switch bar through the gap: the usual power symbol.
    p.drawArc(QRectF(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius), 60 * 16, -300 * 16);
    p.drawLine(QPointF(c.x(), c.y() - radius - 4), QPointF(c.x(), c.y() - 2));
}

struct Button {
    const char* file;
    QSize size;
    void (*draw)(QPainter&, const QSize&);
};

const Button buttons[] = {
    {"german.gif", {75, 55}, german},
    {"english.gif", {75, 55}, english},
    {"overview.gif", {75, 60}, overview},
    {"alarms.gif", {75, 60}, alarms},
    {"trends.gif", {75, 60}, trends},
    {"freetrends.gif", {75, 60}, freeTrends},
    {"exit.gif", {75, 60}, exitButton},
};

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArrayLiteral("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Draws the navigation bar's button images as GIF files."));
    options.addHelpOption();
    options.addPositionalArgument(QStringLiteral("folder"), QStringLiteral("where to write the images (default: layouts/buttons of the source tree)"));
    const QCommandLineOption preview(QStringLiteral("preview"),
                                     QStringLiteral("also write a PNG of the images as read back, on keys, enlarged"),
                                     QStringLiteral("png"));
    options.addOption(preview);
    options.process(app);
    const QString folder = options.positionalArguments().value(0, QStringLiteral(KALVORA_SOURCE_DIR "/layouts/buttons"));
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "drawbuttons: cannot create %s\n", qPrintable(folder));
        return 1;
    }
    for (const Button& button : buttons) {
        QImage image(button.size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setRenderHint(QPainter::TextAntialiasing);
            button.draw(painter, button.size);
        }
        const QString path = QDir(folder).filePath(QString::fromLatin1(button.file));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(GifWriter::encode(image)) < 0) {
            std::fprintf(stderr, "drawbuttons: cannot write %s: %s\n", qPrintable(path), qPrintable(file.errorString()));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    if (options.isSet(preview)) {
        // Read back through Qt's own GIF reader, as the bar will, and show them on button-face keys.
        constexpr int scale = 4;
        constexpr int key = 80;
        QImage sheet(QSize(key * int(std::size(buttons)), key) * scale, QImage::Format_RGB32);
        sheet.fill(QColor(160, 160, 160));
        QPainter painter(&sheet);
        painter.scale(scale, scale);
        for (int i = 0; i < int(std::size(buttons)); ++i) {
            const QImage image(QDir(folder).filePath(QString::fromLatin1(buttons[i].file)));
            const QRect face(i * key + 1, 1, key - 2, key - 2);
            painter.fillRect(face, QColor(240, 240, 240));
            painter.drawImage(face.topLeft() + QPoint((face.width() - image.width()) / 2, (face.height() - image.height()) / 2), image);
        }
        painter.end();
        if (!sheet.save(options.value(preview))) {
            std::fprintf(stderr, "drawbuttons: cannot write %s\n", qPrintable(options.value(preview)));
            return 1;
        }
    }
    return 0;
}
