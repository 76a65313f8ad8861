#include "tests/support/brokernode.h"
#include "tests/support/testrunner.h"

#include <QCoreApplication>

// Defined with the test classes.
QObject *makeTransportTest(BrokerNode *broker);
QObject *makeBrokerTest(BrokerNode *broker);
QObject *makeBrokerTlsTest(BrokerNode *broker);
QObject *makeBrokerAccountsTest(BrokerNode *broker);
QObject *makeLanesTest(BrokerNode *broker);
QObject *makeConnectionsTest();

// One private broker node for all test classes.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    BrokerNode broker;
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(makeTransportTest(&broker));
    tests.emplace_back(makeBrokerTest(&broker));
    tests.emplace_back(makeBrokerTlsTest(&broker));
    tests.emplace_back(makeBrokerAccountsTest(&broker));
    tests.emplace_back(makeLanesTest(&broker));
    tests.emplace_back(makeConnectionsTest());
    return runTestClasses(argc, argv, tests);
}
