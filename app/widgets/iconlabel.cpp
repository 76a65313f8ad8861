#include "widgets/iconlabel.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QPixmapCache>
#include <QStyle>
#include <QStyleOption>

IconLabel::IconLabel(const QString &file, const QSize &size, QWidget *parent)
    : ShownOnlyInSight(parent), m_file(file), m_size(size)
{
}

int IconLabel::s_generation = 0;
int IconLabel::s_decoded = 0;

void IconLabel::imagesChanged()
{
    ++s_generation;
}

QPixmap IconLabel::picture() const
{
    if (m_file.isEmpty())
        return QPixmap();
    // Cached per generation of the image files, so that a paint costs no file look-up.
    const QString key = QStringLiteral("IconLabel:%1:%2x%3:%4")
                            .arg(m_file)
                            .arg(m_size.width())
                            .arg(m_size.height())
                            .arg(s_generation);
    QPixmap scaled;
    if (QPixmapCache::find(key, &scaled))
        return scaled;
    const QPixmap original = load(m_file);
    if (original.isNull())
        return QPixmap();
    scaled = original.scaled(m_size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    QPixmapCache::insert(key, scaled);
    return scaled;
}

QPixmap IconLabel::load(const QString &file)
{
    const QFileInfo info(file);
    if (!info.isFile() || info.size() > MaxFileBytes)
        return QPixmap();
    // PNG only, whatever the content looks like: no other decoder ever reads a fetched file.
    QImageReader reader(file, "png");
    reader.setAutoDetectImageFormat(false);
    const QSize declared = reader.size(); // from the header, before any decoding
    if (!declared.isValid() || declared.width() > MaxSide || declared.height() > MaxSide)
        return QPixmap();
    ++s_decoded;
    return QPixmap::fromImage(reader.read());
}

void IconLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    QPixmap pixmap = picture();
    if (pixmap.isNull())
        return;
    const QRect area = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    if (!isEnabled()) {
        QStyleOption option;
        option.initFrom(this);
        pixmap = style()->generatedIconPixmap(QIcon::Disabled, pixmap, &option);
    }
    style()->drawItemPixmap(&painter, area, QStyle::visualAlignment(layoutDirection(), alignment()),
                            pixmap);
}
