#include "benchpackages.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace BenchPackages
{

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
    return median(times);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

void printHeader()
{
    std::printf("%-48s %12s %12s %8s\n", "figure", "value", "floor", "ratio");
}

void printRow(const QString &figure, double value, double floor, const Precision &precision)
{
    const QByteArray text = figure.toUtf8();
    if (floor > 0)
        std::printf("%-48s %12.*f %12.*f %8.*f\n", text.constData(), precision.value, value,
                    precision.floor, floor, precision.ratio, value / floor);
    else
        std::printf("%-48s %12.*f %12s %8s\n", text.constData(), precision.value, value, "-", "-");
}

Medians measureRow(const Figure &figure, int repetitions)
{
    std::vector<double> values, floors;
    for (int i = 0; i < repetitions; ++i) {
        if (figure.floor && figure.floorFirst)
            floors.push_back(figure.floor());
        values.push_back(figure.value());
        if (figure.floor && !figure.floorFirst)
            floors.push_back(figure.floor());
    }
    const auto failed = [](const std::vector<double> &readings) {
        return std::any_of(readings.begin(), readings.end(), [](double v) { return v < 0; });
    };
    if (values.empty() || failed(values) || failed(floors))
        return Medians();
    const Medians medians{median(values), figure.floor ? median(floors) : figure.fixedFloor};
    printRow(figure.label, medians.value, medians.floor, figure.precision);
    return medians;
}

} // namespace BenchPackages
