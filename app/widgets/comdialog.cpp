#include "widgets/comdialog.h"

#include "ui_comdialog.h"

#include <QMouseEvent>

comDialog::comDialog(QWidget *parent) : QDialog(parent), ui(new Ui::comDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(353, 178);
}

comDialog::~comDialog()
{
    delete ui;
}

void comDialog::hideOkButton()
{
    ui->pushButton_ok->hide();
}

void comDialog::hideCancelButton()
{
    ui->pushButton_cancel->hide();
}

void comDialog::answer(int result)
{
    if (m_answered)
        return;
    m_answered = true;
    emit execOkSignal(result);
}

void comDialog::showEvent(QShowEvent *event)
{
    // The message dialog is shown again and again: each showing gets its own answer.
    m_answered = false;
    QDialog::showEvent(event);
}

void comDialog::on_pushButton_ok_clicked()
{
    answer(1);
    accept();
}

void comDialog::on_pushButton_cancel_clicked()
{
    reject();
}

void comDialog::on_btn_dialog_close_clicked()
{
    reject();
}

void comDialog::reject()
{
    answer(0);
    QDialog::reject();
}

void comDialog::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_lastPos = event->globalPos();
        m_drag = true;
    }
}

void comDialog::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && m_drag) {
        move(pos() + event->globalPos() - m_lastPos);
        m_lastPos = event->globalPos();
    }
}

void comDialog::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_drag = false;
}
