#pragma once

#include <QString>
#include <QThread>

// Cleans the package tool's cache once, for a fresh catalog request.
class UpdateThread : public QThread
{
    Q_OBJECT

public:
    explicit UpdateThread(QObject *parent = nullptr);

    bool createDirectory(const QString &path);
    bool removeDirectory(const QString &path);
    int isExecSuccess(int status);

signals:
    void updateEnd(int value);

protected:
    void run() override;
};
