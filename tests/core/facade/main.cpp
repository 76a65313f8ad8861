#include "tests/support/testrunner.h"

#include <QCoreApplication>

QObject *createFacadeTests();
QObject *createCatalogQueryTests();

// One executable for the facade, one test class per topic.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createFacadeTests());
    tests.emplace_back(createCatalogQueryTests());
    return runTestClasses(argc, argv, tests);
}
