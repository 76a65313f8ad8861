#include "widgets/cycloprogress.h"

#include <QPainter>
#include <QTimerEvent>

CycloProgress::CycloProgress(QWidget *parent)
    : QLabel(parent), m_pixmap(QStringLiteral(":/img/xsearch_loading.png"))
{
}

void CycloProgress::startAnimation(int interval)
{
    if (m_timerId != 0)
        return;
    m_timerId = startTimer(interval);
    m_interval = interval;
}

void CycloProgress::stopAnimation()
{
    if (m_timerId != 0)
        killTimer(m_timerId);
    m_timerId = 0;
}

void CycloProgress::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timerId) {
        QLabel::timerEvent(event);
        return;
    }
    m_angle += 5;
    update();
}

void CycloProgress::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QPointF centre(m_pixmap.width() / 2.0, m_pixmap.height() / 2.0);
    painter.translate(centre);
    painter.rotate(m_angle);
    painter.translate(-centre);
    painter.drawPixmap(0, 0, m_pixmap);
}
