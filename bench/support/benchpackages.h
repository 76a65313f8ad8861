#pragma once

#include <QString>
#include <QVector>

#include <functional>

class Sandbox;

// Helpers the benchmarks share: many installed packages made fast, and median timings.
namespace BenchPackages
{

struct Installed {
    QString name;
    QString version;
};

// Builds one empty subpackage per entry in a single rpmbuild run and enters them all into the
// sandbox's RPM database in one rpm transaction. False with *error set on failure.
bool install(const Sandbox &sandbox, const QVector<Installed> &packages, QString *error);

// Median wall time of run in milliseconds over repetitions calls; -1 when a call fails.
double medianMs(const std::function<bool()> &run, int repetitions);

// Prints one line of the benchmark table; a floor of 0 or less prints as "-".
void printRow(const QString &figure, double value, double floor);
void printHeader();

} // namespace BenchPackages
