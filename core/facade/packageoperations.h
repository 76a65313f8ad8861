#pragma once

#include "records/codes.h"

#include <QObject>
#include <QString>

// The facade's blocking package operations: each runs on an operation thread of its own
// while the caller waits, and a download's flag feeds the progress estimate.
class PackageOperations : public QObject
{
    Q_OBJECT

public:
    explicit PackageOperations(QObject *parent = nullptr);

    // Blocks until the operation has finished; its result code.
    int run(const QString &key, OperationCode operation);
    // Percentage of a download from the files below pkgpath/key against total bytes.
    int progressValue(const QString &key, const QString &reserve, int total);

public slots:
    // The operation thread's download flag: 0 once a download has succeeded.
    void setDownloadFlag(int flag);

private:
    int m_downloadFlag = -1;
};
