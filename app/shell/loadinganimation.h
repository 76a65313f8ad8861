#pragma once

#include <QObject>
#include <QPoint>

class QLabel;
class QTimer;

// The loading picture that turns while the catalog is loaded: eight frames every 100 ms.
class LoadingAnimation : public QObject
{
    Q_OBJECT

public:
    // The first frame; the timer, whose every tick is one step, runs from start().
    LoadingAnimation(QLabel *picture, QObject *parent);

    QTimer *timer() const { return m_timer; }
    bool isRunning() const;
    void start(const QPoint &position);
    void stop();
    // The next frame; a pass ends after the eighth.
    void step();

private:
    QLabel *m_picture;
    QTimer *m_timer;
    int m_frame = 1;
};
