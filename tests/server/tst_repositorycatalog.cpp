#include "testrepositorycatalog.h"

#include "repositoryfixture.h"
#include "server/groups/desktopgroups.h"
#include "server/repository/repositorycatalog.h"
#include "server/repository/tararchive.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace RepositoryFixture;

void TestRepositoryCatalog::initTestCase()
{
    m_repository.reset(new TestRepository(fixturePackages()));
    QVERIFY2(m_repository->isValid(), qPrintable(m_repository->errorString()));
    QString error;
    QVERIFY2(AppStreamFile(fixtureApplications()).addTo(m_repository->directory(), &error),
             qPrintable(error));
    QVERIFY(m_key.isValid() && m_stranger.isValid());
    QVERIFY2(m_signature.load(m_key.publicKeyFile(), &error), qPrintable(error));
    QVERIFY(sign(m_repository->directory()));
}

bool TestRepositoryCatalog::sign(const QString &repo, bool stranger) const
{
    return (stranger ? m_stranger : m_key)
        .signDetached(repo + QStringLiteral("/repodata/repomd.xml"));
}

void TestRepositoryCatalog::catalogEntries_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("expected"); // name|rpm|class|exec|star|rpmdeps, or "-" when absent
    QTest::newRow("newest of several versions, zh_CN name")
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1|1|gtk-launch cv-office|3|");
    QTest::newRow("other architecture ignored") << "cv-arch"
                                                << "Arch|cv-arch-2.0-1|2|gtk-launch cv-arch|3|";
    QTest::newRow("noarch application") << "cv-docs"
                                        << "Docs|cv-docs-1.0-1|4|gtk-launch cv-docs|3|";
    QTest::newRow("hidden") << "cv-hidden"
                            << "-";
    QTest::newRow("added without AppStream")
        << "cv-tool"
        << "Tool  Box|cv-tool-1.0-1|13|cv-tool --start|3|cv-tool-data cv-tool-lang";
    QTest::newRow("star override, Audio before AudioVideo")
        << "cv-music"
        << "Music|cv-music-1.0-1|11|gtk-launch cv-music|5|";
}

void TestRepositoryCatalog::catalogEntries()
{
    QFETCH(QString, package);
    QFETCH(QString, expected);
    RepositoryCatalog catalog(overrides(QLatin1String(FixtureOverrides)), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(m_repository->directory(), &error), qPrintable(error));
    QCOMPARE(catalog.packages().size(), 5);
    QString found = QStringLiteral("-");
    for (const CatalogPackage &entry : catalog.packages())
        if (entry.icon == package + QStringLiteral(".png"))
            found = QStringList{entry.name, entry.rpm,  entry.klass,
                                entry.exec, entry.star, entry.rpmdeps}
                        .join(QLatin1Char('|'));
    QCOMPARE(found, expected);
}

void TestRepositoryCatalog::icons()
{
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(m_repository->directory(), &error), qPrintable(error));
    QCOMPARE(catalog.icons().keys(), QStringList{QStringLiteral("cv-office.png")});
    QCOMPARE(catalog.icons().value(QStringLiteral("cv-office.png")), OfficeIcon);
    for (const CatalogPackage &entry : catalog.packages())
        QCOMPARE(entry.time.isEmpty(), entry.icon != QLatin1String("cv-office.png"));
}

void TestRepositoryCatalog::repositoryOverHttp()
{
    HttpServer http(m_repository->directory());
    QVERIFY(http.isRunning());
    RepositoryCatalog local(CatalogOverrides(), QStringLiteral("zh_CN"));
    RepositoryCatalog remote(CatalogOverrides(), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(local.read(m_repository->directory(), &error), qPrintable(error));
    QVERIFY2(remote.read(http.url().chopped(1), &error), qPrintable(error));
    QCOMPARE(remote.repomdDigest(), local.repomdDigest());
    QCOMPARE(remote.packages().size(), local.packages().size());
    for (int i = 0; i < local.packages().size(); ++i)
        QCOMPARE(remote.packages()[i].rpm + remote.packages()[i].time,
                 local.packages()[i].rpm + local.packages()[i].time);
    http.stop();
    QVERIFY(!remote.read(http.url().chopped(1), &error));
    QVERIFY2(error.contains("cannot be fetched"), qPrintable(error));
}

void TestRepositoryCatalog::categoryTable_data()
{
    QTest::addColumn<QString>("overrideText");
    QTest::addColumn<QStringList>("categories");
    QTest::addColumn<int>("code");
    QTest::newRow("archiver is not a utility") << "" << QStringList{"Utility", "Archiving"} << 10;
    QTest::newRow("video player") << "" << QStringList{"AudioVideo", "Video", "Player"} << 6;
    QTest::newRow("educational science") << "" << QStringList{"Science", "Education"} << 4;
    QTest::newRow("network game") << "" << QStringList{"Network", "Game"} << 12;
    QTest::newRow("unknown") << "" << QStringList{"X-Vendor"} << 13;
    QTest::newRow("own table replaces the default") << "category X-Vendor 3\nfallback 5\n"
                                                    << QStringList{"Office"} << 5;
    QTest::newRow("own table, first line wins") << "category Office 9\ncategory Graphics 7\n"
                                                << QStringList{"Graphics", "Office"} << 9;
}

void TestRepositoryCatalog::categoryTable()
{
    QFETCH(QString, overrideText);
    QFETCH(QStringList, categories);
    QFETCH(int, code);
    QCOMPARE(overrides(overrideText).categories().codeFor(categories), code);
}

void TestRepositoryCatalog::wrongOverrideLine_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("unknown statement") << "hide a\n\nshow b\n"
                                       << "f.conf:3: unknown statement";
    QTest::newRow("code out of range") << "# c\ncategory Office 14\n"
                                       << "f.conf:2: expected: category";
    QTest::newRow("leading zero code") << "class a 01\n"
                                       << "f.conf:1: class must be";
    QTest::newRow("option-like package") << "hide -rf\n"
                                         << "f.conf:1: hide needs a package";
    QTest::newRow("shell in rpmdeps") << "rpmdeps a b;id\n"
                                      << "f.conf:1: \"b;id\" is not";
    QTest::newRow("star") << "star a 9\n"
                          << "f.conf:1: star must be";
    QTest::newRow("empty name") << "name a\n"
                                << "f.conf:1: name needs a value";
    QTest::newRow("hide with a value") << "hide a b\n"
                                       << "f.conf:1: hide takes only";
    QTest::newRow("pin without a release") << "pin a 1.0\n"
                                           << "f.conf:1: expected: pin";
    QTest::newRow("pin with shell text") << "pin a 1.0-1;id for g\n"
                                         << "f.conf:1: expected: pin";
    QTest::newRow("group that is a path") << "hide a for ../g\n"
                                          << "f.conf:1: \"../g\" is not a group";
    QTest::newRow("words after the group") << "hide a for g h\n"
                                           << "f.conf:1: hide: nothing may follow";
    QTest::newRow("group statement without a value") << "star a for g\n"
                                                     << "f.conf:1: star needs a value";
}

void TestRepositoryCatalog::wrongOverrideLine()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    CatalogOverrides loaded = overrides(QStringLiteral("category Office 7\nhide cv-kept\n"));
    QString got;
    QVERIFY(!loaded.parse(text, QStringLiteral("f.conf"), &got));
    QVERIFY2(got.startsWith(error), qPrintable(got));
    // The overrides loaded before stay in force.
    QCOMPARE(loaded.categories().codeFor({QStringLiteral("Office")}), 7);
    QVERIFY(loaded.of(QStringLiteral("cv-kept")).hide);
}

void TestRepositoryCatalog::groupCatalogs_data()
{
    QTest::addColumn<QString>("overrideText");
    QTest::addColumn<QString>("held"); // "PACKAGE GROUP VERSION-RELEASE" a rollout hands in
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("expected"); // name|rpm, or "-" when absent
    QTest::addColumn<QString>("note");     // a log note expected, or ""
    const QString pinned = QStringLiteral("pin cv-office 1.0-1 for pilot\n");
    QTest::newRow("pin keeps the group on the older version")
        << pinned << ""
        << "pilot"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.0-1") << "";
    QTest::newRow("another group's pin leaves the newest")
        << pinned << ""
        << "default"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1") << "";
    QTest::newRow("a group no statement names gets the newest")
        << pinned << ""
        << "rest"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1") << "";
    QTest::newRow("pin to a version the repository no longer keeps")
        << "pin cv-office 0.9-1 for pilot\n"
        << ""
        << "pilot"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1")
        << "cv-office in group pilot is held to 0.9-1, which the repository no longer keeps: "
           "serving 1.2-1";
    QTest::newRow("pin for every group")
        << "pin cv-office 1.0-1\n"
        << ""
        << "default"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.0-1") << "";
    QTest::newRow("a rollout's hold")
        << ""
        << "cv-office rest 1.0-1"
        << "rest"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.0-1") << "";
    QTest::newRow("a rollout's hold on default leaves a pilot the newest")
        << ""
        << "cv-office default 1.0-1"
        << "pilot"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1") << "";
    QTest::newRow("the administrator's pin wins over a rollout's hold")
        << "pin cv-office 1.2-1 for rest\n"
        << "cv-office rest 1.0-1"
        << "rest"
        << "cv-office" << QStringLiteral("文思办公|cv-office-1.2-1") << "";
    QTest::newRow("hidden for the group") << "hide cv-music for pilot\n"
                                          << ""
                                          << "pilot"
                                          << "cv-music"
                                          << "-"
                                          << "";
    QTest::newRow("hidden for another group") << "hide cv-music for pilot\n"
                                              << ""
                                              << "rest"
                                              << "cv-music"
                                              << "Music|cv-music-1.0-1"
                                              << "";
    QTest::newRow("hidden for all, added for the group")
        << "hide cv-music\nadd cv-music for pilot\n"
        << ""
        << "pilot"
        << "cv-music"
        << "-"
        << "";
    QTest::newRow("added for the group") << "add cv-tool for pilot\n"
                                         << ""
                                         << "pilot"
                                         << "cv-tool"
                                         << "cv-tool|cv-tool-1.0-1"
                                         << "";
    QTest::newRow("added for another group") << "add cv-tool for pilot\n"
                                             << ""
                                             << "default"
                                             << "cv-tool"
                                             << "-"
                                             << "";
    QTest::newRow("named for the group")
        << "name cv-music Music for all\nname cv-music for pilot 试点 音乐\n"
        << ""
        << "pilot"
        << "cv-music" << QStringLiteral("试点 音乐|cv-music-1.0-1") << "";
    QTest::newRow("named for all") << "name cv-music Music for all\nname cv-music for pilot X\n"
                                   << ""
                                   << "default"
                                   << "cv-music"
                                   << "Music for all|cv-music-1.0-1"
                                   << "";
}

void TestRepositoryCatalog::groupCatalogs()
{
    QFETCH(QString, overrideText);
    QFETCH(QString, held);
    QFETCH(QString, group);
    QFETCH(QString, package);
    QFETCH(QString, expected);
    QFETCH(QString, note);
    VersionHolds holds;
    if (!held.isEmpty())
        holds << VersionHold{held.section(' ', 0, 0), held.section(' ', 1, 1),
                             held.section(' ', 2, 2)};
    RepositoryCatalog catalog(overrides(overrideText), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(m_repository->directory(), {"pilot", "rest"}, holds, &error),
             qPrintable(error));
    QCOMPARE(catalog.catalogs().keys().size(), 3);
    QString found = QStringLiteral("-");
    for (const CatalogPackage &entry : catalog.catalogs().value(group))
        if (entry.icon == package + QStringLiteral(".png"))
            found = entry.name + QLatin1Char('|') + entry.rpm;
    QCOMPARE(found, expected);
    if (!note.isEmpty())
        QVERIFY2(catalog.notes().contains(note), qPrintable(catalog.notes().join('\n')));
    // Every version primary keeps, newest first; the other architecture's build is not one.
    QCOMPARE(catalog.versionReleases().value("cv-office"), QStringList({"1.2-1", "1.0-1"}));
    QCOMPARE(catalog.versionReleases().value("cv-arch"), QStringList{"2.0-1"});
}

void TestRepositoryCatalog::desktopGroups_data()
{
    QTest::addColumn<QStringList>("definitions");
    QTest::addColumn<QString>("account"); // the broker's user-id; empty over direct TCP
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("group"); // or "error: ..." when a definition is refused
    const QStringList two{"pilot 10.1.2.0/24 10.1.9.7", "rest 10.1.0.0/16 account:desk-10.9.0.1"};
    QTest::newRow("in a range") << two << ""
                                << "10.1.2.40"
                                << "pilot";
    QTest::newRow("one address") << two << ""
                                 << "10.1.9.7"
                                 << "pilot";
    QTest::newRow("first line that matches wins") << two << ""
                                                  << "10.1.3.4"
                                                  << "rest";
    QTest::newRow("in no group") << two << ""
                                 << "10.2.0.1"
                                 << "default";
    QTest::newRow("the account, whatever the address") << two << "desk-10.9.0.1"
                                                       << "10.9.0.1"
                                                       << "rest";
    QTest::newRow("a desktop account by its address") << two << "desk-10.1.2.5"
                                                      << "10.1.2.5"
                                                      << "pilot";
    QTest::newRow("a group account inside a range") << two << "group-10.1.2"
                                                    << "10.1.2.9"
                                                    << "pilot";
    // Its desktops choose their address within 10.1: naming one in pilot's range gets nothing.
    QTest::newRow("a group account wider than the range") << two << "group-10.1"
                                                          << "10.1.2.9"
                                                          << "rest";
    QTest::newRow("a group account wider than every range") << two << "group-10"
                                                            << "10.1.2.9"
                                                            << "default";
    QTest::newRow("not an address") << two << ""
                                    << "10.1.2.300"
                                    << "default";
    QTest::newRow("bits beyond the prefix")
        << QStringList{"pilot 10.1.2.1/24"} << ""
        << "10.1.2.1"
        << "error: desktop-group pilot: 10.1.2.1/24 has bits set beyond /24";
    QTest::newRow("named default") << QStringList{"default 10.1.2.0/24"} << ""
                                   << "10.1.2.1"
                                   << "error: desktop-group: \"default\" is not a group name";
    QTest::newRow("named twice") << QStringList{"a 10.1.2.0/24", "a 10.1.3.0/24"} << ""
                                 << "10.1.2.1"
                                 << "error: desktop-group: a is named twice";
    QTest::newRow("no member") << QStringList{"a"} << ""
                               << "10.1.2.1"
                               << "error: desktop-group a: no member";
    QTest::newRow("group accounts overlapping")
        << QStringList{"a account:group-10", "b account:group-10.1"} << ""
        << "10.1.2.1"
        << "error: desktop-group b: account:group-10.1 overlaps account:group-10";
    QTest::newRow("group accounts overlapping in one group")
        << QStringList{"a account:group-10.1.2 account:group-10.1"} << ""
        << "10.1.2.1"
        << "error: desktop-group a: account:group-10.1 overlaps account:group-10.1.2";
    QTest::newRow("group accounts side by side")
        << QStringList{"a account:group-10.1", "b account:group-10.10"} << "group-10.10"
        << "10.10.0.1"
        << "b";
    QTest::newRow("a host name") << QStringList{"a pc1.example.org"} << ""
                                 << "10.1.2.1"
                                 << "error: desktop-group a: \"pc1.example.org\" is neither";
}

void TestRepositoryCatalog::desktopGroups()
{
    QFETCH(QStringList, definitions);
    QFETCH(QString, account);
    QFETCH(QString, address);
    QFETCH(QString, group);
    DesktopGroups groups;
    QString error;
    for (const QString &definition : definitions)
        if (!groups.add(definition, &error))
            break;
    if (group.startsWith("error: ")) {
        QVERIFY2(error.startsWith(group.mid(7)), qPrintable(error));
        return;
    }
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(groups.of(account, address), group);
}

void TestRepositoryCatalog::repositoryMidUpdate_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("error");
    QTest::newRow("primary rewritten under the old repomd.xml")
        << "primary"
        << "checksum differs from repomd.xml";
    QTest::newRow("repomd.xml half written") << "repomd"
                                             << "not a repomd.xml";
    QTest::newRow("repomd.xml names a file not written yet") << "missing"
                                                             << "primary";
    QTest::newRow("broken AppStream file") << "appstream"
                                           << "AppStream data:";
    QTest::newRow("location outside the repository") << "outside"
                                                     << "bad entry for primary";
}

void TestRepositoryCatalog::repositoryMidUpdate()
{
    QFETCH(QString, damage);
    QFETCH(QString, error);
    QTemporaryDir copy;
    const QString repo = copy.filePath(QStringLiteral("repo"));
    QCOMPARE(ProcessRunner::run("cp", {"-a", m_repository->directory(), repo}).exitCode, 0);
    const QDir repodata(repo + QStringLiteral("/repodata"));
    const QString primary =
        repodata.filePath(repodata.entryList({QStringLiteral("*primary.xml*")}).value(0));
    if (damage == QLatin1String("primary")) {
        QFile file(primary);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(writeFile(primary, file.readAll().chopped(7)));
    } else if (damage == QLatin1String("repomd")) {
        QFile file(repodata.filePath(QStringLiteral("repomd.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        QVERIFY(writeFile(file.fileName(), whole.left(whole.size() / 2)));
    } else if (damage == QLatin1String("missing")) {
        QVERIFY(QFile::remove(primary));
    } else if (damage == QLatin1String("outside")) {
        // The same file, reached from above the repository.
        QFile file(repodata.filePath(QStringLiteral("repomd.xml")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray whole = file.readAll();
        const QByteArray name = QFileInfo(primary).fileName().toUtf8();
        QVERIFY(whole.contains("href=\"repodata/" + name));
        QByteArray changed = whole;
        changed.replace("href=\"repodata/" + name, "href=\"../repo/repodata/" + name);
        QVERIFY(writeFile(file.fileName(), changed));
    } else {
        QVector<AppStreamEntry> entries = fixtureApplications();
        entries[0].name = QStringLiteral("</name>broken");
        AppStreamFile broken(entries);
        QString xml = broken.collectionXml().replace(QStringLiteral("&lt;/name&gt;"), "</name>");
        QVERIFY(writeFile(copy.filePath(QStringLiteral("appstream.xml")), xml.toUtf8()));
        QCOMPARE(ProcessRunner::run("modifyrepo_c", {"--mdtype=appstream",
                                                     copy.filePath(QStringLiteral("appstream.xml")),
                                                     repodata.path()})
                     .exitCode,
                 0);
    }
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"));
    QString got;
    QVERIFY2(catalog.read(m_repository->directory(), &got), qPrintable(got));
    const QByteArray good = catalog.repomdDigest();
    QVERIFY(!catalog.read(repo, &got));
    QVERIFY2(got.contains(error), qPrintable(got));
    // What was read before stays.
    QCOMPARE(catalog.repomdDigest(), good);
    QCOMPARE(catalog.packages().size(), 5);
}

void TestRepositoryCatalog::iconArchiveTakesRegularFilesOnly()
{
    // Links in an archive name icons too: a symbolic one to a file of the server's, a hard one;
    // a GNU long name first must not put the reading out of step.
    QTemporaryDir work;
    QDir(work.path()).mkpath("64x64/deep/er");
    QVERIFY(writeFile(work.filePath("64x64/real.png"), "real picture"));
    const QString longName = "64x64/deep/er/" + QString(110, QLatin1Char('n')) + ".png";
    QVERIFY(writeFile(work.filePath(longName), "long picture"));
    QVERIFY(QFile::link("/etc/passwd", work.filePath("64x64/symbolic.png")));
    QCOMPARE(
        ProcessRunner::run("ln", {work.filePath("64x64/real.png"), work.filePath("64x64/hard.png")})
            .exitCode,
        0);
    const QString archive = work.filePath("icons.tar");
    QCOMPARE(ProcessRunner::run("tar", {"-cf", archive, "-C", work.path(), longName,
                                        "64x64/real.png", "64x64/hard.png", "64x64/symbolic.png"})
                 .exitCode,
             0);
    QFile file(archive);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QHash<QString, QByteArray> files = TarArchive::regularFiles(
        file.readAll(), {"64x64/real.png", "64x64/hard.png", "64x64/symbolic.png", longName});
    QCOMPARE(files.keys(), QStringList{"64x64/real.png"});
    QCOMPARE(files.value("64x64/real.png"), QByteArray("real picture"));
}

void TestRepositoryCatalog::serviceConfiguration_data()
{
    QTest::addColumn<QString>("config");    // %1 the repository, %2 the file area
    QTest::addColumn<QStringList>("extra"); // options after --server-config
    QTest::addColumn<QString>("overrideText");
    QTest::addColumn<QString>("outcome"); // "catalog" or the start of the error line
    QTest::newRow("whole") << "# c\nrepository = %1\nfiles = %2\noverrides = %3\n"
                           << QStringList() << "hide cv-hidden\n"
                           << "catalog";
    QTest::newRow("command line wins") << "repository = /nonexistent\nfiles = %2\n"
                                       << QStringList{"--repository", "%1"} << ""
                                       << "catalog";
    QTest::newRow("unknown key") << "files = %2\nrepo = %1\n"
                                 << QStringList() << ""
                                 << "catalog-server: %4:2: unknown key \"repo\"";
    QTest::newRow("flag value") << "files-only = yes\n"
                                << QStringList() << ""
                                << "catalog-server: %4:1: files-only must be";
    QTest::newRow("validity and heartbeat")
        << "repository = %1\nfiles = %2\nframe_validity = 3600\nheartbeat = 60\n"
        << QStringList() << ""
        << "catalog";
    QTest::newRow("heartbeat not a number")
        << "files = %2\nheartbeat = hourly\n"
        << QStringList() << ""
        << "catalog-server: --heartbeat must be a number of seconds";
    QTest::newRow("bounds on peers, spelt with _")
        << "repository = %1\nfiles = %2\nmax_clients = 100\nmax_group_desktops = 8\n"
           "group_desktop_interval = 0.5\n"
        << QStringList() << ""
        << "catalog";
    QTest::newRow("group pace not seconds") << "repository = %1\nfiles = %2\n"
                                               "group-desktop-interval = soon\n"
                                            << QStringList() << ""
                                            << "catalog-server: --group-desktop-interval must be";
    QTest::newRow("group pace not a number") << "repository = %1\nfiles = %2\n"
                                                "group-desktop-interval = nan\n"
                                             << QStringList() << ""
                                             << "catalog-server: --group-desktop-interval must be";
    QTest::newRow("settle not a number") << "repository = %1\nfiles = %2\nsettle = soon\n"
                                         << QStringList() << ""
                                         << "catalog-server: --settle must be";
    QTest::newRow("no value") << "repository =\n"
                              << QStringList() << ""
                              << "catalog-server: %4:1: repository needs a value";
    QTest::newRow("wrong override line") << "repository = %1\nfiles = %2\noverrides = %3\n"
                                         << QStringList() << "hide a\nhid b\n"
                                         << "error: %3:2: unknown statement";
}

void TestRepositoryCatalog::serviceConfiguration()
{
    QFETCH(QString, config);
    QFETCH(QStringList, extra);
    QFETCH(QString, overrideText);
    QFETCH(QString, outcome);
    QTemporaryDir work;
    const QString files = work.filePath(QStringLiteral("www"));
    const QString overridesFile = work.filePath(QStringLiteral("overrides.conf"));
    const QString configFile = work.filePath(QStringLiteral("server.conf"));
    const auto fill = [&](QString text) {
        return text.replace("%1", m_repository->directory())
            .replace("%2", files)
            .replace("%3", overridesFile)
            .replace("%4", configFile);
    };
    QVERIFY(writeFile(overridesFile, overrideText.toUtf8()));
    QVERIFY(writeFile(configFile, fill(config).toUtf8()));
    // The fleet database's default lies outside the test's folders.
    QStringList arguments{"--server-config", configFile, "--no-serve", "--fleet-db",
                          work.filePath(QStringLiteral("fleet.db"))};
    for (const QString &argument : extra)
        arguments << fill(argument);
    const ProcessResult result = ProcessRunner::run(CORVANE_CATALOG_SERVER, arguments);
    if (outcome != QLatin1String("catalog")) {
        QVERIFY(result.exitCode != 0);
        QVERIFY2(result.output.contains(fill(outcome)), qPrintable(result.output));
        QVERIFY(!QFile::exists(files + "/.cv_data/data_x86_64"));
        return;
    }
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QFile catalogFile(files + "/.cv_data/data_x86_64");
    QVERIFY(catalogFile.open(QIODevice::ReadOnly));
    const QString catalog = QString::fromUtf8(catalogFile.readAll());
    QVERIFY(catalog.contains("rpm='cv-office-1.2-1'"));
    QCOMPARE(catalog.contains("cv-hidden"), overrideText.isEmpty());
    QFile icon(files + "/cv-office.png");
    QVERIFY(icon.open(QIODevice::ReadOnly));
    QCOMPARE(icon.readAll(), OfficeIcon);
}

QTEST_GUILESS_MAIN(TestRepositoryCatalog)
