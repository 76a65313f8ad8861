#include "sandbox.h"

#include "testfiles.h"
#include "testrepository.h"
#include "tools/initdb/schemainstaller.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextStream>

#if !defined(CORVANE_TEST_SHIMS_DIR) || !defined(CORVANE_TEST_SUPPORT_DIR)
#error "CORVANE_TEST_SHIMS_DIR and CORVANE_TEST_SUPPORT_DIR must name tests/shims and tests/support"
#endif

Sandbox::Sandbox(const TestRepository *repository)
    : m_repository(repository), m_savedRoot(qgetenv("CORVANE_ROOT")), m_savedPath(qgetenv("PATH")),
      m_savedTransport(qgetenv("VQS_CONFIG")), m_hadRoot(qEnvironmentVariableIsSet("CORVANE_ROOT")),
      m_hadTransport(qEnvironmentVariableIsSet("VQS_CONFIG"))
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary directory");
        return;
    }
    qputenv("CORVANE_ROOT", root().toUtf8());
    qputenv("PATH", QByteArray(CORVANE_TEST_SHIMS_DIR) + ':' + m_savedPath);

    for (const char *dir :
         {"/opt/corvane/doc", "/opt/corvane/db", "/opt/corvane/icons", "/tmp/.cv_data",
          "/var/lib/rpm", "/var/cache/corvane/packages", "/.sandbox/home"})
        QDir().mkpath(path(QString::fromLatin1(dir)));
    // Direct TCP whatever the host's /etc/vqs.conf says; a test may choose the broker.
    QFile transport(path(QStringLiteral("/.sandbox/vqs.conf")));
    if (transport.open(QIODevice::WriteOnly))
        transport.write("transport = tcp\n");
    // Whatever the umask: libvqs refuses a settings file others may change.
    transport.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    qputenv("VQS_CONFIG", transport.fileName().toUtf8());

    m_config = {
        {QStringLiteral("refresh"), QStringLiteral("0")},
        {QStringLiteral("pkgpath"), packageDirectory()},
        {QStringLiteral("localip"), QStringLiteral("127.0.0.1")},
        {QStringLiteral("serverip"), QStringLiteral("127.0.0.2")},
        {QStringLiteral("vqssend"), QStringLiteral("true")},
        {QStringLiteral("iconurl"), QStringLiteral("http://127.0.0.1:9/")},
    };
    writeConfig();

    QString error;
    if (!SchemaInstaller::createDatabases(path(QStringLiteral("/opt/corvane/db")), &error)) {
        m_error = error;
        return;
    }
    if (!setUpRpm(repository))
        return;
}

Sandbox::~Sandbox()
{
    if (m_hadRoot)
        qputenv("CORVANE_ROOT", m_savedRoot);
    else
        qunsetenv("CORVANE_ROOT");
    qputenv("PATH", m_savedPath);
    if (m_hadTransport)
        qputenv("VQS_CONFIG", m_savedTransport);
    else
        qunsetenv("VQS_CONFIG");
}

bool Sandbox::setUpRpm(const TestRepository *repository)
{
    // The same lay-out the demo uses: a private RPM database and a dnf configuration whose
    // only repository is ours.
    QStringList arguments = {QStringLiteral(CORVANE_TEST_SUPPORT_DIR "/init-root"), root()};
    if (repository)
        arguments << repository->directory();
    const ProcessResult result = ProcessRunner::run(QStringLiteral("/bin/sh"), arguments);
    if (result.exitCode != 0) {
        m_error = QStringLiteral("init-root failed: ") + result.output;
        return false;
    }
    return true;
}

void Sandbox::setConfig(const QString &key, const QString &value)
{
    m_config[key] = value;
    writeConfig();
}

void Sandbox::removeConfig(const QString &key)
{
    m_config.remove(key);
    writeConfig();
}

void Sandbox::writeConfig()
{
    QFile file(path(QStringLiteral("/opt/corvane/doc/client-config.ini")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << "[client-conf]\n";
    for (auto it = m_config.cbegin(); it != m_config.cend(); ++it)
        out << it.key() << " = " << it.value() << '\n';
}

void Sandbox::prependPath(const QString &directory)
{
    qputenv("PATH", directory.toUtf8() + ':' + qgetenv("PATH"));
}

ProcessResult Sandbox::rpm(const QStringList &arguments) const
{
    // This sandbox's database, even while a later sandbox is the current root.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("CORVANE_ROOT"), root());
    return ProcessRunner::run(QStringLiteral(CORVANE_TEST_SHIMS_DIR "/rpm"), arguments,
                              environment);
}

QStringList Sandbox::installedPackages() const
{
    const ProcessResult result = rpm({QStringLiteral("-qa")});
    QStringList lines = result.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // Debian's rpm warns on standard error; keep only package strings.
    lines = lines.filter(QRegularExpression(QStringLiteral("^[^ :]+$")));
    lines.sort();
    return lines;
}

bool Sandbox::install(const TestPackage &package) const
{
    if (!m_repository)
        return false;
    return rpm({QStringLiteral("-Uvh"), m_repository->packageFile(package)}).exitCode == 0;
}

QStringList Sandbox::notifications() const
{
    return readLines(path(QStringLiteral("/.sandbox/notifications.log")));
}

bool Sandbox::isInstalled(const QString &packageString) const
{
    return installedPackages().contains(packageString + QStringLiteral(".x86_64"));
}

bool Sandbox::installEmpty(const QVector<TestPackage> &packages, QString *error) const
{
    // One rpmbuild per package would take minutes; subpackages of one build recipe take a second.
    QTemporaryDir build;
    QString recipe = QStringLiteral("Name: cvb\nVersion: 1\nRelease: 1\nSummary: bench\n"
                                    "License: MIT\nBuildArch: x86_64\nAutoReqProv: no\n"
                                    "%description\nbench\n");
    for (const TestPackage &p : packages)
        recipe += QStringLiteral("%package -n %1\nVersion: %2\nSummary: bench\n"
                                 "%description -n %1\nbench\n%files -n %1\n")
                      .arg(p.name, p.version);
    QFile file(build.filePath(QStringLiteral("packages.recipe")));
    if (!file.open(QIODevice::WriteOnly) || file.write(recipe.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write the build recipe");
        return false;
    }
    file.close();
    const QString top = build.filePath(QStringLiteral("top"));
    ProcessResult result =
        ProcessRunner::run(QStringLiteral("rpmbuild"),
                           {QStringLiteral("--define"), QStringLiteral("_topdir ") + top,
                            QStringLiteral("--define"), QStringLiteral("_build_id_links none"),
                            QStringLiteral("--quiet"), QStringLiteral("-bb"), file.fileName()});
    if (result.exitCode != 0) {
        *error = result.output;
        return false;
    }
    // The packages hold no files, so only the database entries matter.
    QStringList arguments = {QStringLiteral("-i"),         QStringLiteral("--justdb"),
                             QStringLiteral("--nodeps"),   QStringLiteral("--noscripts"),
                             QStringLiteral("--nodigest"), QStringLiteral("--nosignature")};
    const QDir rpms(top + QStringLiteral("/RPMS/x86_64"));
    for (const QString &name : rpms.entryList({QStringLiteral("*.rpm")}, QDir::Files))
        arguments << rpms.filePath(name);
    result = rpm(arguments);
    if (result.exitCode != 0) {
        *error = result.output;
        return false;
    }
    return true;
}
