#pragma once

#include <QLineEdit>

// The search field: reports every key press before the text changes.
class LineEdit : public QLineEdit
{
    Q_OBJECT

public:
    explicit LineEdit(QWidget *parent = nullptr);

signals:
    void keyOperationSignal();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
