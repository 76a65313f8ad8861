#pragma once

#include <QPoint>

class QMouseEvent;
class QWidget;

// The frame a frameless window draws and moves itself: a grey border, dragged anywhere with
// the left button, never larger than its fixed size.
class WindowFrame
{
public:
    explicit WindowFrame(QWidget *window);

    void paint();
    void mousePressed(QMouseEvent *event);
    void mouseMoved(QMouseEvent *event);
    void mouseReleased(QMouseEvent *event);
    void resized();

private:
    QWidget *m_window;
    QPoint m_dragPosition;
    bool m_dragging = false;
};
