#include "tasks/combobox.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleFactory>
#include <QStyledItemDelegate>

namespace
{
// Width of the drop-down arrow area on the right.
constexpr int ArrowWidth = 21;
} // namespace

ComBoBox::ComBoBox(QWidget *parent) : QComboBox(parent)
{
    setFixedSize(90, 40);
    // The Windows style paints a focused combo box's text in the highlight colours, white on
    // the white background here; like the other row controls it never takes the focus.
    setFocusPolicy(Qt::NoFocus);
    setItemDelegate(new QStyledItemDelegate(this));
    if (QStyle *windows = QStyleFactory::create(QStringLiteral("Windows"))) {
        // setStyle does not take ownership.
        windows->setParent(this);
        setStyle(windows);
    }
    setStyleSheet(QStringLiteral(
        "QComboBox {border: 1px solid #b597d4;}QComboBox:editable {background: "
        "white;}QComboBox::hover{background: #b597d4;}QComboBox QAbstractItemView::item "
        "{height: 20px;}QComboBox:on {padding-top: 3px;padding-left:0px;}QComboBox "
        "QAbstractItemView {border: 1px solid #b597d4;}QComboBox::down-arrow {image: "
        "url(:/img/arrowdown.png);}QComboBox::down-arrow:on {top: 1px;left: "
        "1px;}QComboBox::drop-down {subcontrol-origin:paddind;subcontrol-position: top "
        "right;width: 15px; border-left-width: 1px;border-left-color: "
        "#b597d4;border-left-style: solid;border-top-right-radius: 3px; "
        "border-bottom-right-radius: 3px;}"));
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
