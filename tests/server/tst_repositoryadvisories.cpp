#include "testrepositorycatalog.h"

#include "repositoryfixture.h"
#include "server/repository/repositorycatalog.h"
#include "sync/catalogframe.h"
#include "sync/packageadvisories.h"
#include "tests/support/processrunner.h"

#include <QTest>

using namespace RepositoryFixture;

namespace
{

// The catalog of repo as the server reads it, or the test stops.
QString entryAttribute(const RepositoryCatalog &catalog, const QString &package)
{
    for (const CatalogPackage &entry : catalog.packages())
        if (entry.icon == package + QStringLiteral(".png"))
            return entry.advisories;
    return QStringLiteral("-");
}

QString cveReferences(int count)
{
    QString references;
    for (int i = 0; i < count; ++i)
        references += QStringLiteral("<reference href=\"https://cve.example.org/%1\" id=\"%1\" "
                                     "type=\"cve\" title=\"t\"/>")
                          .arg(QStringLiteral("CVE-2026-%1").arg(10000 + i));
    return references;
}

const QString OfficeFix =
    QStringLiteral("<package name=\"cv-office\" version=\"1.2\" release=\"1\" "
                   "epoch=\"0\" arch=\"x86_64\"/>");

} // namespace

void TestRepositoryCatalog::advisoriesInCatalog_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<QString>("expected"); // the entry's attribute, "-" when not in the catalog
    QTest::newRow("two advisories, the newer build's fix first")
        << "cv-office"
        << "CVRA-2026:0101,security,critical,1.2-1,CVE-2026-1111,CVE-2026-1112 "
           "CVRA-2026:0090,security,moderate,1.1-1,CVE-2026-0999";
    QTest::newRow("one advisory for two packages")
        << "cv-docs"
        << "CVRA-2026:0101,security,critical,1.0-1,CVE-2026-1111,CVE-2026-1112";
    QTest::newRow("an enhancement, no severity") << "cv-music"
                                                 << "CVEA-2026:0200,enhancement,,1.0-1";
    QTest::newRow("no advisory") << "cv-arch"
                                 << "";
    QTest::newRow("an advisory for a package not in the catalog") << "cv-absent"
                                                                  << "-";
}

void TestRepositoryCatalog::advisoriesInCatalog()
{
    QFETCH(QString, package);
    QFETCH(QString, expected);
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    QVERIFY(addUpdateInfo(repo, FixtureUpdateInfo));
    RepositoryCatalog catalog(overrides(QLatin1String(FixtureOverrides)), QStringLiteral("zh_CN"));
    QString error;
    QVERIFY2(catalog.read(repo, &error), qPrintable(error));
    QCOMPARE(entryAttribute(catalog, package), expected);
    // Every advisory is kept for the fleet report, the one for cv-absent too.
    QCOMPARE(catalog.advisories().advisories().size(), 5);
    // The frame carries it inside the package element, and gives back what was composed.
    CatalogFrame frame;
    QVERIFY(frame.parse(CatalogFrame::compose(QStringLiteral("data_resp"), catalog.packages()),
                        &error));
    for (int i = 0; i < frame.packages().size(); ++i)
        QCOMPARE(frame.packages()[i].advisories, catalog.packages()[i].advisories);
}

void TestRepositoryCatalog::hostileUpdateInfo_data()
{
    QTest::addColumn<QByteArray>("updates"); // inside <updates>
    QTest::addColumn<QString>("bound");      // "file", "unpacked", "advisories" or none
    QTest::addColumn<QString>("outcome");    // part of the error, or "ok"
    QTest::addColumn<QString>("office");     // cv-office's attribute when read
    QTest::addColumn<QString>("advisory");   // id|type|severity|title|issued|CVEs, or a note

    const auto one = [](const QString &id, const QString &type, const QString &severity,
                        const QString &title, const QString &issued, const QString &references) {
        return advisoryXml(id, type, severity, title, issued, references, OfficeFix);
    };
    QTest::newRow("markup and control characters in the title")
        << one("CVRA-1", "security", "Important",
               "&lt;b&gt;Fix&lt;/b&gt;&lt;script&gt;x()&lt;/script&gt;&#x9B;[31m red&#x202E;"
               "&#x85;now",
               "2026-12-01 10:00:00", "")
        << ""
        << "ok"
        << "CVRA-1,security,important,1.2-1"
        << "CVRA-1|security|important|<b>Fix</b><script>x()</script> [31m red now|1796119200|0";
    QTest::newRow("an id no advisory has is left out")
        << one("x y;rm -rf", "security", "Critical", "t", "1796119200", "") << ""
        << "ok"
        << ""
        << "advisory \"x y;rm -rf\" left out: not a usable id";
    QTest::newRow("10,000 CVE references")
        << one("CVRA-2", "security", "Critical", "many", "1796119200", cveReferences(10000)) << ""
        << "ok"
        << "CVRA-2,security,critical,1.2-1," +
               [] {
                   QStringList first;
                   for (int i = 0; i < PackageAdvisories::MaxCves; ++i)
                       first << QStringLiteral("CVE-2026-%1").arg(10000 + i);
                   return first.join(QLatin1Char(','));
               }()
        << "advisory CVRA-2: 9936 CVE references past the first 64 left out";
    QTest::newRow("bad dates, unknown type and severity, a CVE id that is none")
        << one("CVRA-3", "hotfix", "Urgent!!", "t", "yesterday",
               "<reference id=\"CVE-1&apos;;x\" type=\"cve\" href=\"h\"/>")
        << ""
        << "ok"
        << "CVRA-3,,,1.2-1"
        << "CVRA-3|||t|0|0";
    // XML allows no C0 control but tab and line breaks: the reader refuses the file whole.
    QTest::newRow("an escape character")
        << one("CVRA-8", "security", "Low", "&#x1b;[2J", "1", "") << ""
        << "invalid character number"
        << ""
        << "";
    QTest::newRow("not XML") << QByteArray("<update><id>x</i") << ""
                             << "updateinfo: "
                             << ""
                             << "";
    QTest::newRow("oversize as fetched") << QByteArray() << "file"
                                         << "updateinfo.xml.gz: larger than 131072 bytes"
                                         << ""
                                         << "";
    QTest::newRow("decompression bomb") << QByteArray() << "unpacked"
                                        << "updateinfo.xml.gz: decompresses to more than 2097152"
                                        << ""
                                        << "";
    QTest::newRow("more advisories than the bound")
        << one("CVRA-4", "security", "Low", "t", "1", "") +
               one("CVRA-5", "security", "Low", "t", "1", "")
        << "advisories"
        << "updateinfo: 2 advisories, more than 1"
        << ""
        << "";
}

void TestRepositoryCatalog::hostileUpdateInfo()
{
    QFETCH(QByteArray, updates);
    QFETCH(QString, bound);
    QFETCH(QString, outcome);
    QFETCH(QString, office);
    QFETCH(QString, advisory);
    QTemporaryDir work;
    const QString repo = copyOf(work, m_repository->directory());
    RepositoryChecks checks;
    if (bound == QLatin1String("file")) {
        // Random text compresses little: 256 KiB stays over 128 KiB once compressed.
        checks.maxFileBytes = 128 << 10;
        const ProcessResult noise =
            ProcessRunner::shell("head -c 262144 /dev/urandom | base64 -w0");
        QCOMPARE(noise.exitCode, 0);
        updates = advisoryXml("CVRA-6", "security", "Low", noise.output, "1", "", OfficeFix);
    }
    if (bound == QLatin1String("unpacked")) {
        checks.maxUnpackedBytes = 2 << 20;
        updates = advisoryXml("CVRA-7", "security", "Low", QString(8 << 20, QLatin1Char('A')), "1",
                              "", OfficeFix);
    }
    if (bound == QLatin1String("advisories"))
        checks.maxAdvisories = 1;
    QVERIFY(addUpdateInfo(repo, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<updates>\n" +
                                    updates + "</updates>\n"));
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"), checks);
    QString error;
    const bool read = catalog.read(repo, &error);
    if (outcome != QLatin1String("ok")) {
        QVERIFY(!read);
        QVERIFY2(error.contains(outcome), qPrintable(error));
        QVERIFY(catalog.packages().isEmpty());
        return;
    }
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(entryAttribute(catalog, QStringLiteral("cv-office")), office);
    if (catalog.advisories().advisories().isEmpty()) {
        QVERIFY2(catalog.notes().contains(advisory), qPrintable(catalog.notes().join('\n')));
        return;
    }
    const Advisory &got = catalog.advisories().advisories().first();
    if (advisory.contains(QLatin1String("left out"))) {
        QVERIFY2(catalog.notes().contains(advisory), qPrintable(catalog.notes().join('\n')));
        QCOMPARE(got.cves.size(), int(UpdateInfoAdvisories::MaxCves));
        return;
    }
    QCOMPARE(QStringList({got.id, got.type, got.severity, got.title, QString::number(got.issued),
                          QString::number(got.cves.size())})
                 .join(QLatin1Char('|')),
             advisory);
}
