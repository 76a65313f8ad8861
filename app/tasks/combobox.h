#pragma once

#include <QComboBox>

// The operation selector of a row: a press on the text runs the current entry at once, only
// the arrow opens the list. Its look comes from the application style sheet ("ComBoBox") and
// one Windows style that every selector shares; the list, the heaviest part of a combo box,
// is made when it is first opened.
class ComBoBox : public QComboBox
{
    Q_OBJECT

public:
    explicit ComBoBox(QWidget *parent = nullptr);

    void showPopup() override;
    // True once the list has been made.
    bool hasList() const { return m_hasList; }

signals:
    void execOperationSignal(QString);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    bool m_hasList = false;
};
