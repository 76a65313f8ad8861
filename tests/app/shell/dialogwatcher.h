#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <functional>

class QDialog;

// Answers every modal dialog the window opens, as a user would, so that no test can hang on
// one: message dialogs with the next queued answer (OK by default), the download manager by
// closing it. Every message text seen is recorded.
class DialogWatcher : public QObject
{
    Q_OBJECT

public:
    enum Answer { Ok, Cancel, CloseButton, Escape, WindowClose };

    DialogWatcher();

    // The answers for the next message dialogs, in order; OK once they are used up.
    void queue(Answer answer) { m_answers << answer; }
    // Runs once the next message dialog is open, before it is answered.
    void beforeNextAnswer(std::function<void()> action) { m_beforeAnswer = std::move(action); }
    QStringList messages() const { return m_messages; }
    int downloadManagerShown() const { return m_managerShown; }
    void clear();

private slots:
    void poll();

private:
    void answer(QDialog *dialog);

    QTimer m_timer;
    QList<Answer> m_answers;
    std::function<void()> m_beforeAnswer;
    QStringList m_messages;
    QPointer<QDialog> m_answering;
    int m_managerShown = 0;
};
