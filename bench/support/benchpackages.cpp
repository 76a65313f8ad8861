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

void printRow(const QString &figure, double value, double floor)
{
    const QByteArray text = figure.toUtf8();
    if (floor > 0)
        std::printf("%-48s %12.2f %12.2f %8.2f\n", text.constData(), value, floor, value / floor);
    else
        std::printf("%-48s %12.2f %12s %8s\n", text.constData(), value, "-", "-");
}

} // namespace BenchPackages
