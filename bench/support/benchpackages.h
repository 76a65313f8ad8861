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

// Digits after the point in a row of the table.
struct Precision {
    int value = 2;
    int floor = 2;
    int ratio = 2;
};

// Prints one line of the benchmark table; a floor of 0 or less prints as "-".
void printRow(const QString &figure, double value, double floor,
              const Precision &precision = Precision());
void printHeader();

// One figure of a table beside its floor. A measure returns its reading, below 0 when the
// run failed.
struct Figure {
    QString label;
    std::function<double()> value;
    // Run in turn with value, so that both see the machine alike; when empty, fixedFloor (a
    // floor measured earlier in the run, 0 for none) stands.
    std::function<double()> floor;
    double fixedFloor = 0;
    bool floorFirst = false;
    Precision precision;
};
struct Medians {
    double value = -1; // below 0 when a run failed
    double floor = -1;
};
// Measures figure repetitions times and prints the row of the medians (nothing when a run
// failed).
Medians measureRow(const Figure &figure, int repetitions);

} // namespace BenchPackages
