#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui
{
class comDialog;
}

// The one message and confirmation dialog of the store: frameless, dragged by the mouse.
// Callers put their text into ui->label_dialog_info and read the answer from execOkSignal.
class comDialog : public QDialog
{
    Q_OBJECT

public:
    explicit comDialog(QWidget *parent = nullptr);
    ~comDialog() override;

    void hideOkButton();
    void hideCancelButton();

    Ui::comDialog *ui;

signals:
    // 1 for "确定", 0 for "取消" or the close button.
    void execOkSignal(int);

private slots:
    void on_pushButton_ok_clicked();
    void on_pushButton_cancel_clicked();
    void on_btn_dialog_close_clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_drag = false;
    QPoint m_lastPos;
};
