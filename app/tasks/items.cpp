#include "tasks/items.h"
#include "records/operationword.h"
#include "tasks/downloadstate.h"

#include "records/paths.h"
#include "widgets/iconlabel.h"
#include "ui_items.h"

#include <QDebug>
#include <QPixmap>

namespace
{
const QString Finish = QStringLiteral(":/img/finish.png");
const QString LoadFail = QStringLiteral(":/img/loadfail.png");
const QString Reload = QStringLiteral("重新下载");
const QString CancelLoad = QStringLiteral("取消下载");

const QString Finished = QStringLiteral("已完成");
} // namespace

Items::Items(QWidget *parent) : QFrame(parent), ui(new Ui::Items)
{
    ui->setupUi(this);
    ui->pushButton_reload->hide();
    ui->label->hide();
    ui->label_finish->hide();
}

Items::~Items()
{
    delete ui;
}

void Items::showStatus(const QString &image, const QString &text)
{
    ui->label_finish->setPixmap(QPixmap(image));
    ui->label_finish->show();
    ui->label->setText(text);
    ui->label->show();
}

void Items::setItemValues(QString display, QString key, QString size, int progress, QString oper,
                          QString state)
{
    m_oper = oper;
    m_name = key;
    ui->label_chinaname->setText(display);
    ui->label_size->setText(size);
    const QPixmap icon = IconLabel::load(Paths::iconDirectory() + key);
    ui->label_icon->setPixmap(icon.isNull() ? icon : icon.scaled(35, 35));
    ui->label_finish->setPixmap(QPixmap(Finish));
    ui->dialogprogressBar->setValue(progress);
    qDebug() << "statefffffffffffffffffffffffff**********  " << state;

    if (state == DownloadState::downloadFailed()) {
        showStatus(LoadFail, DownloadState::downloadFailed());
        ui->dialogprogressBar->hide();
        ui->label_size->hide();
        ui->pushButton_reload->setText(Reload);
        ui->pushButton_reload->show();
    } else if (state == Finished) {
        ui->label_finish->show();
        ui->dialogprogressBar->hide();
        ui->label_size->hide();
        ui->pushButton_reload->hide();
        ui->pushButton_cancel->show();
    } else if (state == DownloadState::downloading()) {
        ui->label_finish->hide();
        ui->dialogprogressBar->show();
        ui->label_size->show();
        ui->pushButton_reload->setText(CancelLoad);
        ui->pushButton_reload->show();
        ui->pushButton_cancel->hide();
    } else if (state == DownloadState::installing()) {
        ui->label_finish->hide();
        ui->dialogprogressBar->hide();
        ui->label->setText(DownloadState::installing());
        ui->label->show();
        ui->label_size->hide();
        ui->pushButton_reload->hide();
        ui->pushButton_cancel->show();
    } else if (state == DownloadState::downloaded() || state == DownloadState::installed()) {
        showStatus(Finish, state);
        ui->dialogprogressBar->hide();
        ui->label_size->hide();
        ui->pushButton_reload->hide();
        ui->pushButton_cancel->show();
    } else if (state == DownloadState::installFailed()) {
        showStatus(LoadFail, DownloadState::installFailed());
        ui->dialogprogressBar->hide();
        ui->label_size->hide();
        ui->pushButton_reload->hide();
        ui->pushButton_cancel->hide();
    } else {
        return;
    }
    m_state = state;
}

void Items::setProgressValue(int value)
{
    ui->dialogprogressBar->setValue(value);
    if (value != 100)
        return;
    ui->label_finish->setPixmap(QPixmap(Finish));
    ui->label_finish->show();
    if (m_oper == OperationWord::quickInstall() || m_oper == OperationWord::upgrade()) {
        ui->label->setText(DownloadState::installing());
        ui->label->show();
        m_state = DownloadState::installing();
    } else if (m_oper == OperationWord::download()) {
        ui->label->setText(DownloadState::downloaded());
        ui->label->show();
        m_state = DownloadState::downloaded();
    }
    ui->pushButton_reload->hide();
    ui->dialogprogressBar->hide();
    ui->label_size->hide();
}

void Items::setReloadButtonShow(int flag)
{
    ui->dialogprogressBar->hide();
    ui->label_finish->setPixmap(QPixmap(LoadFail));
    ui->label_finish->show();
    if (flag == -1) {
        ui->label->setText(DownloadState::downloadFailed());
        ui->label->show();
        ui->label_size->hide();
        ui->pushButton_reload->setText(Reload);
        ui->pushButton_reload->show();
        ui->pushButton_cancel->show();
        m_state = DownloadState::downloadFailed();
    } else if (flag == -2) {
        ui->label->setText(DownloadState::installFailed());
        ui->label->show();
        ui->label_size->hide();
        ui->pushButton_reload->hide();
        ui->pushButton_cancel->show();
        m_state = DownloadState::installFailed();
    }
}

void Items::installSuccessShow()
{
    ui->dialogprogressBar->hide();
    ui->pushButton_reload->hide();
    ui->label_finish->setPixmap(QPixmap(Finish));
    ui->label_finish->show();
    ui->pushButton_cancel->show();
    ui->label->setText(DownloadState::installed());
    ui->label->show();
    m_state = DownloadState::installed();
}

void Items::modifyvalue(QString oper)
{
    m_oper = oper;
}

void Items::on_pushButton_reload_clicked()
{
    qDebug() << "**********  " << ui->pushButton_reload->text();
    if (ui->pushButton_reload->text() != Reload) {
        emit cancelLoadSignal(m_name, m_oper);
        return;
    }
    ui->dialogprogressBar->setValue(0);
    ui->dialogprogressBar->show();
    ui->label->hide();
    ui->label_size->show();
    ui->pushButton_reload->setText(CancelLoad);
    ui->pushButton_cancel->hide();
    ui->label_finish->hide();
    m_state = DownloadState::downloading();
    emit reLoadSignal(m_name, m_oper);
}

void Items::on_pushButton_cancel_clicked()
{
    emit removeFromtable(m_name);
}
