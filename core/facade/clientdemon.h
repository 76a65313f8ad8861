#pragma once

#include "facade/catalogreader.h"
#include "records/rpmdata.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

class CatalogSync;
class PackageOperations;

// The one object through which the application reaches the core, a facade over three parts:
// the catalog synchronisation (CatalogSync), the catalog queries (CatalogQueries) and the
// blocking package operations (PackageOperations).
class ClientDemon : public QObject, public CatalogReader
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

    // What the pages read, by query mode.
    QVector<RpmData> list(QueryMode mode, const QString &category, const QString &keyword) override;
    RpmData record(const QString &name) override;
    QHash<QString, RpmData> records(const QSet<QString> &names) override;

    // Mode 0 every row, 1 upgradable rows, 2 installed rows with the installed version.
    QVector<RpmData> selectSoftware(int mode, const QString &category, const QString &keyword);
    QVector<RpmData> selectAllSoftware(int mode, const QString &sql);
    RpmData selectNameSoftware(int mode, const QString &name);
    // What selectNameSoftware gives for each of the names, read in one query; names the
    // catalog does not know are missing.
    QHash<QString, RpmData> selectNamesSoftware(int mode, const QSet<QString> &names);
    QVector<RpmData> selectTypeSoftware(int mode, const QString &type);
    // -1 when the short name is installed, else 0.
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

    // The synchronisation's own signals, iconsFetched and catalogStale. They stay off this
    // class: moc numbers every signal before the slots, so one more signal here would move
    // the index of every slot that callers reach by number.
    const CatalogSync *catalogSync() const { return m_sync; }

signals:
    void recvUpdateAppSignal(int value);
    void updateAppVersion(QStringList packages);
    void updateEnd(int value);

public slots:
    void recvServerDataSlot(const QString &data, const QStringList &packages);
    void sendMessageSlot();
    void getDataSlot(int flag);

private:
    int m_updateFlag;
    CatalogSync *m_sync;
    PackageOperations *m_operations;
};
