#pragma once

#include <QString>
#include <QThread>

#include <atomic>

// Carries out one package operation (codes of OperationCode) through rpm and yum, as root.
// The caller polls setEndValue() or waits for the thread; the result is published once.
class ClientThread : public QThread
{
    Q_OBJECT

public:
    ClientThread(const QString &key, int type, QObject *parent = nullptr);

    // Reads the result: -3 until the operation has finished.
    int setEndValue() const;
    // 1 while a download runs, 0 after a successful one; -1 before any.
    int downloadFlag() const;

    int isThreadExecSuccess(int status);
    bool createDirectoryThread(const QString &path);
    bool removeDirectoryThread(const QString &path);

    int download_software(const QString &key);
    int install_softWare(const QString &key);
    int quickinstall_softWare(const QString &key);
    int update_softWare(const QString &key);
    int remove_softWare(const QString &key);

signals:
    void sendDownFlag(int flag);
    void sendAppFlag(int flag);

protected:
    void run() override;

private:
    QString m_key;
    int m_type;
    std::atomic<int> m_endValue;
    std::atomic<int> m_downloadFlag;
};
