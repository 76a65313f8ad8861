#pragma once

#include <QString>
#include <QVector>

#include <functional>
#include <vector>

// Helpers the benchmarks share: median timings and the table they print.
namespace BenchPackages
{

// Median wall time of run in milliseconds over repetitions calls; -1 when a call fails.
double medianMs(const std::function<bool()> &run, int repetitions);

// The median of values; -1 when there is none.
double median(std::vector<double> values);

// Prints one line of the benchmark table; a floor of 0 or less prints as "-".
void printRow(const QString &figure, double value, double floor);
void printHeader();

} // namespace BenchPackages
