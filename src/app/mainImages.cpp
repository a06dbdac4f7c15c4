#include "app/mainImages.h"

#include <cmath>
#include <functional>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

namespace {

// Draws a picture designed on a 24 x 24 grid into a pixmap of the given edge length.
QPixmap Draw(int edge, const std::function<void(QPainter&)>& paint)
{
    QPixmap pixmap(edge, edge);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(edge / 24.0, edge / 24.0);
    paint(painter);
    return pixmap;
}

QIcon Icon(const std::function<void(QPainter&)>& paint, std::initializer_list<int> edges)
{
    QIcon icon;
    for (int edge : edges)
        icon.addPixmap(Draw(edge, paint));
    return icon;
}

void Monitor(QPainter& p, const QRectF& body, bool lit)
{
    // Stand
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x5b, 0x63, 0x6c));
    const double cx = body.center().x();
    p.drawRect(QRectF(cx - 1.5, body.bottom(), 3, 2.5));
    p.setBrush(QColor(0x44, 0x4b, 0x53));
    p.drawRoundedRect(QRectF(cx - 5, body.bottom() + 2.2, 10, 2), 1, 1);

    // Case
    QLinearGradient caseGradient(body.topLeft(), body.bottomLeft());
    caseGradient.setColorAt(0, QColor(0x5f, 0x68, 0x73));
    caseGradient.setColorAt(1, QColor(0x32, 0x38, 0x3f));
    p.setPen(QPen(QColor(0x23, 0x28, 0x2e), 0.8));
    p.setBrush(caseGradient);
    p.drawRoundedRect(body, 1.6, 1.6);

    // Screen
    const QRectF screen = body.adjusted(1.6, 1.6, -1.6, -1.6);
    QLinearGradient screenGradient(screen.topLeft(), screen.bottomRight());
    if (lit) {
        screenGradient.setColorAt(0, QColor(0x8e, 0xd8, 0xff));
        screenGradient.setColorAt(1, QColor(0x1e, 0x7b, 0xd6));
    } else {
        screenGradient.setColorAt(0, QColor(0x6b, 0x71, 0x78));
        screenGradient.setColorAt(1, QColor(0x2c, 0x30, 0x35));
    }
    p.setPen(Qt::NoPen);
    p.setBrush(screenGradient);
    p.drawRect(screen);

    // A glint across the upper left of the glass
    QPainterPath glint;
    glint.moveTo(screen.topLeft());
    glint.lineTo(screen.left() + screen.width() * 0.55, screen.top());
    glint.lineTo(screen.left(), screen.top() + screen.height() * 0.7);
    glint.closeSubpath();
    p.setBrush(QColor(255, 255, 255, lit ? 70 : 35));
    p.drawPath(glint);
}

void Badge(QPainter& p, const QPointF& centre, double radius, const QColor& colour)
{
    QRadialGradient gradient(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    gradient.setColorAt(0, colour.lighter(150));
    gradient.setColorAt(1, colour);
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(gradient);
    p.drawEllipse(centre, radius, radius);
}

void DrawComputer(QPainter& p, bool online)
{
    Monitor(p, QRectF(1.5, 2.5, 19, 14), online);
    if (online) {
        Badge(p, QPointF(18.5, 18.5), 4.4, QColor(0x1f, 0xa3, 0x3a));
        // Tick
        p.setPen(QPen(Qt::white, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPolyline(QPolygonF({QPointF(16.4, 18.6), QPointF(18.0, 20.2), QPointF(20.8, 17.0)}));
    } else {
        Badge(p, QPointF(18.5, 18.5), 4.4, QColor(0xc6, 0x28, 0x28));
        // Bar
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16.5, 18.5), QPointF(20.5, 18.5));
    }
}

void DrawNewComputer(QPainter& p)
{
    Monitor(p, QRectF(1.5, 3, 17, 12.5), true);
    Badge(p, QPointF(18, 17.5), 5, QColor(0x2e, 0x9d, 0x3f));
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(18, 15), QPointF(18, 20));
    p.drawLine(QPointF(15.5, 17.5), QPointF(20.5, 17.5));
}

void DrawWakeUp(QPainter& p)
{
    QPainterPath bolt;
    bolt.moveTo(13.5, 1.5);
    bolt.lineTo(4.5, 13.5);
    bolt.lineTo(11, 13.5);
    bolt.lineTo(9, 22.5);
    bolt.lineTo(19.5, 9.5);
    bolt.lineTo(13, 9.5);
    bolt.closeSubpath();
    QLinearGradient gradient(0, 1.5, 0, 22.5);
    gradient.setColorAt(0, QColor(0xff, 0xe0, 0x5a));
    gradient.setColorAt(1, QColor(0xf5, 0x9b, 0x0b));
    p.setPen(QPen(QColor(0xa8, 0x5c, 0x00), 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(gradient);
    p.drawPath(bolt);
}

void DrawProperties(QPainter& p)
{
    QPainterPath sheet;
    sheet.moveTo(4.5, 1.5);
    sheet.lineTo(15, 1.5);
    sheet.lineTo(19.5, 6);
    sheet.lineTo(19.5, 22.5);
    sheet.lineTo(4.5, 22.5);
    sheet.closeSubpath();
    p.setPen(QPen(QColor(0x6a, 0x74, 0x80), 1));
    p.setBrush(QColor(0xfb, 0xfc, 0xfd));
    p.drawPath(sheet);
    p.setBrush(QColor(0xd5, 0xdb, 0xe2));
    p.drawPolygon(QPolygonF({QPointF(15, 1.5), QPointF(15, 6), QPointF(19.5, 6)}));
    p.setPen(QPen(QColor(0x3d, 0x7e, 0xc9), 1.6, Qt::SolidLine, Qt::RoundCap));
    for (double y : {9.5, 13.0, 16.5})
        p.drawLine(QPointF(7.5, y), QPointF(16.5, y));
    p.drawLine(QPointF(7.5, 20), QPointF(12.5, 20));
}

void DrawDelete(QPainter& p)
{
    p.setPen(QPen(QColor(0x8e, 0x12, 0x12), 5.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(18.5, 18.5));
    p.drawLine(QPointF(18.5, 5.5), QPointF(5.5, 18.5));
    p.setPen(QPen(QColor(0xe5, 0x39, 0x35), 3.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(5.5, 5.5), QPointF(18.5, 18.5));
    p.drawLine(QPointF(18.5, 5.5), QPointF(5.5, 18.5));
}

void DrawProfessional(QPainter& p)
{
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
        const double angle = -M_PI / 2 + i * M_PI / 5;
        const double radius = i % 2 == 0 ? 10.5 : 4.4;
        star << QPointF(12 + radius * std::cos(angle), 12.8 + radius * std::sin(angle));
    }
    QLinearGradient gradient(0, 2, 0, 22);
    gradient.setColorAt(0, QColor(0xff, 0xe8, 0x7c));
    gradient.setColorAt(1, QColor(0xf0, 0xa2, 0x00));
    p.setPen(QPen(QColor(0xa6, 0x6a, 0x00), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(gradient);
    p.drawPolygon(star);
}

void DrawWebLink(QPainter& p)
{
    const QPointF centre(12, 12);
    QRadialGradient gradient(QPointF(8.5, 8), 14);
    gradient.setColorAt(0, QColor(0x9a, 0xd4, 0xff));
    gradient.setColorAt(1, QColor(0x15, 0x65, 0xc0));
    p.setPen(QPen(QColor(0x0d, 0x47, 0xa1), 1.1));
    p.setBrush(gradient);
    p.drawEllipse(centre, 10, 10);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 200), 1));
    p.drawEllipse(centre, 4.5, 10);
    p.drawLine(QPointF(12, 2), QPointF(12, 22));
    p.drawLine(QPointF(2, 12), QPointF(22, 12));
    p.drawLine(QPointF(3.6, 7), QPointF(20.4, 7));
    p.drawLine(QPointF(3.6, 17), QPointF(20.4, 17));
}

} // namespace

QIcon ComputerImage(bool online)
{
    return Icon([online](QPainter& p) { DrawComputer(p, online); }, {24});
}

QIcon OtherMacImage()
{
    return Icon(
        [](QPainter& p) {
            Monitor(p, QRectF(1.5, 2.5, 19, 14), true);
            Badge(p, QPointF(18.5, 18.5), 4.4, QColor(0xe0, 0x8a, 0x00));
            // Exclamation mark
            p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(18.5, 16.2), QPointF(18.5, 18.8));
            p.drawPoint(QPointF(18.5, 20.9));
        },
        {24});
}

QIcon CommandImage(TCommandImage image)
{
    std::function<void(QPainter&)> paint;
    switch (image) {
    case ciNewComputer:
        paint = DrawNewComputer;
        break;
    case ciWakeUp:
        paint = DrawWakeUp;
        break;
    case ciProperties:
        paint = DrawProperties;
        break;
    case ciDelete:
        paint = DrawDelete;
        break;
    case ciProfessional:
        paint = DrawProfessional;
        break;
    case ciWebLink:
        paint = DrawWebLink;
        break;
    }
    return Icon(paint, {16, 24});
}

QColor GreyLevel(const QColor& color, int addition)
{
    const int grey = qMin(qMin(addition, 100) + (color.red() + color.green() + color.blue()) / 3, 240);
    return QColor(grey, grey, grey);
}

QImage GreyedImage(const QImage& source, const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(255, 0, 255));
    {
        QPainter painter(&image);
        painter.drawImage(0, 0, source);
    }
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = GreyLevel(QColor(line[x]), 30).rgb();
    }
    // The grey of the top-left pixel is the transparent colour, as the image list keeps it.
    const QRgb transparent = image.pixel(0, 0);
    QImage result = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x)
            if ((line[x] & 0xFFFFFFu) == (transparent & 0xFFFFFFu))
                line[x] = 0;
    }
    return result;
}

void MakeDisabledImages(QList<QIcon>& images, const QList<QSize>& sizes)
{
    for (QIcon& image : images) {
        for (const QSize& size : sizes) {
            const QImage source = image.pixmap(size).toImage();
            image.addPixmap(QPixmap::fromImage(GreyedImage(source, size)), QIcon::Disabled);
        }
    }
}
