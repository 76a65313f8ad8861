#pragma once

#include <QDialog>
#include <QPoint>

namespace Ui
{
class comDialog;
}

// The one message and confirmation dialog of the store: frameless, dragged by the mouse.
// Callers put their text into ui->label_dialog_info and read the answer from execOkSignal.
// Each showing grows the dialog's height to fit the text, up to MaxHeight; beyond that the
// text scrolls.
class comDialog : public QDialog
{
    Q_OBJECT

public:
    static constexpr int Width = 353;
    static constexpr int MinHeight = 178;
    static constexpr int MaxHeight = 420;

    explicit comDialog(QWidget *parent = nullptr);
    ~comDialog() override;

    void hideOkButton();
    void hideCancelButton();

    Ui::comDialog *ui;

    // Escape and the window manager's close answer as the close button does.
    void reject() override;

signals:
    // 1 for "确定", 0 for "取消", the close button, Escape or the window manager's close; once
    // per showing.
    void execOkSignal(int);

private slots:
    void on_pushButton_ok_clicked();
    void on_pushButton_cancel_clicked();
    void on_btn_dialog_close_clicked();

protected:
    void showEvent(QShowEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void answer(int result);
    void fitText();

    bool m_answered = false;
    bool m_drag = false;
    QPoint m_lastPos;
};
