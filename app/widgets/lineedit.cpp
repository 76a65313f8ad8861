#include "widgets/lineedit.h"

#include <QDebug>

LineEdit::LineEdit(QWidget *parent) : QLineEdit(parent) {}

void LineEdit::keyPressEvent(QKeyEvent *event)
{
    qDebug() << "******************";
    emit keyOperationSignal();
    QLineEdit::keyPressEvent(event);
}
