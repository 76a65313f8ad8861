#include "shell/loadinganimation.h"

#include <QLabel>
#include <QPixmap>
#include <QTimer>

namespace
{

constexpr int IntervalMs = 100;
constexpr int Frames = 8;

QPixmap framePicture(int frame)
{
    return QPixmap(QStringLiteral(":/img/progress_") + QString::number(frame) + ".png");
}

} // namespace

LoadingAnimation::LoadingAnimation(QLabel *picture, QObject *parent)
    : QObject(parent), m_picture(picture), m_timer(new QTimer(parent))
{
    m_picture->setPixmap(framePicture(1));
    m_picture->setFixedSize(106, 105);
}

bool LoadingAnimation::isRunning() const
{
    return m_timer->isActive();
}

void LoadingAnimation::start(const QPoint &position)
{
    m_timer->start(IntervalMs);
    m_picture->move(position);
}

void LoadingAnimation::stop()
{
    m_timer->stop();
}

void LoadingAnimation::step()
{
    if (++m_frame > Frames)
        m_frame = 1;
    m_picture->setPixmap(framePicture(m_frame));
}
