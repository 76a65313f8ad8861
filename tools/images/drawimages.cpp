// Draws the store's widget images into one directory, each at the size its widget uses.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <cstdio>
#include <functional>

namespace
{

const QColor Lilac(0xb5, 0x97, 0xd4);
const QColor TitleBlue(0x79, 0xa8, 0xc7);

bool save(const QString &dir, const QString &name, int w, int h,
          const std::function<void(QPainter &)> &draw)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    // JPEG has no alpha: flatten onto white first.
    if (name.endsWith(QLatin1String(".jpg"))) {
        QImage flat(w, h, QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        image = flat;
    }
    const QString path = dir + QLatin1Char('/') + name;
    const int quality = name.endsWith(QLatin1String(".jpg")) ? 95 : -1;
    if (!image.save(path, nullptr, quality)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

void cross(QPainter &p, const QRectF &box, const QColor &color, qreal width)
{
    QPen pen(color, width, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.drawLine(box.topLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomLeft());
}

void roundedButton(QPainter &p, int w, int h, const QColor &fill, const QColor &border)
{
    p.setPen(QPen(border, 1));
    p.setBrush(fill);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 3, 3);
}

void badge(QPainter &p, int size, const QColor &color)
{
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(0.5, 0.5, size - 1, size - 1));
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawimages OUTPUT-DIRECTORY\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = true;

    // Message dialog, 353 x 178: a title band above a white body.
    ok &= save(dir, "bg.jpg", 353, 178, [](QPainter &p) {
        p.fillRect(0, 0, 353, 178, QColor(0xfb, 0xfb, 0xfc));
        QLinearGradient band(0, 0, 0, 40);
        band.setColorAt(0, TitleBlue.lighter(110));
        band.setColorAt(1, TitleBlue);
        p.fillRect(0, 0, 353, 40, band);
        p.setPen(QPen(QColor(0xd0, 0xd6, 0xdc), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(0.5, 0.5, 352, 177));
    });
    ok &= save(dir, "select_close.png", 33, 33, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 60));
        p.drawRoundedRect(QRectF(4, 4, 25, 25), 4, 4);
        cross(p, QRectF(11.5, 11.5, 10, 10), Qt::white, 2);
    });
    ok &= save(dir, "warn.png", 40, 40, [](QPainter &p) {
        badge(p, 40, QColor(0xf0, 0xa0, 0x30));
        p.setPen(QPen(Qt::white, 4.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(20, 10), QPointF(20, 23));
        p.drawPoint(QPointF(20, 30));
    });
    ok &= save(dir, "button_default.png", 76, 28,
               [](QPainter &p) { roundedButton(p, 76, 28, Qt::white, Lilac); });
    ok &= save(dir, "button_hover.png", 76, 28,
               [](QPainter &p) { roundedButton(p, 76, 28, Lilac, Lilac.darker(115)); });

    // Busy indicator, 48 x 48: twelve dots fading round the circle; it is rotated when shown.
    ok &= save(dir, "xsearch_loading.png", 48, 48, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 12; ++i) {
            const qreal angle = i * M_PI / 6;
            QColor c = TitleBlue.darker(120);
            c.setAlphaF(0.15 + 0.85 * i / 11.0);
            p.setBrush(c);
            const qreal r = 2 + 2.5 * i / 11.0;
            p.drawEllipse(QPointF(24 + 17 * qCos(angle), 24 + 17 * qSin(angle)), r, r);
        }
    });

    // Row controls.
    ok &= save(dir, "cancel_load.png", 10, 10, [](QPainter &p) {
        cross(p, QRectF(1.5, 1.5, 7, 7), QColor(0x99, 0x99, 0x99), 1.6);
    });
    ok &= save(dir, "cancel_load_hover.png", 10, 10, [](QPainter &p) {
        cross(p, QRectF(1.5, 1.5, 7, 7), QColor(0xe0, 0x40, 0x40), 1.8);
    });
    ok &= save(dir, "arrowdown.png", 10, 6, [](QPainter &p) {
        QPainterPath path;
        path.moveTo(0.5, 0.5);
        path.lineTo(9.5, 0.5);
        path.lineTo(5, 5.5);
        path.closeSubpath();
        p.fillPath(path, QColor(0x6a, 0x4f, 0x8a));
    });

    // Download manager.
    ok &= save(dir, "icon48.png", 48, 48, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(4, 4, 40, 40), 9, 9);
        QPen pen(TitleBlue.darker(110), 4.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
        p.setPen(pen);
        p.drawLine(QPointF(24, 12), QPointF(24, 29));
        p.drawPolyline(QPolygonF({QPointF(16, 22), QPointF(24, 30), QPointF(32, 22)}));
        p.drawLine(QPointF(14, 36), QPointF(34, 36));
    });
    ok &= save(dir, "close_loaddialog.png", 16, 16,
               [](QPainter &p) { cross(p, QRectF(3.5, 3.5, 9, 9), Qt::white, 2); });
    ok &= save(dir, "close_bd.png", 30, 30, [](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 70));
        p.drawRoundedRect(QRectF(1, 1, 28, 28), 4, 4);
    });
    ok &= save(dir, "finish.png", 16, 16, [](QPainter &p) {
        badge(p, 16, QColor(0x3c, 0xb3, 0x71));
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({QPointF(4.5, 8.5), QPointF(7, 11), QPointF(11.5, 5.5)}));
    });
    ok &= save(dir, "loadfail.png", 16, 16, [](QPainter &p) {
        badge(p, 16, QColor(0xe0, 0x4b, 0x4b));
        cross(p, QRectF(5, 5, 6, 6), Qt::white, 2);
    });
    return ok ? 0 : 1;
}
