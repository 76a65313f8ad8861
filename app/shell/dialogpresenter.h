#pragma once

#include <QList>
#include <QSharedPointer>
#include <QString>

class comDialog;
class QDialog;
class QWidget;

// Every message and question the window shows, each a modal comDialog placed a quarter of
// the window's size from its top-left corner.
class DialogPresenter
{
public:
    explicit DialogPresenter(QWidget *window);

    // The one message dialog: OK only, or cancel only when hideOk. A message that comes
    // while another is open is shown after it.
    void showMessage(const QString &text, bool hideOk = false);
    // A question in a new dialog with both buttons; true when the user answered OK.
    bool confirm(const QString &question);
    void place(QDialog *dialog) const;

private:
    struct Message {
        QString text;
        bool hideOk;
    };
    void show(const Message &message);

    QWidget *m_window;
    QSharedPointer<comDialog> m_dialog;
    // Messages that arrived while the dialog was open, shown after it.
    QList<Message> m_waiting;
};
