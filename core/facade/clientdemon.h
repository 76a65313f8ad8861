#pragma once

#include "records/rpmdata.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class HeartThread;
class InitDataThread;

// The one object through which the application reaches the core: it starts the threads that
// load and keep the catalog current, answers the catalog queries and runs blocking package
// operations for callers on a worker thread.
class ClientDemon : public QObject
{
    Q_OBJECT

public:
    ClientDemon();
    ~ClientDemon() override;

    // Cleans the package cache and asks the server for the catalog again.
    void updateData();
    void initData();
    void create_database();
    // Rewrites the installed-package table synchronously, from info.txt in the working directory.
    void initDatabaseData();

    // Mode 0 every row, 1 upgradable rows, 2 installed rows with the installed version.
    QVector<RpmData> selectSoftware(int mode, const QString &category, const QString &keyword);
    QVector<RpmData> selectAllSoftware(int mode, const QString &sql);
    RpmData selectNameSoftware(int mode, const QString &name);
    // What selectNameSoftware gives for each of the names, read in one query; names the
    // catalog does not know are missing.
    QHash<QString, RpmData> selectNamesSoftware(int mode, const QSet<QString> &names);
    QVector<RpmData> selectTypeSoftware(int mode, const QString &type);
    // -1 when the short name is installed (m_localVersion then holds version-release), else 0.
    int getState(const QString &name, const QString &version);
    QString getSoftwareVersion(const QString &name);

    // Each blocks until its operation thread has finished and returns the result code.
    int downloadSoftware(const QString &key);
    int installSoftWare(const QString &key);
    int quickinstallSoftWare(const QString &key);
    int updateSoftWare(const QString &key);
    int removeSoftWare(const QString &key);

    // Percentage of a download from the files below pkgpath/key against total bytes.
    int getProgressValue(const QString &key, const QString &reserve, int total);
    int isExecSuccess(int status);
    bool createDirectory(const QString &path);
    bool removeDirectory(const QString &path);

signals:
    void recvUpdateAppSignal(int value);
    // An icon fetch of the frame receiver has ended; pictures shown before it may be out of date.
    void iconsFetched();
    void updateAppVersion(QStringList packages);
    void updateEnd(int value);

public slots:
    void recvServerDataSlot(const QString &data, const QStringList &packages);
    void sendMessageSlot();
    void getDataSlot(int flag);

private:
    // getState against a table read once: -1 (m_localVersion set) when installed, else 0.
    int noteInstalledVersion(const QHash<QString, QString> &installed, const QString &name);
    // A row of the one-name query as that query returns it.
    RpmData nameRecord(RpmData record, int mode,
                       const std::function<int(const QString &icon)> &stateOf);
    int runOperation(const QString &key, int type, bool reportsDownload);

    int m_updateFlag;
    QVector<RpmData> m_resultList;
    HeartThread *m_heartThread;
    InitDataThread *m_initThread;
    QString m_localVersion;
    int m_downloadFlag;
};
