#include "testrepositorycatalog.h"

#include "repositoryfixture.h"
#include "server/repository/repositorycatalog.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

using namespace RepositoryFixture;

void TestRepositoryCatalog::repositorySignature_data()
{
    QTest::addColumn<QString>("file"); // what is changed on the way, "" nothing
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("signer");  // a (the key), b, none, "garbage", "a-before"
    QTest::addColumn<QString>("outcome"); // "catalog" or part of the error
    QTest::newRow("signed by the key") << ""
                                       << ""
                                       << ""
                                       << "a"
                                       << "catalog";
    QTest::newRow("signature missing") << ""
                                       << ""
                                       << ""
                                       << "none"
                                       << "repomd.xml.asc: cannot";
    QTest::newRow("signed by another key") << ""
                                           << ""
                                           << ""
                                           << "b"
                                           << "signed by another key";
    QTest::newRow("older signed state replayed") << ""
                                                 << ""
                                                 << ""
                                                 << "a-replayed"
                                                 << "older than the repository already published";
    QTest::newRow("not a signature") << ""
                                     << ""
                                     << ""
                                     << "garbage"
                                     << "no OpenPGP signature";
    QTest::newRow("altered primary, older signature") << "primary"
                                                      << "<summary>"
                                                      << "<summary>Evil "
                                                      << "a-before"
                                                      << "bad signature";
    QTest::newRow("altered AppStream, older signature") << "appstream"
                                                        << "<category>Office"
                                                        << "<category>Game"
                                                        << "a-before"
                                                        << "bad signature";
    QTest::newRow("advisory made graver, older signature") << "updateinfo"
                                                           << "<severity>Low"
                                                           << "<severity>Critical"
                                                           << "a-before"
                                                           << "bad signature";
    QTest::newRow("advisory made graver under the signed repomd.xml")
        << "updateinfo-only"
        << "<severity>Low"
        << "<severity>Critical"
        << "a"
        << "updateinfo.xml.gz: checksum differs";
    QTest::newRow("primary altered under the signed repomd.xml") << "primary-only"
                                                                 << "<summary>"
                                                                 << "<summary>Evil "
                                                                 << "a"
                                                                 << "checksum differs";
}

void TestRepositoryCatalog::repositorySignature()
{
    QFETCH(QString, file);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, signer);
    QFETCH(QString, outcome);
    // The copy a man in the middle serves.
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    const QString asc = repo + QStringLiteral("/repodata/repomd.xml.asc");
    QVERIFY(QFile::remove(asc));
    if (signer == QLatin1String("a-before"))
        QVERIFY(sign(repo));
    QVERIFY(alter(repo, file, from, to));
    if (signer != QLatin1String("none") && signer != QLatin1String("a-before") &&
        signer != QLatin1String("garbage"))
        QVERIFY(sign(repo, signer == QLatin1String("b")));
    if (signer == QLatin1String("garbage"))
        QVERIFY(
            writeFile(asc, "-----BEGIN PGP SIGNATURE-----\nAAAA\n-----END PGP SIGNATURE-----\n"));
    HttpServer http(repo);
    QVERIFY(http.isRunning());
    RepositoryChecks checks;
    checks.signature = &m_signature;
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"), checks);
    QString error;
    QVERIFY2(catalog.read(m_repository->directory(), &error), qPrintable(error));
    const QByteArray good = catalog.repomdDigest();
    QVERIFY(catalog.timestamp() > 0);
    // A newer state was published; the one served is an older one, kept and signed.
    checks.notBefore = catalog.timestamp() + (signer == QLatin1String("a-replayed") ? 1 : 0);
    RepositoryCatalog later(CatalogOverrides(), QStringLiteral("zh_CN"), checks);
    RepositoryCatalog &reader = checks.notBefore > catalog.timestamp() ? later : catalog;
    const bool read = reader.read(http.url().chopped(1), &error);
    if (outcome == QLatin1String("catalog")) {
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(reader.packages().size(), 5);
        return;
    }
    QVERIFY(!read);
    QVERIFY2(error.contains(outcome), qPrintable(error));
    // Nothing of it is believed: the last catalog stays.
    QCOMPARE(catalog.repomdDigest(), good);
    QCOMPARE(catalog.packages().size(), 5);
    QVERIFY(later.packages().isEmpty());
}

void TestRepositoryCatalog::repositoryStrings_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("overrideText");
    QTest::addColumn<QString>("expected"); // package:name|exec|desc, ...; "-" left out
    QTest::addColumn<QString>("note");     // part of a log line
    QTest::newRow("launchable with shell text")
        << "appstream"
        << "cv-music.desktop"
        << "x;curl e.example|sh;.desktop"
        << ""
        << "cv-music:Music|cv-music|Plays"
        << "cv-music: launchable \"x;curl e.example|sh;.desktop\" is not a desktop-id";
    QTest::newRow("launchable read as an option") << "appstream"
                                                  << "cv-music.desktop"
                                                  << "--help-all.desktop"
                                                  << ""
                                                  << "cv-music:Music|cv-music|Plays"
                                                  << "is not a desktop-id";
    QTest::newRow("reverse-DNS desktop-id")
        << "appstream"
        << "cv-music.desktop"
        << "org.example.Music_2-b.desktop"
        << ""
        << "cv-music:Music|gtk-launch org.example.Music_2-b|Plays"
        << "";
    QTest::newRow("line break, bidirectional override and tab in text")
        << "appstream"
        << "<name>Music</name>"
        << "<name>Mu&#10;s&#x202E;ic</name>"
        << ""
        << "cv-music:Mu sic|gtk-launch cv-music|Plays"
        << "";
    QTest::newRow("control characters in the summary")
        << "appstream"
        << "<summary>Plays</summary>"
        << "<summary>Pl&#x9B;2Jays&#x85;\t!&#x202E;</summary>"
        << ""
        << "cv-music:Music|gtk-launch cv-music|Pl 2Jays !"
        << "";
    QTest::newRow("shell text in the version")
        << "primary"
        << "<name>cv-music</name>\n  <arch>x86_64</arch>\n  <version epoch=\"0\" ver=\"1.0\""
        << "<name>cv-music</name>\n  <arch>x86_64</arch>\n  <version epoch=\"0\" ver=\"1.0;id\""
        << ""
        << "cv-music:-"
        << "version \"1.0;id-1\" is not one rpm makes";
    QTest::newRow("two packages, one name")
        << "appstream"
        << "<name>Arch</name>"
        << "<name>Music</name>"
        << ""
        << "cv-arch:Music (cv-arch)|gtk-launch cv-arch|Two builds,"
           "cv-music:Music (cv-music)|gtk-launch cv-music|Plays"
        << "display name \"Music\" claimed by cv-arch and cv-music";
    QTest::newRow("the override settles the clash")
        << "appstream"
        << "<name>Arch</name>"
        << "<name>Music</name>"
        << "name cv-music Music\n"
        << "cv-arch:Music (cv-arch)|gtk-launch cv-arch|Two builds,"
           "cv-music:Music|gtk-launch cv-music|Plays"
        << "name PACKAGE TEXT";
    QTest::newRow("a name made like a separated one")
        << "appstream"
        << "<name>Arch</name>"
        << "<name>Music (cv-music)</name>"
        << "name cv-docs Music\n"
        << "cv-arch:Music (cv-music) (cv-arch)|gtk-launch cv-arch|Two builds,"
           "cv-music:Music (cv-music) (cv-music)|gtk-launch cv-music|Plays"
        << "claimed by cv-arch and cv-music";
}

void TestRepositoryCatalog::repositoryStrings()
{
    QFETCH(QString, file);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, overrideText);
    QFETCH(QString, expected);
    QFETCH(QString, note);
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    QVERIFY(alter(repo, file, from, to));
    RepositoryCatalog catalog(overrides(overrideText), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(repo, &error), qPrintable(error));
    for (const QString &want : expected.split(QLatin1Char(','))) {
        const QString package = want.section(QLatin1Char(':'), 0, 0);
        QString found = QStringLiteral("-");
        for (const CatalogPackage &entry : catalog.packages())
            if (entry.icon == package + QStringLiteral(".png"))
                found = QStringList{entry.name, entry.exec, entry.desc}.join(QLatin1Char('|'));
        QCOMPARE(package + QLatin1Char(':') + found, want);
    }
    const QString notes = catalog.notes().join(QLatin1Char('\n'));
    QVERIFY2(notes.contains(note), qPrintable(notes));
    for (const QString &line : catalog.notes())
        QVERIFY2(!line.contains(QLatin1Char('\n')) && !line.contains(QChar(0x9B)),
                 qPrintable(line));
}

void TestRepositoryCatalog::repositoryBounds_data()
{
    QTest::addColumn<QString>("bound");
    QTest::addColumn<qint64>("value");
    QTest::addColumn<QString>("error");
    QTest::newRow("oversize repomd.xml") << "repomd" << qint64(1024) << "larger than 1024 bytes";
    QTest::newRow("oversize primary as fetched")
        << "file" << qint64(1024) << "primary.xml.gz: larger than 1024 bytes";
    QTest::newRow("decompression bomb")
        << "bomb" << qint64(32) << "primary.xml.gz: decompresses to more than 33554432 bytes";
    QTest::newRow("catalog too large")
        << "packages" << qint64(4) << "5 packages would enter the catalog, more than 4";
}

void TestRepositoryCatalog::repositoryBounds()
{
    QFETCH(QString, bound);
    QFETCH(qint64, value);
    QFETCH(QString, error);
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    RepositoryChecks checks;
    if (bound == QLatin1String("repomd"))
        checks.maxRepomdBytes = value;
    if (bound == QLatin1String("file"))
        checks.maxFileBytes = value;
    if (bound == QLatin1String("packages"))
        checks.maxPackages = int(value);
    if (bound == QLatin1String("bomb")) {
        // 3 GiB of zeros in 3 MiB: more than any QByteArray holds. The checksum in repomd.xml
        // is made to match, as a repository's own packager could.
        checks.maxUnpackedBytes = value << 20;
        const QString primary = metadataFile(repo, QStringLiteral("*primary.xml.gz"));
        const QByteArray before =
            QCryptographicHash::hash(readFile(primary), QCryptographicHash::Sha256).toHex();
        const ProcessResult member =
            ProcessRunner::shell("head -c 64M /dev/zero | gzip -9 > " + work.filePath("member.gz"));
        QCOMPARE(member.exitCode, 0);
        const QByteArray one = readFile(work.filePath("member.gz"));
        QByteArray bomb;
        for (int i = 0; i < 48; ++i)
            bomb += one;

        const QString repomd = repo + QStringLiteral("/repodata/repomd.xml");
        const QByteArray after = QCryptographicHash::hash(bomb, QCryptographicHash::Sha256).toHex();
        // Named by its checksum, as createrepo_c names it.
        QVERIFY(writeFile(QString(primary).replace(before, after), bomb));
        QVERIFY(writeFile(repomd, readFile(repomd).replace(before, after)));
    }
    HttpServer http(repo);
    QVERIFY(http.isRunning());
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"), checks);
    QString got;
    QVERIFY(!catalog.read(http.url().chopped(1), &got));
    QVERIFY2(got.contains(error), qPrintable(got));
    QVERIFY(catalog.packages().isEmpty());
}

void TestRepositoryCatalog::repositoryAtStart_data()
{
    QTest::addColumn<QString>("config"); // %1 the repository's URL, %2 its folder, %3 a's key
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("http without a key") << "repository = %1\n"
                                        << 2 << "is fetched over the network";
    QTest::newRow("http unsigned, allowed") << "repository = %1\nallow-unsigned-repository = true\n"
                                            << 0 << "followed unsigned";
    QTest::newRow("http with its key") << "repository = %1\nrepository-key = %3\n"
                                       << 0 << "published: 5 packages";
    QTest::newRow("folder without a key") << "repository = %2\n" << 0 << "published: 5 packages";
    QTest::newRow("key file without a key")
        << "repository = %1\nrepository-key = %2/repodata/repomd.xml\n"
        << 2 << "no OpenPGP public key";
    QTest::newRow("oversize repomd.xml") << "repository = %1\nrepository-key = %3\n"
                                            "max-repomd = 1024\n"
                                         << 1 << "larger than 1024 bytes";
    QTest::newRow("a rollout pilot no group has") << "repository = %2\nrollout-pilot = pilto\n"
                                                  << 1 << "no group is named pilto";
    QTest::newRow("bound out of range") << "repository = %2\nmax-unpacked = 3000000000\n"
                                        << 2 << "--max-unpacked must be";
}

void TestRepositoryCatalog::repositoryAtStart()
{
    QFETCH(QString, config);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    HttpServer http(m_repository->directory());
    QVERIFY(http.isRunning());
    QTemporaryDir work;
    const QString configFile = work.filePath(QStringLiteral("server.conf"));
    QVERIFY(writeFile(configFile, config.replace("%1", http.url().chopped(1))
                                      .replace("%2", m_repository->directory())
                                      .replace("%3", m_key.publicKeyFile())
                                      .toUtf8()));
    const ProcessResult result = ProcessRunner::run(
        CORVANE_CATALOG_SERVER, {"--server-config", configFile, "--files", work.filePath("www"),
                                 "--no-serve", "--fleet-db", work.filePath("fleet.db")});
    QVERIFY2(result.exitCode == exitCode && result.output.contains(output),
             qPrintable(result.output));
    QCOMPARE(QFile::exists(work.filePath("www/.cv_data/data_x86_64")), exitCode == 0);
}

// The newest signed state published is kept: after a restart an older one, validly signed,
// is refused as it is while the server runs.
void TestRepositoryCatalog::olderStateAfterRestart()
{
    HttpServer http(m_repository->directory());
    QVERIFY(http.isRunning());
    QTemporaryDir work;
    const QString state = work.filePath("repository.state");
    const auto run = [&](const QString &files) {
        return ProcessRunner::run(CORVANE_CATALOG_SERVER,
                                  {"--repository", http.url().chopped(1), "--repository-key",
                                   m_key.publicKeyFile(), "--repository-state", state, "--files",
                                   work.filePath(files), "--no-serve"});
    };
    ProcessResult result = run("first");
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    const qint64 published = readFile(state).trimmed().toLongLong();
    QVERIFY(published > 0);
    // What the server last published is newer than what the network path serves now.
    QVERIFY(writeFile(state, QByteArray::number(published + 1) + '\n'));
    result = run("second");
    QVERIFY2(result.exitCode == 1 &&
                 result.output.contains("older than the repository already published"),
             qPrintable(result.output));
    QVERIFY(!QFile::exists(work.filePath("second/.cv_data/data_x86_64")));
}

void TestRepositoryCatalog::signatureWrittenLater()
{
    // createrepo_c, then gpg a moment later: the server waits for the signature, and publishes
    // as soon as it is there.
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    QVERIFY(QFile::remove(repo + QStringLiteral("/repodata/repomd.xml.asc")));
    qputenv("VQS_PORT", QByteArray::number(freePort()));
    CatalogServerProcess server;
    QVERIFY(server.start({"--repository", repo, "--repository-key", m_key.publicKeyFile(),
                          "--files", work.filePath("www"), "--settle", "0"}));
    QVERIFY(!server.waitForLine(QRegularExpression("repomd.xml.asc: ")).isEmpty());
    QVERIFY(!QFile::exists(work.filePath("www/cv-office.png")));
    QVERIFY(sign(repo));
    QVERIFY(!server.waitForLine(QRegularExpression("repository data_add_push 5 ")).isEmpty());
    QCOMPARE(readFile(work.filePath("www/cv-office.png")), OfficeIcon);
}
