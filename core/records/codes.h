#pragma once

// Install state: column sign of softwares, field m_state of RpmData.
enum InstallState {
    StateNotInstalled = 0,
    StateUpgradable = 1,
    StateInstalled = 2,
    StateDownloaded = 3, // only in query results
};

// Operation codes of the operation thread, one per blocking facade call.
enum OperationCode {
    OperationDownload = 1,
    OperationInstall = 2,
    OperationQuickInstall = 3,
    OperationUpdate = 4,
    OperationRemove = 5,
};

// Results of operations and shell-status decoding.
enum ResultCode {
    ResultSuccess = 0,
    ResultFailure = -1,
    ResultInstallFailed = -2, // download succeeded, install step failed
    ResultNotFinished = -3,
    ResultDatabaseRepaired = 2,
};
