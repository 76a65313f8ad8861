#pragma once

#include <QString>
#include <QThread>

// Kills the yum download processes of one package when the user cancels its download.
class KillThread : public QThread
{
    Q_OBJECT

public:
    // match: the package name (a row's task key) whose download is stopped.
    explicit KillThread(QString match, QObject *parent = nullptr);

protected:
    void run() override;

private:
    QString m_match;
    // Taken when the thread is made: the thread itself never reads the environment.
    QString m_processFile;
};
