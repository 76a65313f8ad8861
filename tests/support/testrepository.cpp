#include "testrepository.h"

#include "processrunner.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace
{

QString requiresLines(const QStringList &needs)
{
    QString lines;
    for (const QString &need : needs)
        lines += QStringLiteral("Requires: ") + need + QLatin1Char('\n');
    return lines;
}

QString treeInstall(const QString &tree)
{
    return tree.isEmpty() ? QString() : QStringLiteral("cp -a '%1'/. %{buildroot}/\n").arg(tree);
}

QString treeFiles(const QString &tree)
{
    QString lines;
    QDirIterator files(tree.isEmpty() ? QStringLiteral("/nonexistent") : tree, QDir::Files,
                       QDirIterator::Subdirectories);
    while (files.hasNext())
        lines += files.next().mid(tree.size()) + QLatin1Char('\n');
    return lines;
}

} // namespace

TestRepository::TestRepository(const QVector<TestPackage> &packages)
{
    QDir().mkpath(directory());
    m_valid = m_dir.isValid() && add(packages);
}

QString TestRepository::packageFile(const TestPackage &package) const
{
    return directory() + '/' + package.fileName();
}

bool TestRepository::add(const QVector<TestPackage> &packages)
{
    for (const TestPackage &package : packages) {
        if (!build(package))
            return false;
        m_packages.append(package);
    }
    return createMetadata();
}

bool TestRepository::remove(const TestPackage &package)
{
    if (!QFile::remove(packageFile(package))) {
        m_error = QStringLiteral("no ") + packageFile(package);
        return false;
    }
    for (int i = 0; i < m_packages.size(); ++i)
        if (m_packages[i].fileName() == package.fileName())
            m_packages.remove(i--);
    return createMetadata();
}

bool TestRepository::build(const TestPackage &package)
{
    const QString top = m_dir.path() + QStringLiteral("/rpmbuild");
    const QString specPath = m_dir.path() + '/' + package.name + '-' + package.version + '-' +
                             package.release + QStringLiteral(".spec");
    QFile spec(specPath);
    if (!spec.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = QStringLiteral("cannot write ") + specPath;
        return false;
    }
    // The payload is random so that compression keeps the file about as big as asked;
    // download-progress tests measure it.
    const QString spectext =
        QStringLiteral(
            "Name: %1\nVersion: %2\nRelease: %3\nSummary: test package %1\nLicense: MIT\n"
            "AutoReqProv: no\n%5"
            "%description\nA tiny package for the store's tests.\n"
            "%install\nmkdir -p %{buildroot}/usr/share/%1\n"
            "head -c %4 /dev/urandom > %{buildroot}/usr/share/%1/payload\n"
            "echo %2-%3 > %{buildroot}/usr/share/%1/version\n%6"
            "%files\n/usr/share/%1\n%7")
            .arg(package.name, package.version, package.release)
            .arg(package.payloadBytes)
            .arg(requiresLines(package.needs), treeInstall(package.tree), treeFiles(package.tree)) +
        (package.preScript.isEmpty() ? QString() : "%pre -p <lua>\n" + package.preScript + '\n');
    spec.write(spectext.toUtf8());
    spec.close();

    const ProcessResult result = ProcessRunner::run(
        QStringLiteral("rpmbuild"),
        {QStringLiteral("--define"), QStringLiteral("_topdir ") + top, QStringLiteral("--define"),
         QStringLiteral("_build_id_links none"), QStringLiteral("--define"),
         QStringLiteral("_binary_payload w1.gzdio"), QStringLiteral("--target"), package.arch,
         QStringLiteral("--quiet"), QStringLiteral("-bb"), specPath});
    if (result.exitCode != 0) {
        m_error = QStringLiteral("rpmbuild failed: ") + result.output;
        return false;
    }
    const QString built = top + QStringLiteral("/RPMS/") + package.arch + '/' + package.fileName();
    QFile::remove(packageFile(package));
    if (!QFile::rename(built, packageFile(package))) {
        m_error = QStringLiteral("rpmbuild made no ") + built;
        return false;
    }
    return true;
}

bool TestRepository::createMetadata()
{
    const ProcessResult result = ProcessRunner::run(
        QStringLiteral("createrepo_c"), {QStringLiteral("-q"), QStringLiteral("--update"),
                                         QStringLiteral("--keep-all-metadata"), directory()});
    if (result.exitCode != 0) {
        m_error = QStringLiteral("createrepo_c failed: ") + result.output;
        return false;
    }
    return true;
}

QVector<TestPackage> TestRepository::standardPackages()
{
    return {
        {QStringLiteral("cv-hello"), QStringLiteral("1.0"), QStringLiteral("1")},
        {QStringLiteral("cv-hello"), QStringLiteral("1.1"), QStringLiteral("1")},
        {QStringLiteral("cv-editor"), QStringLiteral("2.0"), QStringLiteral("1")},
        {QStringLiteral("cv-editor"), QStringLiteral("2.1"), QStringLiteral("1")},
        {QStringLiteral("cv-player"), QStringLiteral("3.2"), QStringLiteral("4")},
        {QStringLiteral("cv-big"), QStringLiteral("1.0"), QStringLiteral("1"), 4 * 1024 * 1024},
    };
}

TestPackage TestRepository::standardPackage(const QString &name, const QString &version)
{
    for (const TestPackage &package : standardPackages())
        if (package.name == name && package.version == version)
            return package;
    return TestPackage();
}

TestRepository &TestRepository::shared()
{
    static TestRepository repository(standardPackages());
    return repository;
}
