#include "tasks/killthread.h"

KillThread::KillThread(QString match, QObject *parent) : QThread(parent), m_killer(std::move(match))
{
}

void KillThread::run()
{
    m_killer.killDownloads();
}
