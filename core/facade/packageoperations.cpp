#include "facade/packageoperations.h"

#include "engine/clientthread.h"
#include "records/clientconfig.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

PackageOperations::PackageOperations(QObject *parent) : QObject(parent) {}

int PackageOperations::run(const QString &key, OperationCode operation)
{
    ClientThread thread(key, operation);
    if (operation == OperationDownload || operation == OperationQuickInstall)
        connect(&thread, &ClientThread::sendDownFlag, this, &PackageOperations::setDownloadFlag);
    thread.start();
    // Blocks without spinning; the result is published before the thread ends.
    thread.wait();
    return thread.setEndValue();
}

void PackageOperations::setDownloadFlag(int flag)
{
    m_downloadFlag = flag;
}

int PackageOperations::progressValue(const QString &key, const QString &reserve, int total)
{
    const QString directory = ClientConfig::pkgpath() + QLatin1Char('/') + key;
    const int reserveValue = reserve.toInt();
    qDebug() << "****** path=" << directory << " download_flag=" << m_downloadFlag;
    if (m_downloadFlag == 0) {
        m_downloadFlag = -1;
        return 100;
    }
    const QFileInfoList files =
        QDir(directory).entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    qDebug() << "file list size =" << files.size();
    double sum = 0;
    for (const QFileInfo &file : files)
        sum += file.size();
    qDebug() << "value=" << sum << "    total_size=" << total << "   rand_num=" << reserveValue;
    // Nothing to measure against: no progress rather than a division by zero.
    if (total <= 0)
        return 0;
    return static_cast<int>((sum * 100 / total) * ((100 - reserveValue) / 100.0));
}
