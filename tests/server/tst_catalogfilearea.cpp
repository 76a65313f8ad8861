#include "server/repository/catalogoverrides.h"
#include "server/repository/repositorycatalog.h"
#include "sync/framesignature.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/processrunner.h"
#include "tests/support/testfiles.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <memory>

namespace
{

using Layout = AppStreamFile::IconArchives;

const QByteArray Victim = QByteArrayLiteral("a file of the service's own");

// A catalog file of one package.
QByteArray catalogOf(const QString &package)
{
    return QStringLiteral("<c><s name='%1' icon='%1.png' exec='%1' rpm='%1-1-1' class='1' "
                          "version='1' size='1' star='3' time='' desc='d' rpmdeps=''/></c>\n")
        .arg(package)
        .toUtf8();
}

QVector<AppStreamEntry> applications(const QMap<int, QByteArray> &officeIcons)
{
    AppStreamEntry office{"cv-office", "Office", {}, "Writes", {"Office"}, {}, officeIcons};
    AppStreamEntry music{"cv-music", "Music", {}, "Plays", {"Audio"}, "music picture"};
    return {office, music};
}

} // namespace

class TestCatalogFileArea : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void refusedFileArea_data();
    void refusedFileArea();
    void plantedLinks_data();
    void plantedLinks();
    void replacedAfterStart_data();
    void replacedAfterStart();
    void pushFileTrim_data();
    void pushFileTrim();
    void staleIcons_data();
    void staleIcons();
    void iconLayouts_data();
    void iconLayouts();
    void otherGenerators_data();
    void otherGenerators();

private:
    // cv-paint, an application with a desktop entry, metainfo and icons at 64 and 128 pixels,
    // in a repository of its own; its AppStream data made by appstream-generator (rpmmd) and
    // appstream-compose in m_generated.
    bool makeApplicationRepository();
    // A copy of the bare repository in dir with this AppStream data added.
    QString repositoryWith(const QTemporaryDir &dir, const AppStreamFile &appstream);
    // The server run once over the work folder: files in WORK/www, the key WORK/keys/catalog.key.
    ProcessResult serve(const QTemporaryDir &work, const QStringList &arguments);

    std::unique_ptr<TestRepository> m_repository;
    std::unique_ptr<TestRepository> m_paint;
    QTemporaryDir m_generated;
};

void TestCatalogFileArea::initTestCase()
{
    m_repository.reset(
        new TestRepository({TestPackage{"cv-office", "1.0"}, TestPackage{"cv-music", "1.0"}}));
    QVERIFY2(m_repository->isValid(), qPrintable(m_repository->errorString()));
    useLoopbackTransport();
}

QString TestCatalogFileArea::repositoryWith(const QTemporaryDir &dir,
                                            const AppStreamFile &appstream)
{
    const QString copy = dir.filePath(QStringLiteral("repo"));
    QString error;
    if (ProcessRunner::run("cp", {"-a", m_repository->directory(), copy}).exitCode != 0 ||
        !appstream.addTo(copy, &error))
        qWarning("repository copy: %s", qPrintable(error));
    return copy;
}

ProcessResult TestCatalogFileArea::serve(const QTemporaryDir &work, const QStringList &arguments)
{
    QStringList all{"--files", work.filePath("www"), "--no-serve"};
    for (const QString &argument : arguments)
        all << QString(argument).replace("WORK", work.path());
    return ProcessRunner::run(CORVANE_CATALOG_SERVER, all);
}

void TestCatalogFileArea::refusedFileArea_data()
{
    QTest::addColumn<QString>("plant"); // shell, in the work folder that holds keys/catalog.key
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("refusal");
    const QString key = "keys/catalog.key";
    QTest::newRow("link as .cv_data") << "mkdir -p www victim && ln -s ../victim www/.cv_data"
                                      << key << "WORK/www/.cv_data: is a symbolic link";
    QTest::newRow("link as the file area")
        << "mkdir victim && ln -s victim www" << key << "WORK/www: is a symbolic link";
    QTest::newRow("group may write it")
        << "mkdir -m 0775 www" << key << "WORK/www may be changed by group or others (mode 0775)";
    QTest::newRow("others may write .cv_data")
        << "mkdir -p www/.cv_data && chmod 0757 www/.cv_data" << key
        << "WORK/www/.cv_data may be changed by group or others";
    QTest::newRow("another user's")
        << "mkdir www && chown 65534 www" << key << "WORK/www belongs to user 65534";
    QTest::newRow("another user's .cv_data") << "mkdir -p www/.cv_data && chown 65534 www/.cv_data"
                                             << key << "WORK/www/.cv_data belongs to user 65534";
    QTest::newRow("key inside") << "true"
                                << "www/keys/catalog.key"
                                << "WORK/www/keys/catalog.key lies inside it";
    QTest::newRow("sequence linked into it")
        << "mkdir www && ln -s ../www/sequence keys/catalog.key.sequence" << key
        << "WORK/keys/catalog.key.sequence lies inside it";
    QTest::newRow("hard link to the key") << "mkdir www && ln keys/catalog.key www/catalog.txt"
                                          << key << "WORK/keys/catalog.key has 2 names";
}

void TestCatalogFileArea::refusedFileArea()
{
    QFETCH(QString, plant);
    QFETCH(QString, key);
    QFETCH(QString, refusal);
    QTemporaryDir work;
    QVERIFY(writeFile(work.filePath(key), readFile(TestKey::catalog().privateKeyFile())));
    QVERIFY(QFile::setPermissions(work.filePath(key), QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(writeFile(work.filePath("catalog.xml"), catalogOf("cv-a")));
    QCOMPARE(ProcessRunner::shell("cd " + work.path() + " && " + plant).exitCode, 0);
    const ProcessResult result =
        serve(work, {"--key", work.filePath(key), "--catalog", "WORK/catalog.xml"});
    QVERIFY2(result.exitCode != 0, qPrintable(result.output));
    QVERIFY2(result.output.contains("file area " + work.filePath("www") +
                                    " refused: " + QString(refusal).replace("WORK", work.path())),
             qPrintable(result.output));
    QCOMPARE(result.output.count('\n'), 1);
    // Nothing written anywhere, through a link or not.
    QVERIFY(!QFile::exists(work.filePath("www/.cv_data/data_x86_64")));
    QVERIFY(QDir(work.filePath("victim")).isEmpty());
}

void TestCatalogFileArea::plantedLinks_data()
{
    QTest::addColumn<QString>("plant"); // shell, in the work folder that holds the victim
    QTest::addColumn<QString>("planted");
    QTest::newRow("link at the catalog file") << "ln -s ../../victim www/.cv_data/data_x86_64"
                                              << ".cv_data/data_x86_64";
    QTest::newRow("link at the push file") << "ln -s ../../victim www/.cv_data/push_x86_64"
                                           << ".cv_data/push_x86_64";
    QTest::newRow("hard link at the push file") << "ln victim www/.cv_data/push_x86_64"
                                                << ".cv_data/push_x86_64";
    QTest::newRow("link at an icon") << "ln -s ../victim www/cv-music.png"
                                     << "cv-music.png";
    QTest::newRow("link at the icon list") << "ln -s ../../victim www/.cv_data/icons"
                                           << ".cv_data/icons";
}

void TestCatalogFileArea::plantedLinks()
{
    QFETCH(QString, plant);
    QFETCH(QString, planted);
    QTemporaryDir work;
    const QString repository =
        repositoryWith(work, AppStreamFile(applications({{64, "office picture"}})));
    QVERIFY(QDir().mkpath(work.filePath("www/.cv_data")));
    QVERIFY(writeFile(work.filePath("victim"), Victim));
    QVERIFY(writeFile(work.filePath("push.xml"), catalogOf("cv-pushed")));
    QVERIFY(writeFile(work.filePath("commands"),
                      "publish data_add_push " + work.filePath("push.xml").toUtf8() + '\n'));
    QCOMPARE(ProcessRunner::shell("cd " + work.path() + " && " + plant).exitCode, 0);
    const ProcessResult result =
        serve(work, {"--repository", repository, "--commands", work.filePath("commands")});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QCOMPARE(readFile(work.filePath("victim")), Victim);
    // The planted name is a file of its own now, and what it should be.
    const QFileInfo file(work.filePath("www/" + planted));
    QVERIFY(!file.isSymLink());
    QVERIFY(file.isFile());
    QVERIFY(readFile(work.filePath("www/.cv_data/data_x86_64")).contains("rpm='cv-music-1.0-1'"));
    QVERIFY(readFile(work.filePath("www/.cv_data/push_x86_64")).contains("cv-pushed"));
    QCOMPARE(readFile(work.filePath("www/cv-music.png")), QByteArray("music picture"));
}

void TestCatalogFileArea::replacedAfterStart_data()
{
    QTest::addColumn<QString>("swap"); // shell, in the work folder, once the server runs
    QTest::addColumn<QString>("error");
    QTest::newRow("file area swapped for a link") << "mv www www.old && ln -s victim www"
                                                  << "www: is a symbolic link";
    QTest::newRow(".cv_data swapped for a link")
        << "mv www/.cv_data cv_data.old && ln -s ../victim www/.cv_data"
        << "www/.cv_data: is a symbolic link";
    QTest::newRow("file area opened to others") << "chmod 0757 www"
                                                << "www may be changed by group or others";
}

void TestCatalogFileArea::replacedAfterStart()
{
    QFETCH(QString, swap);
    QFETCH(QString, error);
    // The check at start is not the last: every write checks each folder again on the
    // descriptor it writes through.
    QTemporaryDir work;
    QVERIFY(QDir().mkpath(work.filePath("victim")));
    QVERIFY(writeFile(work.filePath("push.xml"), catalogOf("cv-pushed")));
    const QString publish = "publish data_add_push " + work.filePath("push.xml");
    CatalogServerProcess server;
    QVERIFY(server.start({"--files", work.filePath("www")}));
    QCOMPARE(server.command(publish), QStringLiteral("ok publish 1"));
    QCOMPARE(ProcessRunner::shell("cd " + work.path() + " && " + swap).exitCode, 0);
    const QString answer = server.command(publish);
    QVERIFY2(answer.startsWith("error " + work.path()) && answer.contains(error),
             qPrintable(answer));
    QVERIFY(QDir(work.filePath("victim")).isEmpty());
}

void TestCatalogFileArea::pushFileTrim_data()
{
    QTest::addColumn<bool>("signing");
    QTest::newRow("unsigned") << false;
    QTest::newRow("signed") << true;
}

void TestCatalogFileArea::pushFileTrim()
{
    QFETCH(bool, signing);
    QTemporaryDir work;
    for (const QString name : {"cv-a", "cv-b", "px", "py", "pz", "pw"})
        QVERIFY(writeFile(work.filePath(name + ".xml"), catalogOf(name)));
    const auto commands = [&](const QString &name, const QStringList &lines) {
        return writeFile(work.filePath(name),
                         lines.join('\n').replace("WORK", work.path()).toUtf8() + '\n');
    };
    QVERIFY(commands("first",
                     {"publish data_add_push WORK/px.xml", "publish data_add_push WORK/py.xml"}));
    QVERIFY(commands("second", {"publish data_delete_push WORK/pz.xml", "catalog WORK/cv-b.xml",
                                "publish data_add_push WORK/pw.xml"}));
    QStringList options{"--catalog", "WORK/cv-a.xml"};
    if (signing)
        options << "--key" << TestKey::catalog().privateKeyFile();
    const QString catalogFile = work.filePath("www/.cv_data/data_x86_64");
    const QString pushFile = work.filePath("www/.cv_data/push_x86_64");

    ProcessResult result = serve(work, options + QStringList{"--commands", "WORK/first"});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QCOMPARE(readFile(pushFile).count('\n'), 2);
    // A store fetching meanwhile keeps reading the files it opened, whole.
    QFile oldCatalog(catalogFile);
    QFile oldPushes(pushFile);
    QVERIFY(oldCatalog.open(QIODevice::ReadOnly));
    QVERIFY(oldPushes.open(QIODevice::ReadOnly));
    const QByteArray catalogBefore = readFile(catalogFile);
    const QByteArray pushesBefore = readFile(pushFile);

    result = serve(work, options + QStringList{"--commands", "WORK/second"});
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QCOMPARE(oldCatalog.readAll(), catalogBefore);
    QCOMPARE(oldPushes.readAll(), pushesBefore);
    // The new catalog holds what came before it: only the push after it stays.
    const QList<QByteArray> pushes = readFile(pushFile).split('\n');
    QCOMPARE(pushes.size(), 2);
    QVERIFY(pushes.first().contains("name='pw'"));
    const QByteArray catalog = readFile(catalogFile);
    QVERIFY(catalog.contains("name='cv-b'"));
    FrameSignature catalogSignature;
    FrameSignature pushSignature;
    QCOMPARE(catalogSignature.read(catalog.trimmed()), signing);
    QCOMPARE(pushSignature.read(pushes.first()), signing);
    if (signing)
        QVERIFY(pushSignature.sequence() > catalogSignature.sequence());
}

void TestCatalogFileArea::staleIcons_data()
{
    QTest::addColumn<QString>("plant"); // shell, in the file area, after the first run
    QTest::addColumn<QString>("overrides");
    QTest::addColumn<QByteArray>("officeIcon"); // in the second run
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absent");
    const QByteArray picture = "office picture";
    QTest::newRow("left the catalog")
        << "true"
        << "hide cv-office\n"
        << picture << QStringList{"cv-music.png"} << QStringList{"cv-office.png"};
    QTest::newRow("lost its icon")
        << "true"
        << "" << QByteArray() << QStringList{"cv-music.png"} << QStringList{"cv-office.png"};
    QTest::newRow("a file the server did not write")
        << "echo admin > cv-other.png && echo admin > cv-hidden.png"
        << "hide cv-office\n"
        << picture << QStringList{"cv-music.png", "cv-other.png", "cv-hidden.png"}
        << QStringList{"cv-office.png"};
    QTest::newRow("link planted at a stale icon")
        << "rm cv-office.png && ln -s ../victim cv-office.png"
        << "hide cv-office\n"
        << picture << QStringList{"cv-music.png"} << QStringList{};
    QTest::newRow("list names a path")
        << "printf '../victim\\n/etc/passwd\\n' >> .cv_data/icons"
        << "hide cv-office\n"
        << picture << QStringList{"cv-music.png"} << QStringList{"cv-office.png"};
}

void TestCatalogFileArea::staleIcons()
{
    QFETCH(QString, plant);
    QFETCH(QString, overrides);
    QFETCH(QByteArray, officeIcon);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absent);
    QTemporaryDir work;
    QVERIFY(writeFile(work.filePath("victim"), Victim));
    QVERIFY(writeFile(work.filePath("overrides"), ""));
    const QString repository =
        repositoryWith(work, AppStreamFile(applications({{64, "office picture"}})));
    const QStringList options{"--repository", repository, "--overrides", "WORK/overrides"};
    ProcessResult result = serve(work, options);
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QCOMPARE(readFile(work.filePath("www/cv-office.png")), QByteArray("office picture"));

    QCOMPARE(ProcessRunner::shell("cd " + work.filePath("www") + " && " + plant).exitCode, 0);
    QVERIFY(writeFile(work.filePath("overrides"), overrides.toUtf8()));
    QString error;
    if (officeIcon.isEmpty())
        QVERIFY2(AppStreamFile(applications({})).addTo(repository, &error), qPrintable(error));
    result = serve(work, options);
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    for (const QString &name : present)
        QVERIFY2(QFileInfo::exists(work.filePath("www/" + name)), qPrintable(name));
    for (const QString &name : absent)
        QVERIFY2(!QFileInfo(work.filePath("www/" + name)).isSymLink() &&
                     !QFileInfo::exists(work.filePath("www/" + name)),
                 qPrintable(name));
    QCOMPARE(readFile(work.filePath("victim")), Victim);
    QVERIFY(QFileInfo::exists("/etc/passwd"));
}

void TestCatalogFileArea::iconLayouts_data()
{
    QTest::addColumn<int>("layout");
    QTest::addColumn<QList<int>>("sizes"); // the office icon is cached at these, "WxW" its bytes
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("note"); // in the notes, or in the error when nothing is expected
    QTest::addColumn<qint64>("maxArchive");
    const qint64 standard = IconBounds().archive;
    const int folders = int(Layout::SizeFolders);
    const int perSize = int(Layout::OnePerSize);
    QTest::newRow("size folders") << folders << QList<int>{64} << QByteArray("64x64") << ""
                                  << standard;
    QTest::newRow("one archive per size")
        << perSize << QList<int>{64} << QByteArray("64x64") << "" << standard;
    QTest::newRow("64 before larger, per size")
        << perSize << QList<int>{128, 64} << QByteArray("64x64") << "" << standard;
    QTest::newRow("nearest without 64, per size")
        << perSize << QList<int>{48, 128} << QByteArray("48x48") << "" << standard;
    QTest::newRow("nearest without 64, folders")
        << folders << QList<int>{48, 128} << QByteArray("48x48") << "" << standard;
    QTest::newRow("appstream-generator's 64x64 archive added as appstream-icons")
        << int(Layout::OneSizeAsAll) << QList<int>{64} << QByteArray("64x64") << "" << standard;
    QTest::newRow("only 128") << perSize << QList<int>{128} << QByteArray("128x128") << ""
                              << standard;
    // 2 MiB: over the default bound of one icon. 16 MiB of zeros against a bound of one.
    QTest::newRow("oversize icon") << perSize << QList<int>{-(2 << 20)} << QByteArray()
                                   << "icon cv-office.png of repodata/" << standard;
    QTest::newRow("decompression bomb")
        << perSize << QList<int>{-(16 << 20)} << QByteArray()
        << "decompresses to more than 1048576 bytes" << qint64(1 << 20);
}

void TestCatalogFileArea::iconLayouts()
{
    QFETCH(int, layout);
    QFETCH(QList<int>, sizes);
    QFETCH(QByteArray, expected);
    QFETCH(QString, note);
    QFETCH(qint64, maxArchive);
    QMap<int, QByteArray> icons;
    for (const int size : sizes)
        if (size > 0)
            icons.insert(size, QStringLiteral("%1x%1").arg(size).toUtf8());
        else
            icons.insert(64, QByteArray(-size, '\0'));
    QTemporaryDir work;
    const QString repository =
        repositoryWith(work, AppStreamFile(applications(icons), Layout(layout)));
    RepositoryChecks bounds;
    bounds.icons.archive = maxArchive;
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"), bounds);
    QString error;
    const bool read = catalog.read(repository, &error);
    QCOMPARE(catalog.icons().value("cv-office.png"), expected);
    if (read)
        QCOMPARE(catalog.icons().value("cv-music.png"), QByteArray("music picture"));
    // The log says which archive gave them, laid out how.
    if (read && layout == int(Layout::OneSizeAsAll))
        QVERIFY2(
            catalog.iconLayouts().join('\n').contains("(appstream-icons): members at the root"),
            qPrintable(catalog.iconLayouts().join('\n')));
    const QString said = read ? catalog.notes().join('\n') : error;
    QVERIFY2(note.isEmpty() ? said.isEmpty() : said.contains(note), qPrintable(said));
}

bool TestCatalogFileArea::makeApplicationRepository()
{
    if (m_paint)
        return m_paint->isValid();
    const QString tree = m_generated.filePath("tree");
    bool written =
        writeFile(tree + "/usr/share/applications/org.corvane.Paint.desktop",
                  "[Desktop Entry]\nType=Application\nName=Paint\nComment=Paints pictures\n"
                  "Exec=cv-paint\nIcon=cv-paint\nCategories=Graphics;\n") &&
        writeFile(tree + "/usr/share/metainfo/org.corvane.Paint.metainfo.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                  "<component type=\"desktop-application\"><id>org.corvane.Paint</id>"
                  "<metadata_license>CC0-1.0</metadata_license>"
                  "<project_license>MIT</project_license><name>Paint</name>"
                  "<summary>Paints pictures</summary><description><p>Paints pictures for the "
                  "tests.</p></description><launchable type=\"desktop-id\">"
                  "org.corvane.Paint.desktop</launchable></component>\n");
    for (const int size : {64, 128}) {
        const QString folder =
            tree + QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps").arg(size);
        QImage picture(size, size, QImage::Format_ARGB32);
        picture.fill(Qt::red);
        written = written && QDir().mkpath(folder) && picture.save(folder + "/cv-paint.png");
    }
    TestPackage paint{"cv-paint", "1.0"};
    paint.tree = tree;
    m_paint.reset(new TestRepository({paint}));
    if (!written || !m_paint->isValid())
        return false;
    // appstream-generator reads ARCHIVE/SUITE/SECTION/ARCH/os/repodata.
    const QString workspace = m_generated.filePath("asgen");
    QDir().mkpath(m_generated.filePath("archive/corvane/main/x86_64"));
    written =
        QFile::link(m_paint->directory(), m_generated.filePath("archive/corvane/main/x86_64/os")) &&
        writeFile(workspace + "/asgen-config.json",
                  "{\"ProjectName\": \"Corvane\", \"Backend\": \"rpmmd\", "
                  "\"MetadataType\": \"XML\", \"ArchiveRoot\": \"" +
                      m_generated.filePath("archive").toUtf8() +
                      "\", \"MediaBaseUrl\": \"http://localhost/media\", "
                      "\"Features\": {\"validateMetainfo\": false, \"noDownloads\": true, "
                      "\"optimizePNGSize\": false, \"createScreenshotsStore\": false}, "
                      "\"Suites\": {\"corvane\": {\"sections\": [\"main\"], "
                      "\"architectures\": [\"x86_64\"]}}}\n");
    const ProcessResult generator =
        ProcessRunner::run("appstream-generator", {"process", "--workspace", workspace, "corvane"});
    const ProcessResult compose = ProcessRunner::run(
        "appstream-compose",
        {"--prefix=" + tree + "/usr", "--origin=corvane", "--basename=corvane",
         "--output-dir=" + m_generated.filePath("compose"),
         "--icons-dir=" + m_generated.filePath("compose/icons"), "org.corvane.Paint"});
    if (generator.exitCode != 0 || compose.exitCode != 0)
        qWarning("%s\n%s", qPrintable(generator.output), qPrintable(compose.output));
    return written && generator.exitCode == 0 && compose.exitCode == 0;
}

void TestCatalogFileArea::otherGenerators_data()
{
    QTest::addColumn<QString>("generator");
    QTest::addColumn<QStringList>("archives"); // the icon archives added to the repository
    QTest::addColumn<int>("width");            // of the icon the server takes
    QTest::newRow("appstream-generator, every size")
        << "appstream-generator" << QStringList{"48x48", "64x64", "128x128"} << 64;
    QTest::newRow("appstream-generator, no 64")
        << "appstream-generator" << QStringList{"48x48", "128x128"} << 48;
    QTest::newRow("appstream-generator, 128 only")
        << "appstream-generator" << QStringList{"128x128"} << 128;
    QTest::newRow("appstream-compose, size folders")
        << "appstream-compose" << QStringList{"64x64", "128x128"} << 64;
}

void TestCatalogFileArea::otherGenerators()
{
    QFETCH(QString, generator);
    QFETCH(QStringList, archives);
    QFETCH(int, width);
    QVERIFY(makeApplicationRepository());
    QTemporaryDir work;
    const QString repository = work.filePath("repo");
    const QString repodata = repository + "/repodata";
    QCOMPARE(ProcessRunner::run("cp", {"-a", m_paint->directory(), repository}).exitCode, 0);
    const auto add = [&](const QString &type, const QString &file) {
        return ProcessRunner::run("modifyrepo_c", {"--mdtype=" + type, file, repodata}).exitCode ==
               0;
    };
    if (generator == "appstream-generator") {
        // As an administrator publishes its output next to createrepo_c's.
        const QString data = m_generated.filePath("asgen/export/data/corvane/main/");
        QVERIFY(add("appstream", data + "Components-x86_64.xml.gz"));
        for (const QString &size : archives)
            QVERIFY(add("appstream-icons-" + size, data + "icons-" + size + ".tar.gz"));
    } else {
        // appstream-compose reads an installed tree, not a package: the package name that
        // appstream-builder would write goes in by hand; its icon folders make the archive.
        const ProcessResult xml =
            ProcessRunner::run("gzip", {"-dc", m_generated.filePath("compose/corvane.xml.gz")});
        QVERIFY(writeFile(work.filePath("appstream.xml"),
                          xml.output.toUtf8().replace("<id>org.corvane.Paint</id>",
                                                      "<id>org.corvane.Paint</id>"
                                                      "<pkgname>cv-paint</pkgname>")));
        QCOMPARE(ProcessRunner::run("tar", QStringList{"-cf", work.filePath("icons.tar"), "-C",
                                                       m_generated.filePath("compose/icons")} +
                                               archives)
                     .exitCode,
                 0);
        QVERIFY(add("appstream", work.filePath("appstream.xml")));
        QVERIFY(add("appstream-icons", work.filePath("icons.tar")));
    }
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(repository, &error), qPrintable(error));
    QCOMPARE(catalog.packages().size(), 1);
    QCOMPARE(catalog.packages().first().exec, QStringLiteral("gtk-launch org.corvane.Paint"));
    const QByteArray icon = catalog.icons().value("cv-paint.png");
    QVERIFY(icon.startsWith("\x89PNG"));
    QCOMPARE(int(qFromBigEndian<quint32>(icon.constData() + 16)), width);
}

QTEST_GUILESS_MAIN(TestCatalogFileArea)
#include "tst_catalogfilearea.moc"
