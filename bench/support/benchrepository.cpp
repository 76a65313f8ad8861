#include "bench/support/benchrepository.h"

#include "tests/support/processrunner.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>

#include <cstdio>

namespace BenchRepository
{

QString name(int i)
{
    return QString::asprintf("cvb-pkg%05d", i);
}

namespace
{

QString primaryXml(const Releases &release)
{
    QString xml =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<metadata "
                       "xmlns=\"http://linux.duke.edu/metadata/common\" "
                       "xmlns:rpm=\"http://linux.duke.edu/metadata/rpm\" packages=\"%1\">\n")
            .arg(Packages);
    for (int n = 0; n < Packages; ++n) {
        const int i = n < 2 * Applications ? n / 2 : n - Applications;
        const QString version = QStringLiteral("1.%1").arg(n < 2 * Applications ? n % 2 : 0);
        const QString id = QString::fromLatin1(
            QCryptographicHash::hash(QByteArray::number(n), QCryptographicHash::Sha256).toHex());
        xml +=
            QStringLiteral("<package type=\"rpm\"><name>%1</name><arch>x86_64</arch>"
                           "<version epoch=\"0\" ver=\"%2\" rel=\"%6\"/>"
                           "<checksum type=\"sha256\" pkgid=\"YES\">%3</checksum>"
                           "<summary>Package %1</summary><description>A package of the benchmark "
                           "repository, number %1.</description><packager/><url/>"
                           "<time file=\"1\" build=\"1\"/><size package=\"4096\" installed=\"%4\" "
                           "archive=\"9000\"/><location href=\"%1-%2-%6.x86_64.rpm\"/><format>"
                           "<rpm:license>MIT</rpm:license><rpm:requires><rpm:entry "
                           "name=\"libc.so.6()(64bit)\"/>"
                           "<rpm:entry name=\"%5\"/></rpm:requires></format></package>\n")
                .arg(name(i), version, id)
                .arg(8192 + i)
                .arg(name((i + 1) % (Packages - Applications)))
                .arg(release(i));
    }
    return xml + QStringLiteral("</metadata>\n");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace

bool replacePrimary(const QString &directory, const Releases &release)
{
    return writeFile(directory + "/primary.xml", primaryXml(release).toUtf8()) &&
           ProcessRunner::run("modifyrepo_c", {"--mdtype=primary", directory + "/primary.xml",
                                               directory + "/repo/repodata"})
                   .exitCode == 0;
}

// A repository of primary metadata and AppStream data only: the catalog reads nothing else.
bool build(const QString &directory)
{
    QDir().mkpath(directory + "/repo");
    QVector<AppStreamEntry> entries;
    for (int i = 0; i < Applications; ++i)
        entries << AppStreamEntry{name(i),
                                  name(i),
                                  QStringLiteral("应用%1").arg(i),
                                  QStringLiteral("Application %1").arg(i),
                                  {i % 2 ? "Office" : "Development"},
                                  QByteArray(600, char('a' + i % 26))};
    QString error;
    const bool ok = ProcessRunner::run("createrepo_c", {"-q", directory + "/repo"}).exitCode == 0 &&
                    replacePrimary(directory, [](int) { return 1; }) &&
                    AppStreamFile(entries).addTo(directory + "/repo", &error);
    if (!error.isEmpty())
        std::fprintf(stderr, "repository: %s\n", qPrintable(error));
    return ok;
}

} // namespace BenchRepository
