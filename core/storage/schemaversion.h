#pragma once

#include <QString>
#include <QVector>

#include <functional>

struct sqlite3;

// The layouts one database file has had, numbered from 1 and kept in its PRAGMA user_version,
// with the step from each to the next. A file written before the number was kept reads 0; its
// tables tell which layout it has.
class SchemaVersion
{
public:
    enum class Outcome {
        Current,  // nothing to do
        Upgraded, // brought to the current layout, or only numbered
        Newer,    // a layout this program does not know: left as it is
        Unknown,  // unnumbered and none of the known layouts: left as it is
        Busy,     // another connection held the file: nothing changed, try again later
        Failed,   // a step or the commit failed: everything rolled back
    };
    // Runs inside the migration's one transaction; false rolls all of it back, with *error
    // set (SQLite's message when left empty).
    using Step = std::function<bool(sqlite3 *, QString *error)>;
    // The layout of an unnumbered file, read from its tables; 0 when it is none of them.
    using Recognise = std::function<int(sqlite3 *)>;

    // steps[k] takes layout k + 1 to layout k + 2: the current layout is steps.size() + 1.
    SchemaVersion(Recognise recognise, QVector<Step> steps);

    int current() const { return m_steps.size() + 1; }

    // Brings the open file to the current layout in one transaction, so that a migration cut
    // off anywhere leaves the file as it was. A file without tables gets create (the current
    // layout) when one is given, and is left as it is otherwise.
    Outcome bringUp(sqlite3 *db, const Step &create = Step(), QString *error = nullptr) const;

    // The file's number; -1 when it cannot be read.
    static int version(sqlite3 *db);
    static bool exec(sqlite3 *db, const char *sql);
    static bool hasTable(sqlite3 *db, const char *name);

private:
    Outcome migrate(sqlite3 *db, const Step &create, QString *error) const;

    Recognise m_recognise;
    QVector<Step> m_steps;
};
