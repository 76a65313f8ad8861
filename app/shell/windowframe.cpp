#include "shell/windowframe.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWidget>

namespace
{

constexpr int WindowWidth = 897;
constexpr int WindowHeight = 705;

} // namespace

WindowFrame::WindowFrame(QWidget *window) : m_window(window) {}

void WindowFrame::paint()
{
    QPainter painter(m_window);
    painter.setPen(QPen(QColor(128, 128, 128), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawRoundedRect(QRect(0, 0, m_window->width() - 1, m_window->height() - 1), 0, 0);
}

void WindowFrame::mousePressed(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragPosition = event->globalPos();
    }
}

void WindowFrame::mouseMoved(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && m_dragging) {
        m_window->move(m_window->pos() + event->globalPos() - m_dragPosition);
        m_dragPosition = event->globalPos();
    }
}

void WindowFrame::mouseReleased(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void WindowFrame::resized()
{
    if (m_window->height() > WindowHeight && m_window->width() > WindowWidth) {
        m_window->showNormal();
        m_window->resize(WindowWidth, WindowHeight);
    }
}
