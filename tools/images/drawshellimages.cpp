// Draws the main window's images into one directory, each at the size its widget shows it:
// title bar, navigation buttons, window buttons, category icons, the loading animation,
// check marks, rating stars.

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
const QColor Plum(0x6d, 0x5a, 0x9c);
const QColor SkyBlue(0x79, 0xa8, 0xc7);

using Draw = std::function<void(QPainter &)>;

bool save(const QString &dir, const QString &name, int w, int h, const Draw &draw)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        draw(p);
    }
    const bool jpeg = name.endsWith(QLatin1String(".jpg"));
    if (jpeg)
        image = image.convertToFormat(QImage::Format_RGB32);
    const QString path = dir + QLatin1Char('/') + name;
    if (!image.save(path, nullptr, jpeg ? 95 : -1)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QPen roundPen(const QColor &color, qreal width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The three navigation glyphs, drawn in white into a 28 x 28 box at (x, y).
void houseGlyph(QPainter &p, qreal x, qreal y)
{
    p.setPen(roundPen(Qt::white, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{x + 2, y + 14}, {x + 14, y + 3}, {x + 26, y + 14}}));
    p.drawPolyline(
        QPolygonF({{x + 6, y + 11}, {x + 6, y + 26}, {x + 22, y + 26}, {x + 22, y + 11}}));
    p.drawRect(QRectF(x + 11.5, y + 17, 5, 9));
}

void upgradeGlyph(QPainter &p, qreal x, qreal y)
{
    p.setPen(roundPen(Qt::white, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(x + 2, y + 2, 24, 24));
    p.drawLine(QPointF(x + 14, y + 20), QPointF(x + 14, y + 8));
    p.drawPolyline(QPolygonF({{x + 9, y + 13}, {x + 14, y + 8}, {x + 19, y + 13}}));
}

void trashGlyph(QPainter &p, qreal x, qreal y)
{
    p.setPen(roundPen(Qt::white, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(x + 4, y + 7), QPointF(x + 24, y + 7));
    p.drawPolyline(QPolygonF({{x + 10, y + 7}, {x + 11, y + 3}, {x + 17, y + 3}, {x + 18, y + 7}}));
    p.drawPolyline(
        QPolygonF({{x + 7, y + 7}, {x + 8.5, y + 26}, {x + 19.5, y + 26}, {x + 21, y + 7}}));
    p.drawLine(QPointF(x + 12, y + 12), QPointF(x + 12, y + 21));
    p.drawLine(QPointF(x + 16, y + 12), QPointF(x + 16, y + 21));
}

// A navigation button background, 99 x 86: the glyph above the place where the white text
// sits (the style sheet pads the text 35 px down); the selected look adds a light panel and
// a bar along the bottom edge.
Draw navButton(void (*glyph)(QPainter &, qreal, qreal), bool selected)
{
    return [glyph, selected](QPainter &p) {
        if (selected) {
            p.fillRect(QRectF(0, 0, 99, 86), QColor(255, 255, 255, 46));
            p.fillRect(QRectF(0, 82, 99, 4), QColor(255, 255, 255, 230));
        }
        glyph(p, 35.5, 12);
    };
}

// Window buttons, 33 x 33; the hover look puts a light square behind the glyph.
Draw windowButton(const std::function<void(QPainter &)> &glyph, bool hover, const QColor &back)
{
    return [glyph, hover, back](QPainter &p) {
        if (hover) {
            p.setPen(Qt::NoPen);
            p.setBrush(back);
            p.drawRoundedRect(QRectF(4, 4, 25, 25), 4, 4);
        }
        glyph(p);
    };
}

void magnifier(QPainter &p, const QColor &color)
{
    p.setPen(roundPen(color, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 5, 11, 11));
    p.drawLine(QPointF(14.5, 14.5), QPointF(20, 20));
}

// A category icon, 20 x 20: a rounded tile in the category's colour with a white symbol.
Draw categoryIcon(const QColor &tile, const std::function<void(QPainter &)> &symbol)
{
    return [tile, symbol](QPainter &p) {
        p.setPen(Qt::NoPen);
        p.setBrush(tile);
        p.drawRoundedRect(QRectF(0.5, 0.5, 19, 19), 4.5, 4.5);
        p.setPen(roundPen(Qt::white, 1.6));
        p.setBrush(Qt::NoBrush);
        symbol(p);
    };
}

// One frame of the loading animation, 106 x 105: eight dots on a ring, the one of this frame
// darkest, the ones behind it fading.
Draw loadingFrame(int frame)
{
    return [frame](QPainter &p) {
        p.setPen(Qt::NoPen);
        const QPointF centre(53, 52.5);
        for (int i = 0; i < 8; ++i) {
            const int behind = (frame - 1 - i + 8) % 8;
            QColor c = Lilac.darker(115);
            c.setAlphaF(1.0 - behind * 0.11);
            p.setBrush(c);
            const qreal angle = -M_PI / 2 + i * M_PI / 4;
            const qreal radius = 8.5 - behind * 0.6;
            p.drawEllipse(centre + QPointF(32 * qCos(angle), 32 * qSin(angle)), radius, radius);
        }
    };
}

// Check-box and table indicators, 12 x 12.
Draw checkBox(const QColor &border, const QColor &fill, int mark)
{
    return [border, fill, mark](QPainter &p) {
        p.setPen(QPen(border, 1));
        p.setBrush(fill);
        p.drawRoundedRect(QRectF(0.5, 0.5, 11, 11), 2, 2);
        p.setPen(roundPen(Qt::white, 1.6));
        if (mark == 1)
            p.drawPolyline(QPolygonF({{3, 6.2}, {5.2, 8.4}, {9.2, 3.8}}));
        else if (mark == 2)
            p.drawLine(QPointF(3.2, 6), QPointF(8.8, 6));
    };
}

QPainterPath starPath(qreal size)
{
    QPainterPath path;
    const QPointF centre(size / 2, size / 2 + 0.4);
    for (int i = 0; i < 10; ++i) {
        const qreal r = (i % 2 == 0) ? size / 2 - 0.5 : size / 4.6;
        const qreal angle = -M_PI / 2 + i * M_PI / 5;
        const QPointF point = centre + QPointF(r * qCos(angle), r * qSin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: drawshellimages OUTPUT-DIRECTORY\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    bool ok = true;

    // The store's logo, 46 x 46 (also the window icon): a shopping bag on a lilac tile.
    ok &= save(dir, "logo.png", 46, 46, [](QPainter &p) {
        QLinearGradient tile(0, 0, 46, 46);
        tile.setColorAt(0, Lilac.lighter(112));
        tile.setColorAt(1, Plum);
        p.setPen(Qt::NoPen);
        p.setBrush(tile);
        p.drawRoundedRect(QRectF(1, 1, 44, 44), 10, 10);
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(11, 17, 24, 20), 3, 3);
        p.setPen(roundPen(Qt::white, 2.6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(17, 9, 12, 14), 0, 180 * 16);
        p.setPen(roundPen(Plum, 2.4));
        p.drawPolyline(QPolygonF({{18, 26}, {22, 30}, {28, 23}}));
    });

    // Title bar, 897 x 86.
    ok &= save(dir, "background.jpg", 897, 86, [](QPainter &p) {
        QLinearGradient band(0, 0, 897, 0);
        band.setColorAt(0, Plum);
        band.setColorAt(0.55, Lilac.darker(118));
        band.setColorAt(1, SkyBlue.darker(112));
        p.fillRect(0, 0, 897, 86, band);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 14));
        p.drawEllipse(QPointF(600, 140), 170, 110);
        p.drawEllipse(QPointF(830, -30), 120, 80);
        p.fillRect(0, 85, 897, 1, QColor(0, 0, 0, 40));
    });

    ok &= save(dir, "shouye-select.png", 99, 86, navButton(houseGlyph, true));
    ok &= save(dir, "shouye-unselect.png", 99, 86, navButton(houseGlyph, false));
    ok &= save(dir, "shengji-select.png", 99, 86, navButton(upgradeGlyph, true));
    ok &= save(dir, "shengji-unselect.png", 99, 86, navButton(upgradeGlyph, false));
    ok &= save(dir, "xiezai-select.png", 99, 86, navButton(trashGlyph, true));
    ok &= save(dir, "xiezai-unselect.png", 99, 86, navButton(trashGlyph, false));

    // Window buttons.
    const QColor hoverBack(255, 255, 255, 60);
    const auto minGlyph = [](QPainter &p) {
        p.setPen(roundPen(Qt::white, 2));
        p.drawLine(QPointF(11.5, 17), QPointF(21.5, 17));
    };
    const auto maxGlyph = [](QPainter &p) {
        p.setPen(roundPen(Qt::white, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(11.5, 11.5, 10, 10));
    };
    const auto closeGlyph = [](QPainter &p) {
        p.setPen(roundPen(Qt::white, 2));
        p.drawLine(QPointF(11.5, 11.5), QPointF(21.5, 21.5));
        p.drawLine(QPointF(21.5, 11.5), QPointF(11.5, 21.5));
    };
    const auto helpGlyph = [](QPainter &p) {
        p.setPen(roundPen(Qt::white, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(8.5, 8.5, 16, 16));
        QPainterPath hook;
        hook.moveTo(13.8, 14.2);
        hook.cubicTo(13.8, 10.6, 19.4, 10.6, 19.4, 14.0);
        hook.cubicTo(19.4, 16.4, 16.5, 16.4, 16.5, 19.0);
        p.drawPath(hook);
        p.drawPoint(QPointF(16.5, 21.6));
    };
    ok &= save(dir, "min.png", 33, 33, windowButton(minGlyph, false, hoverBack));
    ok &= save(dir, "select_min.png", 33, 33, windowButton(minGlyph, true, hoverBack));
    ok &= save(dir, "max.png", 33, 33, windowButton(maxGlyph, false, hoverBack));
    ok &= save(dir, "select_max.png", 33, 33, windowButton(maxGlyph, true, hoverBack));
    ok &= save(dir, "close.png", 33, 33, windowButton(closeGlyph, false, hoverBack));
    ok &= save(dir, "btn_helper.png", 33, 33, windowButton(helpGlyph, false, hoverBack));
    ok &= save(dir, "select-btn_helper.png", 33, 33, windowButton(helpGlyph, true, hoverBack));

    // Search button inside the search field, 25 x 25, on a white field.
    ok &= save(dir, "search.png", 25, 25,
               [](QPainter &p) { magnifier(p, QColor(0xa4, 0xa4, 0xa4)); });
    ok &= save(dir, "select_search.png", 25, 25, [](QPainter &p) { magnifier(p, Plum); });

    // Download manager button, 28 x 28.
    ok &= save(dir, "loadmanager.png", 28, 28, [](QPainter &p) {
        p.setPen(roundPen(Qt::white, 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawLine(QPointF(14, 4), QPointF(14, 17));
        p.drawPolyline(QPolygonF({{8.5, 12}, {14, 17.5}, {19.5, 12}}));
        p.drawPolyline(QPolygonF({{4, 17}, {4, 23.5}, {24, 23.5}, {24, 17}}));
    });

    // Refresh icon of the upgrade page, 16 x 16.
    ok &= save(dir, "update.png", 16, 16, [](QPainter &p) {
        p.setPen(roundPen(Plum, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(2.5, 2.5, 11, 11), 60 * 16, 280 * 16);
        QPainterPath head;
        head.moveTo(9.2, 0.8);
        head.lineTo(12.8, 3.2);
        head.lineTo(9.0, 5.6);
        head.closeSubpath();
        p.fillPath(head, Plum);
    });

    // Category icons, 20 x 20.
    struct Category {
        const char *file;
        QColor tile;
        std::function<void(QPainter &)> symbol;
    };
    const Category categories[] = {
        {"all_app.png", QColor(0x78, 0xa8, 0xc7),
         [](QPainter &p) {
             for (int i = 0; i < 4; ++i)
                 p.drawRect(QRectF(5 + (i % 2) * 6, 5 + (i / 2) * 6, 4, 4));
         }},
        {"office_app.png", QColor(0x4a, 0x8f, 0xd9),
         [](QPainter &p) {
             p.drawRect(QRectF(6, 4.5, 8, 11));
             p.drawLine(QPointF(8, 8), QPointF(12, 8));
             p.drawLine(QPointF(8, 11), QPointF(12, 11));
         }},
        {"program_app.png", QColor(0x3c, 0x4a, 0x5e),
         [](QPainter &p) {
             p.drawPolyline(QPolygonF({{7.5, 6}, {4, 10}, {7.5, 14}}));
             p.drawPolyline(QPolygonF({{12.5, 6}, {16, 10}, {12.5, 14}}));
         }},
        {"industy_app.png", QColor(0x8a, 0x6d, 0x4b),
         [](QPainter &p) {
             p.drawPolyline(QPolygonF({{4, 15.5},
                                       {4, 9},
                                       {8, 11.5},
                                       {8, 9},
                                       {12, 11.5},
                                       {12, 5},
                                       {16, 5},
                                       {16, 15.5},
                                       {4, 15.5}}));
         }},
        {"teach_app.png", QColor(0xe0, 0x8a, 0x2e),
         [](QPainter &p) {
             p.drawPolygon(QPolygonF({{10, 5}, {17, 8.5}, {10, 12}, {3, 8.5}}));
             p.drawPolyline(QPolygonF({{6, 10}, {6, 13.5}, {10, 15.5}, {14, 13.5}, {14, 10}}));
         }},
        {"tools_app.png", QColor(0x5d, 0x9b, 0x6a),
         [](QPainter &p) {
             p.drawLine(QPointF(5.5, 14.5), QPointF(12, 8));
             p.drawEllipse(QRectF(11, 4.5, 5, 5));
         }},
        {"video_app.png", QColor(0xd9, 0x4f, 0x4f),
         [](QPainter &p) {
             p.drawRoundedRect(QRectF(4, 5.5, 12, 9), 1.5, 1.5);
             p.setBrush(Qt::white);
             p.drawPolygon(QPolygonF({{8.5, 7.8}, {12, 10}, {8.5, 12.2}}));
         }},
        {"image_app.png", QColor(0xb5, 0x6f, 0xc4),
         [](QPainter &p) {
             p.drawRect(QRectF(4, 5, 12, 10));
             p.drawPolyline(QPolygonF({{5, 14}, {9, 9.5}, {12, 12.5}, {13.5, 11}, {15.5, 13.5}}));
         }},
        {"network_app.png", QColor(0x2e, 0x9c, 0xb8),
         [](QPainter &p) {
             p.drawEllipse(QRectF(4, 4, 12, 12));
             p.drawEllipse(QRectF(7.5, 4, 5, 12));
             p.drawLine(QPointF(4, 10), QPointF(16, 10));
         }},
        {"system_app.png", QColor(0x6b, 0x72, 0x80),
         [](QPainter &p) {
             p.drawEllipse(QRectF(7, 7, 6, 6));
             for (int i = 0; i < 8; ++i) {
                 const qreal a = i * M_PI / 4;
                 p.drawLine(QPointF(10 + 4.5 * qCos(a), 10 + 4.5 * qSin(a)),
                            QPointF(10 + 6.5 * qCos(a), 10 + 6.5 * qSin(a)));
             }
         }},
        {"compress_app.png", QColor(0xc9, 0xa2, 0x27),
         [](QPainter &p) {
             p.drawRect(QRectF(5, 4.5, 10, 11));
             for (int i = 0; i < 3; ++i)
                 p.drawLine(QPointF(9, 6 + i * 2.5), QPointF(11, 6 + i * 2.5));
         }},
        {"audio_app.png", QColor(0xe5, 0x6b, 0x9a),
         [](QPainter &p) {
             p.drawLine(QPointF(12.5, 5), QPointF(12.5, 13));
             p.drawLine(QPointF(12.5, 5), QPointF(15.5, 6.5));
             p.setBrush(Qt::white);
             p.drawEllipse(QRectF(7.5, 11, 5, 4));
         }},
        {"game_app.png", QColor(0x7a, 0x5c, 0xc9),
         [](QPainter &p) {
             p.drawRoundedRect(QRectF(3.5, 7, 13, 7), 3, 3);
             p.drawLine(QPointF(6.5, 10.5), QPointF(9.5, 10.5));
             p.drawLine(QPointF(8, 9), QPointF(8, 12));
             p.drawPoint(QPointF(13.5, 10.5));
         }},
        {"other_app.png", QColor(0x9a, 0xa3, 0xae),
         [](QPainter &p) {
             for (int i = 0; i < 3; ++i)
                 p.drawPoint(QPointF(6 + i * 4, 10));
         }},
    };
    for (const Category &category : categories)
        ok &= save(dir, category.file, 20, 20, categoryIcon(category.tile, category.symbol));

    for (int frame = 1; frame <= 8; ++frame)
        ok &=
            save(dir, QStringLiteral("progress_%1.png").arg(frame), 106, 105, loadingFrame(frame));

    ok &= save(dir, "check_default.png", 12, 12, checkBox(QColor(0xa0, 0xa0, 0xa0), Qt::white, 0));
    ok &= save(dir, "check_hover.png", 12, 12, checkBox(Lilac, QColor(0xf5, 0xf0, 0xfa), 0));
    ok &= save(dir, "check_select.png", 12, 12, checkBox(Lilac.darker(110), Lilac, 1));
    ok &= save(dir, "check_part.png", 12, 12, checkBox(Lilac.darker(110), Lilac, 2));

    // Rating stars inside the name cell, 14 x 14.
    ok &= save(dir, "full_star.png", 14, 14,
               [](QPainter &p) { p.fillPath(starPath(14), QColor(0xf5, 0xb3, 0x1b)); });
    ok &= save(dir, "empty_star.png", 14, 14, [](QPainter &p) {
        p.setPen(QPen(QColor(0xc8, 0xc8, 0xc8), 1));
        p.setBrush(QColor(0xf2, 0xf2, 0xf2));
        p.drawPath(starPath(14));
    });
    return ok ? 0 : 1;
}
