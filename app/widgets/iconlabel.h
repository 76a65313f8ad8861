#pragma once

#include "sync/httpfetch.h"
#include "widgets/shownonlyinsight.h"

#include <QLabel>
#include <QSize>
#include <QString>

// A label showing an image file scaled to a fixed size, as QLabel shows a pixmap, but taken
// from the application's pixmap cache when it is painted instead of held by every label: a
// table of thousands of rows keeps only the pictures in sight. An image that appears later
// is shown from the next paint on; one written anew is read again after imagesChanged().
class IconLabel : public ShownOnlyInSight<QLabel>
{
    Q_OBJECT

public:
    IconLabel(const QString &file, const QSize &size, QWidget *parent = nullptr);

    // The scaled picture; null when the file is missing or no image.
    QPixmap picture() const;
    // Image files were written: pictures cached before are read again.
    static void imagesChanged();
    // The picture of an icon file, decoded only within the bounds below; null otherwise. Every
    // icon from the icon directory is read through it, as PNG and nothing else.
    static QPixmap load(const QString &file);
    // Pictures decoded so far, by every label.
    static int decodedCount() { return s_decoded; }

    // Icons come from the network and the store runs as root: a file larger than this, or
    // one whose header declares more pixels a side, is never handed to an image decoder.
    static constexpr qint64 MaxFileBytes = HttpFetch::MaxIconBytes; // no fetch writes more
    static constexpr int MaxSide = 1024;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_file;
    QSize m_size;
    static int s_generation;
    static int s_decoded;
};
