#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Makes sure one copy of the store runs per user: the first copy listens on a local socket
// named after the user, a later copy finds it there and ends.
class MyApplication : public QObject
{
    Q_OBJECT

public:
    MyApplication();

    bool isRunning() const;

    // "security-white" followed by the login name of the real user.
    static QString instanceName();

public slots:
    void newLocalConnection();

private:
    QLocalServer *m_localServer = nullptr;
    bool m_isRunning = false;
};
