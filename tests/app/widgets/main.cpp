#include "tests/support/testrunner.h"

#include <QApplication>

QObject *createWidgetTests();
QObject *createTableCellTests();

// One executable for the folder, one test class per topic.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // As QTEST_MAIN sets it: the painted sizes and pixels compared do not follow the screen.
    app.setAttribute(Qt::AA_Use96Dpi, true);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createWidgetTests());
    tests.emplace_back(createTableCellTests());
    return runTestClasses(argc, argv, tests);
}
