#include "tests/support/testrunner.h"

#include <QApplication>

QObject *createProcessThreadTests();
QObject *createInstallItemTests();
QObject *createLoadDialogTests();

// One executable for the folder, one test class per topic.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createProcessThreadTests());
    tests.emplace_back(createInstallItemTests());
    tests.emplace_back(createLoadDialogTests());
    return runTestClasses(argc, argv, tests);
}
