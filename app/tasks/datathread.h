#pragma once

#include <QString>
#include <QThread>

// Launches a program as the logged-in user while the store itself runs as root. The thread
// lives as long as the program runs.
class DataThread : public QThread
{
    Q_OBJECT

public:
    explicit DataThread(QString command, QObject *parent = nullptr);

protected:
    void run() override;

private:
    QString m_command;
};
