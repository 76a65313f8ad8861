#pragma once

#include "engine/processkiller.h"

#include <QString>
#include <QThread>

// Kills the yum download processes of one package when the user cancels its download, on a
// thread of its own (the work is the engine's ProcessKiller).
class KillThread : public QThread
{
    Q_OBJECT

public:
    // match: the package name (a row's task key) whose download is stopped.
    explicit KillThread(QString match, QObject *parent = nullptr);

protected:
    void run() override;

private:
    ProcessKiller m_killer;
};
