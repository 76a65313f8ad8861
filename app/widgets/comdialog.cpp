#include "widgets/comdialog.h"

#include "ui_comdialog.h"

#include <QLayout>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>

comDialog::comDialog(QWidget *parent) : QDialog(parent), ui(new Ui::comDialog)
{
    ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(Width, MinHeight);
    // The text scrolls over the dialog's own background.
    ui->scrollArea_info->viewport()->setAutoFillBackground(false);
    ui->scrollAreaWidgetContents_info->setAutoFillBackground(false);
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
    fitText();
    QDialog::showEvent(event);
}

void comDialog::fitText()
{
    // Laid out at the smallest size first: what the text lacks there is what the dialog grows.
    ensurePolished();
    ui->label_dialog_info->ensurePolished();
    setFixedSize(Width, MinHeight);
    layout()->activate();
    // The scroll area's own size: its viewport takes the size only once the area is shown.
    // Measured beside a scroll bar: a text that fits there fits without one, so that none
    // shows up to narrow it.
    const QRect room = ui->scrollArea_info->contentsRect();
    const int barWidth = ui->scrollArea_info->verticalScrollBar()->sizeHint().width();
    const int needed = ui->label_dialog_info->heightForWidth(room.width() - barWidth);
    const int missing = qMax(0, needed - room.height());
    setFixedSize(Width, qMin(MinHeight + missing, MaxHeight));
    layout()->activate();
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
