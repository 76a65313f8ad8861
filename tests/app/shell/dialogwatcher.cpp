#include "dialogwatcher.h"

#include "tasks/loaddialog.h"
#include "ui_comdialog.h"
#include "widgets/comdialog.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>

#include <utility>

DialogWatcher::DialogWatcher()
{
    connect(&m_timer, &QTimer::timeout, this, &DialogWatcher::poll);
    m_timer.start(20);
}

void DialogWatcher::clear()
{
    m_messages.clear();
    m_answers.clear();
    m_managerShown = 0;
}

void DialogWatcher::poll()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog || dialog == m_answering)
        return;
    answer(dialog);
}

void DialogWatcher::answer(QDialog *dialog)
{
    m_answering = dialog;
    // Forgotten once the dialog is done: the window reuses one message dialog.
    auto *done = new QMetaObject::Connection;
    *done = connect(dialog, &QDialog::finished, this, [this, done] {
        m_answering = nullptr;
        disconnect(*done);
        delete done;
    });

    QAbstractButton *button = nullptr;
    if (auto *message = qobject_cast<comDialog *>(dialog)) {
        m_messages << message->ui->label_dialog_info->text();
        if (m_beforeAnswer)
            std::exchange(m_beforeAnswer, nullptr)();
        const Answer answer = m_answers.isEmpty() ? Ok : m_answers.takeFirst();
        if (answer == Escape) {
            QMetaObject::invokeMethod(
                dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); },
                Qt::QueuedConnection);
            return;
        }
        if (answer == WindowClose) {
            QMetaObject::invokeMethod(dialog, "close", Qt::QueuedConnection);
            return;
        }
        QPushButton *ok = message->ui->pushButton_ok;
        QPushButton *cancel = message->ui->pushButton_cancel;
        if (answer == Ok && !ok->isHidden())
            button = ok;
        else if (answer == Cancel && !cancel->isHidden())
            button = cancel;
        else
            button = message->ui->btn_dialog_close;
    } else if (qobject_cast<LoadDialog *>(dialog)) {
        ++m_managerShown;
        // The manager's own close button only hides it; that ends its modal run as well.
        QMetaObject::invokeMethod(dialog, "hide", Qt::QueuedConnection);
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        return;
    } else {
        QMetaObject::invokeMethod(dialog, "reject", Qt::QueuedConnection);
        return;
    }
    // Queued: the answer may open the next dialog, which this poll must be free to answer.
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}
