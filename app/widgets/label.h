#pragma once

#include <QLabel>

// A label that reports right clicks, for the hint text inside the search field.
class Label : public QLabel
{
    Q_OBJECT

public:
    explicit Label(QWidget *parent = nullptr);

signals:
    // Press position in label coordinates.
    void mouseRightSignal(int, int);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
