#pragma once

#include "records/operinfo.h"

#include "resultrecorder.h"
#include "tests/support/testpackage.h"

#include <QMetaType>
#include <QString>
#include <QVector>

class Sandbox;

// The tasks of the queue workers, each kind as the window queues it.
enum class Kind { Uninstall, Install, QuickInstall, Download, Upgrade };
Q_DECLARE_METATYPE(Kind)

// The bound of every wait on a worker (ms), generous for a busy machine.
const int Long = 120000;

struct KindInfo {
    Kind kind;
    const char *name;
    QString word;
    QString finalSignal;
    int failure;
};

const QVector<KindInfo> &kinds();
const KindInfo &info(Kind kind);
WorkerPtr makeWorker(Kind kind, ResultRecorder &recorder);
OperInfo task(Kind kind, const QString &rpmname, const QString &key, const QString &echo = "9");
// Ends the worker once its queue ran empty and delivers the results still on their way.
bool finish(WorkerPtr &worker);
TestPackage standard(int index);
QString downloadDirectory(const Sandbox &sandbox, const QString &rpmname);
// What the host's RPM database lists: no test may change it.
QString hostPackages();

// A tool body that hands the call on to the sandbox's own tool.
extern const QString forward;
