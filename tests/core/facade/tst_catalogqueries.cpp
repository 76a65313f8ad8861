#include "facadefixture.h"

#include "records/paths.h"
#include "storage/database.h"
#include "tests/support/sqlrows.h"
#include "tests/support/storerows.h"

#include <QFile>
#include <QTest>

namespace
{

using StoreRows::addInstalledRow;

bool addDownloadRow(const char *name, const char *icon, const char *state)
{
    return exec_sql(localDb().constData(), "insert into loadmanage values(?,?,?,?,?,?)", name, icon,
                    "1 MB", state, "下载", "1") == 0;
}

// Six packages in four categories: states 0, 1, 2, 2 (downloaded: 3), 0 and none.
bool fillCatalog()
{
    const QString none;
    const QVector<QStringList> rows = {
        {"文字处理", "cv-writer", "cv-writer %f", "cv-writer-1.0-1", "1.0-1", "1 MB",
         "office word processor", "4", "1", "0", "libc"},
        {"表格", "cv-sheet", "cv-sheet", "cv-sheet-2.0-1", "2.0-1", "2 MB", "spreadsheet", "5", "1",
         "1", ""},
        {"播放器", "cv-player", "cv-player --play", "cv-player-3.2-4", "3.2-4", "3 MB",
         "plays video and office presentations", "3", "6", "2", "libvideo libaudio"},
        {"画图", "cv-paint", "cv-paint", "cv-paint-1.0-1", "1.0-1", "1 MB", "draw pictures", "2",
         "7", "2", ""},
        {"O'Reilly 阅读器", "cv-reader", "cv-reader", "cv-reader-1.0-1", "1.0-1", "1 MB",
         "reader, 100% free", "4", "4", "0", ""},
        {"记事本", "cv-notes", "cv-notes", "cv-notes-0.1-1", "0.1-1", "1 MB", "notes", "1", "1",
         none, ""},
    };
    for (const QStringList &row : rows)
        if (!addCatalogRow(row))
            return false;
    return addInstalledRow("cv-sheet", "1.5", "2.x86_64") &&
           addInstalledRow("cv-player", "3.2", "4.x86_64") &&
           addInstalledRow("cv-paint", "1.0", "1.x86_64") &&
           addDownloadRow("画图", "cv-paint", "下载成功") &&
           addDownloadRow("文字处理", "cv-writer", "正在下载") &&
           addDownloadRow("播放器", "CV-PLAYER", "下载成功");
}

QStringList namesOf(const QVector<RpmData> &records)
{
    QStringList names;
    for (const RpmData &record : records)
        names << record.m_name;
    return names;
}

QString statesOf(const QVector<RpmData> &records)
{
    QStringList states;
    for (const RpmData &record : records)
        states << QString::number(record.m_state);
    return states.join(',');
}

} // namespace

// What the facade's catalog queries list and look up.
class TestCatalogQueries : public FacadeFixture
{
    Q_OBJECT

private slots:
    void selectSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("states");
        const QStringList all = {"文字处理", "表格", "播放器", "画图", "O'Reilly 阅读器", "记事本"};
        QTest::newRow("everything") << 0 << ""
                                    << "" << all << "0,1,2,3,0,0";
        QTest::newRow("unknown category") << 0 << "未知"
                                          << "" << all << "0,1,2,3,0,0";
        QTest::newRow("category") << 0 << "办公应用"
                                  << "" << QStringList{"文字处理", "表格", "记事本"} << "0,1,0";
        QTest::newRow("category search stays in its category")
            << 0 << "办公应用"
            << "office" << QStringList{"文字处理"} << "0";
        QTest::newRow("search without category")
            << 0 << "未知"
            << "office" << QStringList{"文字处理", "播放器"} << "0,2";
        QTest::newRow("letters match in any case")
            << 0 << ""
            << "OFFICE" << QStringList{"文字处理", "播放器"} << "0,2";
        QTest::newRow("search in name") << 0 << ""
                                        << "表" << QStringList{"表格"} << "1";
        QTest::newRow("quote in keyword") << 0 << ""
                                          << "O'Reilly" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("underscore is a wildcard") << 0 << ""
                                                  << "pl_ys" << QStringList{"播放器"} << "2";
        QTest::newRow("percent is a wildcard") << 0 << ""
                                               << "r%free" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("category and name") << 0 << "教育学习"
                                           << "阅读" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("upgradable") << 1 << ""
                                    << "" << QStringList{"表格"} << "1";
        QTest::newRow("upgradable in a category") << 1 << "视频应用"
                                                  << "" << QStringList{} << "";
        QTest::newRow("installed") << 2 << ""
                                   << "" << QStringList{"表格", "播放器"} << "1,2";
        QTest::newRow("unknown mode") << 3 << ""
                                      << "" << QStringList{} << "";
    }
    void selectSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QString, category);
        QFETCH(QString, keyword);
        QFETCH(QStringList, names);
        QFETCH(QString, states);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectSoftware(mode, category, keyword);
        QCOMPARE(namesOf(records), names);
        QCOMPARE(statesOf(records), states);
    }

    void recordFields()
    {
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectSoftware(0, "视频应用", "");
        QCOMPARE(records.size(), 1);
        const RpmData &r = records.first();
        const QStringList fields = {r.m_rpm,     r.m_icon,     r.m_exec,        r.m_name,
                                    r.m_version, r.m_size,     r.m_description, r.m_star,
                                    r.m_type,    r.m_reserved, r.m_rpmdeps};
        QCOMPARE(fields, (QStringList{"cv-player-3.2-4", "cv-player", "cv-player --play", "播放器",
                                      "3.2-4", "3 MB", "plays video and office presentations", "3",
                                      "6", "", "libvideo libaudio"}));
        QCOMPARE(r.m_state, 2);
    }

    void installedVersions_data()
    {
        QTest::addColumn<bool>("inLocalTable");
        QTest::addColumn<QStringList>("versions");
        QTest::newRow("upgradable shows the installed version")
            << true << QStringList{"1.5-2.x86_64", "3.2-4"};
        QTest::newRow("unknown locally keeps the catalog version")
            << false << QStringList{"2.0-1", "3.2-4"};
    }
    void installedVersions()
    {
        QFETCH(bool, inLocalTable);
        QFETCH(QStringList, versions);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        if (!inLocalTable)
            QCOMPARE(
                exec_sql(localDb().constData(), "delete from software where name=?", "cv-sheet"),
                0);
        QStringList shown;
        for (const RpmData &record : m_demon->selectSoftware(2, "", ""))
            shown << record.m_version;
        QCOMPARE(shown, versions);
        // Mode 1 keeps the catalog version.
        QCOMPARE(m_demon->selectSoftware(1, "", "").value(0).m_version, QString("2.0-1"));
    }

    void upgradeSecurityFixes_data()
    {
        QTest::addColumn<QString>("stored"); // beside 表格, installed 1.5-2, offered 2.0-1
        QTest::addColumn<QString>("shown");  // on its upgradable record
        QTest::newRow("a fix the installed version lacks")
            << "A1,security,critical,2.0-1,CVE-2026-1111"
            << "A1,security,critical,2.0-1,CVE-2026-1111";
        QTest::newRow("a fix the installed version has") << "A2,security,important,1.5-2"
                                                         << "";
        QTest::newRow("an enhancement is no security fix") << "E1,enhancement,,2.0-1"
                                                           << "";
        QTest::newRow("gravest first") << "A3,security,low,1.8-1 A4,security,critical,2.0-1"
                                       << "A4,security,critical,2.0-1 A3,security,low,1.8-1";
        QTest::newRow("markup stored by hand is no advisory") << "<b>x</b>,security,critical,2.0-1"
                                                              << "";
    }
    // The upgrade page's mark is computed against the installed version.
    void upgradeSecurityFixes()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QCOMPARE(exec_sql(Paths::catalogDatabase().toUtf8().constData(),
                          "insert into advisories values('表格', ?)", stored.toUtf8().constData()),
                 0);
        const QVector<RpmData> upgradable = m_demon->selectSoftware(1, "", "");
        QCOMPARE(namesOf(upgradable), QStringList{"表格"});
        QCOMPARE(upgradable.first().m_advisories, shown);
        // Rows not upgradable carry none.
        for (const RpmData &record : m_demon->selectSoftware(0, "", ""))
            QVERIFY(record.m_state == 1 || record.m_advisories.isEmpty());
    }

    void downloadedState_data()
    {
        QTest::addColumn<QString>("sign");
        QTest::addColumn<bool>("localDatabase");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("listedAsInstalled");
        QTest::newRow("current") << "2" << true << 3 << false;
        QTest::newRow("upgradable") << "1" << true << 3 << false;
        QTest::newRow("no local database") << "2" << false << 2 << true;
    }
    void downloadedState()
    {
        QFETCH(QString, sign);
        QFETCH(bool, localDatabase);
        QFETCH(int, state);
        QFETCH(bool, listedAsInstalled);
        QVERIFY(startFacade());
        QVERIFY(addCatalogRow(
            {"画图", "cv-paint", "", "cv-paint-1.0-1", "1.0-1", "", "", "", "7", sign, ""}));
        QVERIFY(addDownloadRow("画图", "cv-paint", "下载成功"));
        if (!localDatabase)
            QVERIFY(QFile::remove(Paths::localDatabase()));
        QCOMPARE(statesOf(m_demon->selectSoftware(0, "", "")), QString::number(state));
        QCOMPARE(m_demon->selectSoftware(1, "", "").size(), 0);
        QCOMPARE(m_demon->selectSoftware(2, "", "").size(), listedAsInstalled ? 1 : 0);
    }

    void failingQueriesAreEmpty()
    {
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QCOMPARE(m_demon->selectAllSoftware(0, "select nothing from nowhere").size(), 0);
        QVERIFY(m_demon->selectSoftware(0, "", "").size() > 0);
        QVERIFY(QFile::remove(Paths::catalogDatabase()));
        QCOMPARE(m_demon->selectSoftware(0, "", "").size(), 0);
        QCOMPARE(m_demon->selectNameSoftware(0, "表格").m_name, QString());
    }

    void selectNameSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("rpm");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("state");
        QTest::newRow("no such name") << 0 << "不存在"
                                      << ""
                                      << "" << 0;
        QTest::newRow("installed and current") << 0 << "播放器"
                                               << "cv-player-3.2-4"
                                               << "3.2-4" << 2;
        QTest::newRow("current, installed listing") << 2 << "播放器"
                                                    << "cv-player-3.2-4"
                                                    << "3.2-4" << 2;
        QTest::newRow("upgradable and installed") << 0 << "表格"
                                                  << "cv-sheet-2.0-1"
                                                  << "2.0-1" << -1;
        QTest::newRow("not installed") << 0 << "文字处理"
                                       << "cv-writer-1.0-1"
                                       << "1.0-1" << 0;
        QTest::newRow("downloaded is not looked up") << 0 << "画图"
                                                     << "cv-paint-1.0-1"
                                                     << "1.0-1" << 2;
        QTest::newRow("quote in name") << 0 << "O'Reilly 阅读器"
                                       << "cv-reader-1.0-1"
                                       << "1.0-1" << 0;
        QTest::newRow("later row wins") << 0 << "记事本"
                                        << "cv-notes-0.2-1"
                                        << "0.2-1" << 0;
    }
    void selectNameSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QFETCH(QString, rpm);
        QFETCH(QString, version);
        QFETCH(int, state);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QVERIFY(addCatalogRow(
            {"记事本", "cv-notes", "", "cv-notes-0.2-1", "0.2-1", "", "", "", "1", "0", ""}));
        // A list query first, so that nothing of it may leak into the lookup.
        QVERIFY(!m_demon->selectSoftware(2, "", "").isEmpty());
        const RpmData record = m_demon->selectNameSoftware(mode, name);
        QCOMPARE(record.m_rpm, rpm);
        QCOMPARE(record.m_version, version);
        QCOMPARE(record.m_state, state);
        QCOMPARE(record.m_name, rpm.isEmpty() ? QString() : name);
        // Looked up among other names at once, the name gives the same record.
        const QHash<QString, RpmData> batch =
            m_demon->selectNamesSoftware(mode, {name, QStringLiteral("播放器"), "表格"});
        QCOMPARE(batch.contains(name), !rpm.isEmpty());
        QCOMPARE(batch.value(name).m_rpm, rpm);
        QCOMPARE(batch.value(name).m_version, version);
        QCOMPARE(batch.value(name).m_state, state);
    }

    void selectTypeSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("states");
        QTest::newRow("all") << 0 << QStringList{"文字处理", "表格", "记事本"} << "0,-1,0";
        QTest::newRow("not installed") << 1 << QStringList{"文字处理", "记事本"} << "0,0";
        QTest::newRow("mode 2") << 2 << QStringList{} << "";
    }
    void selectTypeSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, names);
        QFETCH(QString, states);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectTypeSoftware(mode, "1");
        QCOMPARE(namesOf(records), names);
        QCOMPARE(statesOf(records), states);
        for (const RpmData &record : records)
            QCOMPARE(record.m_rpmdeps, QString());
    }

    void installedLookups_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("version");
        QTest::newRow("installed") << "cv-sheet" << -1 << "1.5-2.x86_64";
        QTest::newRow("not installed") << "cv-writer" << 0 << "";
        QTest::newRow("case matters") << "CV-SHEET" << 0 << "";
        QTest::newRow("two rows, the last wins") << "cv-twice" << -1 << "2.0-1";
    }
    void installedLookups()
    {
        QFETCH(QString, name);
        QFETCH(int, state);
        QFETCH(QString, version);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QVERIFY(addInstalledRow("cv-twice", "1.0", "1"));
        QVERIFY(addInstalledRow("cv-twice", "2.0", "1"));
        QCOMPARE(m_demon->getState(name, "ignored"), state);
        QCOMPARE(m_demon->getSoftwareVersion(name), version);
    }
};

QObject *createCatalogQueryTests()
{
    return new TestCatalogQueries;
}

#include "tst_catalogqueries.moc"
