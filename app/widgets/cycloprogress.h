#pragma once

#include <QLabel>
#include <QPixmap>

// The turning busy indicator of a row while a package is worked on.
class CycloProgress : public QLabel
{
    Q_OBJECT

public:
    explicit CycloProgress(QWidget *parent = nullptr);

    // A second start while running keeps the first timer and its interval.
    void startAnimation(int interval);
    // The angle is kept, so the next start goes on from where the image stopped.
    void stopAnimation();

    bool isAnimating() const { return m_timerId != 0; }
    int interval() const { return m_interval; }
    double angle() const { return m_angle; }

protected:
    void timerEvent(QTimerEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_timerId = 0;
    int m_interval = 0;
    QPixmap m_pixmap;
    double m_angle = 0;
};
