#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

// The load at start-up: rebuilds the installed-package table from the RPM database and
// recomputes the install state of every catalog row, then ends.
class InitDataThread : public QThread
{
    Q_OBJECT

public:
    // Runs "yum clean all" in the constructing thread before returning.
    explicit InitDataThread(QObject *parent = nullptr);

signals:
    // Declared for the facade's connection; this thread never emits it.
    void recvServerData(QString data, QStringList packages);

protected:
    void run() override;
};
