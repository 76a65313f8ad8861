#include "tests/support/testrunner.h"

#include <QCoreApplication>

QObject *createQueueTests();
QObject *createDownloadTests();

// One executable for the workers' queues, one test class per topic.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createQueueTests());
    tests.emplace_back(createDownloadTests());
    return runTestClasses(argc, argv, tests);
}
