#pragma once

#include <QFrame>
#include <QList>
#include <QPixmap>

class QLabel;

enum BUTTONSTATUS {
    BUTTON_ENTER = 2, // mouse over, or a click finished inside
    BUTTON_LEAVE = 3, // normal: mouse left, or released outside
    BUTTON_PRESSED = 4,
};

// An image button: an icon over a background that appears while the mouse is over it.
class BackgroundButton : public QFrame
{
    Q_OBJECT

public:
    explicit BackgroundButton(QWidget *parent = nullptr);

    void setIconsInfo(const QString &icon, const QString &background, QString name);
    void setButtonStatus(BUTTONSTATUS status);

signals:
    // Carries the object name.
    void buttonClicked(QString);
    void enterSignal();
    void leaveSignal();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_current;
    QList<QPixmap> m_backgrounds; // 0 transparent, 1 the background image
    QLabel *m_iconLabel;
};
