#include "widgets/titlebar.h"

#include <QDebug>
#include <QMouseEvent>

TitleBar::TitleBar(QWidget *parent) : QFrame(parent)
{
    setObjectName(QStringLiteral("title"));
    setAutoFillBackground(true);
}

void TitleBar::mousePressEvent(QMouseEvent *event)
{
    m_clickPos = mapToParent(event->pos());
    m_pressed = true;
}

void TitleBar::mouseMoveEvent(QMouseEvent *event)
{
    qDebug() << "mouseMoveEvent   clickPos.x()=" << m_clickPos.x();
    if (!m_pressed)
        return;
    QWidget *target = parentWidget();
    if (!target)
        return;
    if (target->parentWidget())
        target = target->parentWidget();
    target->move(event->globalPos() - m_clickPos);
}

void TitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_clickPos = QPoint(-1, -1);
        m_pressed = false;
    }
}
