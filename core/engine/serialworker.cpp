#include "engine/serialworker.h"

#include <QThread>

SerialWorker::SerialWorker(const QString &name, QObject *parent)
    : QObject(parent), m_thread(new QThread), m_context(new QObject)
{
    m_thread->setObjectName(name);
    m_context->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
}

SerialWorker::~SerialWorker()
{
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void SerialWorker::post(std::function<void()> task)
{
    QMetaObject::invokeMethod(m_context, std::move(task), Qt::QueuedConnection);
}
