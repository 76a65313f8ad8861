#include "tests/support/brokernode.h"

#include <QCoreApplication>
#include <QTest>

// Defined with the test classes.
QObject *makeTransportTest(BrokerNode *broker);
QObject *makeBrokerTest(BrokerNode *broker);
QObject *makeBrokerAccountsTest(BrokerNode *broker);
QObject *makeLanesTest(BrokerNode *broker);

// One private broker node for all test classes.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    BrokerNode broker;
    QScopedPointer<QObject> transport(makeTransportTest(&broker));
    QScopedPointer<QObject> brokerOnly(makeBrokerTest(&broker));
    QScopedPointer<QObject> accounts(makeBrokerAccountsTest(&broker));
    QScopedPointer<QObject> lanes(makeLanesTest(&broker));
    int status = QTest::qExec(transport.data(), argc, argv);
    status |= QTest::qExec(brokerOnly.data(), argc, argv);
    status |= QTest::qExec(accounts.data(), argc, argv);
    status |= QTest::qExec(lanes.data(), argc, argv);
    return status;
}
