#pragma once

// Brings the installed-package table and every catalog row's install state up to date with
// the RPM database after a frame, with the frame receiver's log texts.
class InstalledStateRefresh
{
public:
    // The installed-package table only (before a whole catalog is stored).
    static bool refreshTable();
    // As root: the installed-package table and every install state. False on an error path.
    static bool refreshStates();
};
