#pragma once

#include <QComboBox>

// The operation selector of a row: a press on the text runs the current entry at once, only
// the arrow opens the list.
class ComBoBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ComBoBox(QWidget *parent = nullptr);

signals:
    void execOperationSignal(QString);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
