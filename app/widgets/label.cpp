#include "widgets/label.h"

#include <QMouseEvent>

Label::Label(QWidget *parent) : QLabel(parent) {}

void Label::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        emit mouseRightSignal(event->pos().x(), event->pos().y());
    QLabel::mousePressEvent(event);
}
