#pragma once

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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_file;
    QSize m_size;
    static int s_generation;
};
