#include "benchpackages.h"

#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace BenchPackages
{

bool install(const Sandbox &sandbox, const QVector<Installed> &packages, QString *error)
{
    // One rpmbuild per package would take minutes; subpackages of one build recipe take a second.
    QTemporaryDir build;
    QString recipe = QStringLiteral("Name: cvb\nVersion: 1\nRelease: 1\nSummary: bench\n"
                                    "License: MIT\nBuildArch: x86_64\nAutoReqProv: no\n"
                                    "%description\nbench\n");
    for (const Installed &p : packages)
        recipe += QStringLiteral("%package -n %1\nVersion: %2\nSummary: bench\n"
                                 "%description -n %1\nbench\n%files -n %1\n")
                      .arg(p.name, p.version);
    QFile file(build.filePath(QStringLiteral("packages.recipe")));
    if (!file.open(QIODevice::WriteOnly) || file.write(recipe.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the build recipe");
        return false;
    }
    file.close();
    const QString top = build.filePath(QStringLiteral("top"));
    ProcessResult result =
        ProcessRunner::run(QStringLiteral("rpmbuild"),
                           {QStringLiteral("--define"), QStringLiteral("_topdir ") + top,
                            QStringLiteral("--define"), QStringLiteral("_build_id_links none"),
                            QStringLiteral("--quiet"), QStringLiteral("-bb"), file.fileName()});
    if (result.exitCode != 0) {
        *error = result.output;
        return false;
    }
    // The packages hold no files, so only the database entries matter.
    QStringList arguments = {QStringLiteral("-i"),         QStringLiteral("--justdb"),
                             QStringLiteral("--nodeps"),   QStringLiteral("--noscripts"),
                             QStringLiteral("--nodigest"), QStringLiteral("--nosignature")};
    const QDir rpms(top + QStringLiteral("/RPMS/x86_64"));
    for (const QString &name : rpms.entryList({QStringLiteral("*.rpm")}, QDir::Files))
        arguments << rpms.filePath(name);
    result = sandbox.rpm(arguments);
    if (result.exitCode != 0) {
        *error = result.output;
        return false;
    }
    return true;
}

double medianMs(const std::function<bool()> &run, int repetitions)
{
    std::vector<double> times;
    for (int i = 0; i < repetitions; ++i) {
        QElapsedTimer timer;
        timer.start();
        if (!run())
            return -1;
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void printHeader()
{
    std::printf("%-48s %12s %12s %8s\n", "figure", "value", "floor", "ratio");
}

void printRow(const QString &figure, double value, double floor)
{
    const QByteArray text = figure.toUtf8();
    if (floor > 0)
        std::printf("%-48s %12.2f %12.2f %8.2f\n", text.constData(), value, floor, value / floor);
    else
        std::printf("%-48s %12.2f %12s %8s\n", text.constData(), value, "-", "-");
}

} // namespace BenchPackages
