#include "shell/dialogpresenter.h"

#include "ui_comdialog.h"
#include "widgets/comdialog.h"

DialogPresenter::DialogPresenter(QWidget *window)
    : m_window(window), m_dialog(QSharedPointer<comDialog>(new comDialog))
{
}

void DialogPresenter::place(QDialog *dialog) const
{
    dialog->move(m_window->x() + m_window->width() / 4, m_window->y() + m_window->height() / 4);
}

void DialogPresenter::showMessage(const QString &text, bool hideOk)
{
    m_waiting.append({text, hideOk});
    // The open dialog's own loop shows this one once it is closed.
    if (m_dialog->isVisible())
        return;
    while (!m_waiting.isEmpty())
        show(m_waiting.takeFirst());
}

void DialogPresenter::show(const Message &message)
{
    Ui::comDialog *form = m_dialog->ui;
    form->label_dialog_info->setText(QObject::tr(message.text.toUtf8().constData()));
    // The one dialog serves every message: each decides afresh which button it offers.
    form->pushButton_ok->show();
    form->pushButton_cancel->show();
    if (message.hideOk)
        m_dialog->hideOkButton();
    else
        m_dialog->hideCancelButton();
    place(m_dialog.data());
    m_dialog->exec();
}

bool DialogPresenter::confirm(const QString &question)
{
    comDialog dialog;
    dialog.ui->label_dialog_info->setText(QObject::tr(question.toUtf8().constData()));
    place(&dialog);
    // OK accepts; cancel, the close button, Escape and the window manager's close reject.
    return dialog.exec() == QDialog::Accepted;
}
