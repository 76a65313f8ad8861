#include "serversettings.h"

#include <QFile>

const char *const ServerSettings::Syntax =
    "Service configuration (--server-config), \"key = value\" per line:\n"
    "  repository = DIR      the dnf repository to follow (holds repodata/)\n"
    "  overrides = FILE      the override file\n"
    "  files = DIR           the HTTP file area the stores fetch icons and catalog files from\n"
    "  key = FILE            the signing key\n"
    "  bind = ADDRESS        port = PORT    the direct TCP transport\n"
    "  transport = FILE      libvqs settings (the broker)\n"
    "  locale = NAME         settle = MS    files-only = true|false    max-frame = BYTES\n"
    "  repository-key = FILE the OpenPGP key repodata/repomd.xml.asc must be made with\n"
    "  repository-state = FILE  the newest signed repository state published, kept\n"
    "  allow-unsigned-repository = true|false   follow an http(s) repository without one\n"
    "  max-repomd = BYTES    max-metadata = BYTES (as fetched)    max-unpacked = BYTES\n"
    "  max-catalog = PACKAGES\n"
    "  max-icon-archive = BYTES  an icon archive once decompressed (default 134217728)\n"
    "  max-icon = BYTES      each icon in it (default 1048576)\n"
    "  frame-validity = SECONDS  how long a signed frame stays valid\n"
    "  heartbeat = SECONDS   how often a signed heartbeat goes out\n"
    "  max-clients = COUNT   desktops kept for pushes over direct TCP\n"
    "  max-group-desktops = COUNT    group-desktop-interval = SECONDS   queues made for a\n"
    "                        group account's desktops\n"
    "  fleet-db = FILE       the fleet database (default in the state folder)\n"
    "  result-days = DAYS    how long results are kept (default 90)\n"
    "  report-dir = DIR      where the status page fleet.html goes\n"
    "  report-interval = S   seconds between two writes of the page at most (default 60)\n"
    "  rollout-pilot = GROUP...  the groups a new version reaches first\n"
    "  stage-delay = TIME    until the others get it (default 24h)\n"
    "  halt-failures = N|P%  pilot failures that halt a rollout (default 10%)\n"
    "  desktop-group = NAME MEMBER...   a group of desktops with a catalog of its own (below)\n"
    "  group-streams = true|false   through the broker, a stream per group (scripts/broker)\n"
    "A key may be spelt with \"_\" for \"-\" (max_group_desktops).";

namespace
{

struct Key {
    const char *name;
    const char *option;
    bool flag; // true/false instead of a value
};

const Key Keys[] = {{"repository", "--repository", false},
                    {"overrides", "--overrides", false},
                    {"files", "--files", false},
                    {"key", "--key", false},
                    {"bind", "--bind", false},
                    {"port", "--port", false},
                    {"transport", "--config", false},
                    {"locale", "--locale", false},
                    {"settle", "--settle", false},
                    {"files-only", "--files-only", true},
                    {"max-frame", "--max-frame", false},
                    {"repository-key", "--repository-key", false},
                    {"repository-state", "--repository-state", false},
                    {"allow-unsigned-repository", "--allow-unsigned-repository", true},
                    {"max-repomd", "--max-repomd", false},
                    {"max-metadata", "--max-metadata", false},
                    {"max-unpacked", "--max-unpacked", false},
                    {"max-catalog", "--max-catalog", false},
                    {"max-icon-archive", "--max-icon-archive", false},
                    {"max-icon", "--max-icon", false},
                    {"frame-validity", "--frame-validity", false},
                    {"heartbeat", "--heartbeat", false},
                    {"max-clients", "--max-clients", false},
                    {"max-group-desktops", "--max-group-desktops", false},
                    {"group-desktop-interval", "--group-desktop-interval", false},
                    {"fleet-db", "--fleet-db", false},
                    {"result-days", "--result-days", false},
                    {"report-dir", "--report-dir", false},
                    {"report-interval", "--report-interval", false},
                    {"rollout-pilot", "--rollout-pilot", false},
                    {"stage-delay", "--stage-delay", false},
                    {"halt-failures", "--halt-failures", false},
                    {"desktop-group", "--desktop-group", false},
                    {"group-streams", "--group-streams", true}};

} // namespace

bool ServerSettings::options(const QString &path, QStringList *arguments, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    QStringList result;
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(i + 1).arg(what);
            return false;
        };
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("expected: key = value"));
        const QString name =
            line.left(equals).trimmed().replace(QLatin1Char('_'), QLatin1Char('-'));
        const QString value = line.mid(equals + 1).trimmed();
        const Key *key = nullptr;
        for (const Key &known : Keys)
            if (name == QLatin1String(known.name))
                key = &known;
        if (!key)
            return fail(QStringLiteral("unknown key \"%1\"").arg(name));
        if (key->flag) {
            if (value != QLatin1String("true") && value != QLatin1String("false"))
                return fail(QStringLiteral("%1 must be true or false").arg(name));
            if (value == QLatin1String("true"))
                result << QLatin1String(key->option);
            continue;
        }
        if (value.isEmpty())
            return fail(QStringLiteral("%1 needs a value").arg(name));
        result << QLatin1String(key->option) << value;
    }
    *arguments = result;
    return true;
}
