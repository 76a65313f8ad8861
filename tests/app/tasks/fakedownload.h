#pragma once

#include <QProcess>
#include <QString>
#include <memory>
#include <vector>

// Real processes whose command line reads like a running yum download of version 1.0-1 of
// one package, so that the store's process lookups find them. They only sleep.
class FakeDownload
{
public:
    FakeDownload(const QString &package, int count);
    ~FakeDownload();

    bool started() const;
    // True while every process still runs; a killed one is noticed at once.
    bool running();
    // True once every process has ended by a signal.
    bool waitKilled(int timeoutMs = 60000);
    static QString commandLine(const QString &package);

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};
