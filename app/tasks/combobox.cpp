#include "tasks/combobox.h"

#include <QApplication>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QStyledItemDelegate>

namespace
{

// Width of the drop-down arrow area on the right.
constexpr int ArrowWidth = 21;

QStyle *windowsStyle()
{
    // setStyle does not take ownership; the application does.
    static QStyle *style = [] {
        QStyle *windows = QStyleFactory::create(QStringLiteral("Windows"));
        if (windows)
            windows->setParent(qApp);
        return windows;
    }();
    return style;
}

} // namespace

ComBoBox::ComBoBox(QWidget *parent) : QComboBox(parent)
{
    setFixedSize(90, 40);
    // The Windows style paints a focused combo box's text in the highlight colours, white on
    // the white background here; like the other row controls it never takes the focus.
    setFocusPolicy(Qt::NoFocus);
    if (QStyle *windows = windowsStyle())
        setStyle(windows);
}

void ComBoBox::changeEvent(QEvent *event)
{
    // QComboBox answers a style change by making its list to look at its delegate; a row that
    // is never opened needs neither. The change is applied when the list is made.
    if (event->type() == QEvent::StyleChange && !m_hasList) {
        QWidget::changeEvent(event);
        return;
    }
    QComboBox::changeEvent(event);
}

void ComBoBox::showPopup()
{
    if (!m_hasList) {
        m_hasList = true;
        setItemDelegate(new QStyledItemDelegate(this));
        QEvent styleChange(QEvent::StyleChange);
        QComboBox::changeEvent(&styleChange);
    }
    QComboBox::showPopup();
}

void ComBoBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (event->pos().x() < width() - ArrowWidth) {
        emit execOperationSignal(currentText());
        return;
    }
    QComboBox::mousePressEvent(event);
}
