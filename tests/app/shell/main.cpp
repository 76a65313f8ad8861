#include "tests/support/testrunner.h"

#include <QApplication>

QObject *createStartupTests();
QObject *createCatalogTests();
QObject *createSearchTests();
QObject *createOperationTests();
QObject *createDownloadTests();
QObject *createUninstallTests();
QObject *createSafeguardTests();
QObject *createPartTests();

// One executable for the folder, one test class per topic.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createStartupTests());
    tests.emplace_back(createCatalogTests());
    tests.emplace_back(createSearchTests());
    tests.emplace_back(createOperationTests());
    tests.emplace_back(createDownloadTests());
    tests.emplace_back(createUninstallTests());
    tests.emplace_back(createSafeguardTests());
    tests.emplace_back(createPartTests());
    return runTestClasses(argc, argv, tests);
}
