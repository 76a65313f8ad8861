#pragma once

#include <QFrame>
#include <QPoint>

// The title frame of a frameless dialog: dragging it moves the window it belongs to.
class TitleBar : public QFrame
{
    Q_OBJECT

public:
    explicit TitleBar(QWidget *parent = nullptr);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QPoint m_clickPos{-1, -1};
    bool m_pressed = false;
};
