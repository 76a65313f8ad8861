#include "facadefixture.h"

#include "records/paths.h"
#include "storage/database.h"
#include "tests/support/freeport.h"
#include "tests/support/sqlrows.h"
#include "tests/support/storerows.h"
#include "tests/support/testrepository.h"

#include <QTest>

#include <unistd.h>

namespace
{

QByteArray catalogDb()
{
    return Paths::catalogDatabase().toUtf8();
}

} // namespace

QByteArray localDb()
{
    return Paths::localDatabase().toUtf8();
}

bool addCatalogRow(const QStringList &values)
{
    const QStringList columns{"s_name",        "s_icon", "s_exec", "s_rpm", "s_version", "s_size",
                              "s_description", "s_star", "type",   "sign",  "s_rpmdeps"};
    StoreRows::Row row;
    for (int i = 0; i < columns.size(); ++i)
        row.insert(columns.at(i), values.at(i));
    return StoreRows::addCatalogRow(row);
}

TestPackage package(const QString &name, const QString &version)
{
    for (const TestPackage &p : TestRepository::shared().packages())
        if (p.name == name && p.version == version)
            return p;
    return {};
}

void FacadeFixture::initTestCase()
{
    QVERIFY2(TestRepository::shared().isValid(),
             qPrintable(TestRepository::shared().errorString()));
    // The receiver stays on 127.0.0.1, so other loopback addresses are free for peers.
    useLoopbackTransport();
    qputenv("FACADE_TEST_PID", QByteArray::number(getpid()));
}

void FacadeFixture::init()
{
    m_sandbox.reset(new Sandbox(&TestRepository::shared()));
    QVERIFY2(m_sandbox->isValid(), qPrintable(m_sandbox->errorString()));
    // The load repeats rpm -qa until it lists something.
    QVERIFY(m_sandbox->install(package("cv-editor", "2.0")));
    m_tools.reset(new QTemporaryDir);
    QVERIFY(m_tools->isValid());
    m_packages = m_sandbox->packageDirectory();
}

void FacadeFixture::cleanup()
{
    m_demon.reset();
    m_sandbox.reset();
    m_tools.reset();
}

bool FacadeFixture::startFacade()
{
    if (!addCatalogRow({"sentinel", "cv-sentinel", "", "cv-sentinel-1-1", "1", "", "", "", "13",
                        QString(), ""}))
        return false;
    m_demon.reset(new ClientDemon);
    const bool loaded = QTest::qWaitFor(
        [] {
            return rowsOf(catalogDb(), "select sign from softwares where s_name='sentinel'") ==
                   QStringList{"0"};
        },
        60000);
    return loaded &&
           exec_sql(catalogDb().constData(), "delete from softwares where s_name='sentinel'") ==
               0 &&
           exec_sql(localDb().constData(), "delete from software") == 0;
}
