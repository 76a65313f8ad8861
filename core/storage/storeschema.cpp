#include "storage/storeschema.h"

#include "records/paths.h"
#include "records/quoting.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstdio>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr int MigrationWaitMs = 2000;

// The file the catalog's frame sequence lived in, next to the database, before the database
// held it.
QString legacySequenceFile(sqlite3 *db)
{
    const QString database = QString::fromUtf8(sqlite3_db_filename(db, "main"));
    return QFileInfo(database).dir().filePath(QFileInfo(Paths::frameSequenceFile()).fileName());
}

// Layout 2 keeps the sequence of the last signed frame accepted in the database, committed
// with the rows it brought. The value of the old file moves in: starting again from 0 would
// take frames that were already refused as replays.
bool addFrameSequence(sqlite3 *db, QString *error)
{
    const QString file = legacySequenceFile(db);
    const std::optional<quint64> last = StoreSchema::legacySequence(file);
    if (!last) {
        *error = file + QStringLiteral(" holds no sequence");
        return false;
    }
    const QByteArray insert =
        QStringLiteral("INSERT OR IGNORE INTO frame_sequence (id, last) VALUES (1, '%1');")
            .arg(Quoting::sqlLiteral(QString::number(*last)))
            .toUtf8();
    return SchemaVersion::exec(db, "CREATE TABLE IF NOT EXISTS frame_sequence ("
                                   " id INTEGER PRIMARY KEY CHECK (id = 1),"
                                   " last TEXT NOT NULL,"
                                   " at TEXT NOT NULL DEFAULT '0');") &&
           SchemaVersion::exec(db, insert.constData());
}

// Layout 3: the advisories of each row's version; rows stored before have none until the
// server sends them again.
bool addAdvisories(sqlite3 *db, QString *)
{
    return SchemaVersion::exec(db, "CREATE TABLE IF NOT EXISTS advisories ("
                                   " s_name TEXT PRIMARY KEY, text TEXT NOT NULL);");
}

const SchemaVersion &catalog()
{
    // 1: softwares alone; 2: frame_sequence added; 3: advisories added.
    static const SchemaVersion layouts(
        [](sqlite3 *db) {
            if (!SchemaVersion::hasTable(db, "softwares"))
                return 0;
            if (!SchemaVersion::hasTable(db, "frame_sequence"))
                return 1;
            return SchemaVersion::hasTable(db, "advisories") ? 3 : 2;
        },
        {addFrameSequence, addAdvisories});
    return layouts;
}

const SchemaVersion &local()
{
    // 1: software, loadmanage and loadrecord.
    static const SchemaVersion layouts(
        [](sqlite3 *db) {
            return SchemaVersion::hasTable(db, "software") &&
                           SchemaVersion::hasTable(db, "loadmanage") &&
                           SchemaVersion::hasTable(db, "loadrecord")
                       ? 1
                       : 0;
        },
        {});
    return layouts;
}

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

} // namespace

namespace StoreSchema
{

const SchemaVersion *of(const QString &name)
{
    if (name == fileName(Paths::catalogDatabase()))
        return &catalog();
    if (name == fileName(Paths::localDatabase()))
        return &local();
    return nullptr;
}

SchemaVersion::Outcome upgrade(const QString &path, QString *error,
                               const SchemaVersion::Step &create)
{
    const SchemaVersion *layouts = of(fileName(path));
    if (!layouts)
        return SchemaVersion::Outcome::Unknown;
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        if (error)
            *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return SchemaVersion::Outcome::Failed;
    }
    // A file to migrate waits a little for the readers of other processes; one in its current
    // layout never waits, so its first statement keeps the whole of its own wait.
    const int found = SchemaVersion::version(db);
    if (found >= 0 && found != layouts->current())
        sqlite3_busy_timeout(db, MigrationWaitMs);
    const SchemaVersion::Outcome outcome = layouts->bringUp(db, create, error);
    // Once the database holds the frame sequence, the old file would only mislead.
    if (outcome == SchemaVersion::Outcome::Upgraded && layouts == &catalog())
        QFile::remove(legacySequenceFile(db));
    sqlite3_close(db);
    return outcome;
}

bool admits(const char *path)
{
    const QByteArray file(path);
    if (file != Paths::catalogDatabase().toUtf8() && file != Paths::localDatabase().toUtf8())
        return true;
    // Held through the check: the other threads' first statements wait for the migration.
    static std::mutex lock;
    static QHash<QByteArray, bool> checked;
    std::lock_guard<std::mutex> guard(lock);
    const auto known = checked.constFind(file);
    if (known != checked.cend())
        return *known;
    // A missing file stays missing (it is not ours to make), and one another writer holds
    // while its number is read is checked at a later open.
    if (!QFileInfo::exists(QString::fromUtf8(file)))
        return true;
    QString error;
    const SchemaVersion::Outcome outcome = upgrade(QString::fromUtf8(file), &error);
    if (outcome == SchemaVersion::Outcome::Busy)
        return true;
    if (outcome == SchemaVersion::Outcome::Newer)
        std::fprintf(stderr, "%s: %s, not opened\n", path, qPrintable(error));
    else if (outcome == SchemaVersion::Outcome::Failed)
        std::fprintf(stderr, "%s: not brought up to date: %s\n", path, qPrintable(error));
    const bool admitted = outcome != SchemaVersion::Outcome::Newer;
    checked.insert(file, admitted);
    return admitted;
}

std::optional<quint64> legacySequence(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? std::optional<quint64>(0) : std::nullopt;
    char digits[32] = {};
    const ssize_t length = ::read(fd, digits, sizeof digits - 1);
    ::close(fd);
    const QByteArray text = length > 0 ? QByteArray(digits, int(length)).trimmed() : QByteArray();
    bool ok = !text.isEmpty() && text.size() <= 20;
    for (char c : text)
        ok = ok && c >= '0' && c <= '9';
    const quint64 value = ok ? text.toULongLong(&ok) : 0;
    return ok ? std::optional<quint64>(value) : std::nullopt;
}

} // namespace StoreSchema
