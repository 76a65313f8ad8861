#include "widgets/backgroundbutton.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

BackgroundButton::BackgroundButton(QWidget *parent) : QFrame(parent), m_iconLabel(new QLabel)
{
    setAttribute(Qt::WA_TranslucentBackground);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_iconLabel, 0, Qt::AlignCenter);
}

void BackgroundButton::setIconsInfo(const QString &icon, const QString &background, QString name)
{
    setObjectName(name);
    const QPixmap image(background);
    QPixmap transparent(image.size());
    transparent.fill(Qt::transparent);
    m_backgrounds = {transparent, image};
    m_current = transparent;
    setFixedSize(image.size());

    const QPixmap iconImage(icon);
    m_iconLabel->setScaledContents(true);
    m_iconLabel->setPixmap(iconImage);
    m_iconLabel->setFixedSize(iconImage.size());
}

void BackgroundButton::setButtonStatus(BUTTONSTATUS status)
{
    if (m_backgrounds.size() == 2) {
        switch (status) {
        case BUTTON_LEAVE:
            m_current = m_backgrounds.at(0);
            break;
        case BUTTON_ENTER:
        case BUTTON_PRESSED:
            m_current = m_backgrounds.at(1);
            break;
        }
    }
    update();
}

void BackgroundButton::enterEvent(QEvent *)
{
    setButtonStatus(BUTTON_ENTER);
    emit enterSignal();
}

void BackgroundButton::leaveEvent(QEvent *)
{
    setButtonStatus(BUTTON_LEAVE);
    emit leaveSignal();
}

void BackgroundButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    setButtonStatus(BUTTON_PRESSED);
    event->accept();
}

void BackgroundButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (rect().contains(event->pos())) {
        if (isEnabled())
            emit buttonClicked(objectName());
        setButtonStatus(BUTTON_ENTER);
        event->accept();
    } else {
        setButtonStatus(BUTTON_LEAVE);
        event->ignore();
    }
}

void BackgroundButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawPixmap(rect(), m_current);
}
