-- The two databases of the store. Each section starts with a "-- database: FILE" line naming
-- the file below /opt/corvane/db/ that its statements create. The store never creates
-- tables itself: the files are installed with them. Each file is numbered with its layout in
-- PRAGMA user_version, and the store migrates a file of an earlier layout when it first opens
-- it: a change here is a new layout, with its number and its step in storeschema.cpp.

-- database: server_software.db
CREATE TABLE IF NOT EXISTS softwares (
    s_name        TEXT,
    s_icon        TEXT,
    s_exec        TEXT,
    s_rpm         TEXT,
    s_version     TEXT,
    s_size        TEXT,
    s_description TEXT,
    s_rpmdeps     TEXT,
    s_star        TEXT,
    type          TEXT,
    time          TEXT,
    sign          TEXT
);
CREATE INDEX IF NOT EXISTS softwares_s_name ON softwares(s_name);
CREATE INDEX IF NOT EXISTS softwares_s_rpm ON softwares(s_rpm);
CREATE INDEX IF NOT EXISTS softwares_s_icon ON softwares(s_icon);
CREATE INDEX IF NOT EXISTS softwares_type ON softwares(type);
-- The sequence of the last signed frame accepted, committed with the rows it brought, and
-- when it was (Unix seconds).
CREATE TABLE IF NOT EXISTS frame_sequence (
    id   INTEGER PRIMARY KEY CHECK (id = 1),
    last TEXT NOT NULL,
    at   TEXT NOT NULL DEFAULT '0'
);
INSERT OR IGNORE INTO frame_sequence (id, last) VALUES (1, '0');
-- The advisories a catalog row's version fixes, as its frame carried them (checked again),
-- for the upgrade page's mark.
CREATE TABLE IF NOT EXISTS advisories (
    s_name TEXT PRIMARY KEY,
    text   TEXT NOT NULL
);

-- database: software.db
CREATE TABLE IF NOT EXISTS software (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    name        TEXT,
    version     TEXT,
    release_ver TEXT
);
CREATE INDEX IF NOT EXISTS software_name ON software(name);
CREATE TABLE IF NOT EXISTS loadmanage (
    display_name TEXT,
    name         TEXT,
    size         TEXT,
    state        TEXT,
    operation    TEXT,
    number       TEXT
);
CREATE TABLE IF NOT EXISTS loadrecord (
    display_name TEXT,
    name         TEXT,
    size         TEXT,
    state        TEXT,
    operation    TEXT,
    number       TEXT
);
