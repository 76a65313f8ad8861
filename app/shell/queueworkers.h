#pragma once

#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"

#include <array>

// The five queue workers of the window, one per kind of operation, alive as long as the
// process.
struct QueueWorkers {
    GetAuthThread *uninstall = nullptr;
    QuitInstallThread *quickInstall = nullptr;
    DownloadThread *download = nullptr;
    UpdateRpmThread *upgrade = nullptr;
    InstallRpmThread *install = nullptr;

    // Created and started in this order: uninstall, one-click install, download, upgrade,
    // install.
    static QueueWorkers started();

    // The same workers, in that order.
    std::array<QueueWorker *, 5> all() const
    {
        return {uninstall, quickInstall, download, upgrade, install};
    }
};
