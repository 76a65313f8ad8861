#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The store program as a desktop runs it, in the current sandbox (offscreen), on the transport
// the libvqs settings file chooses. Killed with this object, as a store that is switched off.
class StoreProcess
{
public:
    explicit StoreProcess(const QString &transportSettings);
    ~StoreProcess();
    StoreProcess(const StoreProcess &) = delete;
    StoreProcess &operator=(const StoreProcess &) = delete;

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    void kill();
    // The lines the transport has written on standard error so far ("vqs: ...").
    QStringList transportLines();
    // Every line it has written on standard error so far.
    QStringList errorLines();

private:
    static const int KeptLines = 200;
    QTemporaryDir m_tmp; // its single-instance socket
    QProcess m_process;
    QString m_errors;
};
