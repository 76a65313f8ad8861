#pragma once

#include <QStringList>
#include <QTemporaryFile>

// This process's standard error goes into a file while the object lives, for the lines a
// library running inside the process writes there (libvqs's).
class StandardErrorCapture
{
public:
    StandardErrorCapture();
    ~StandardErrorCapture();
    StandardErrorCapture(const StandardErrorCapture &) = delete;
    StandardErrorCapture &operator=(const StandardErrorCapture &) = delete;

    // The lines written so far.
    QStringList lines() const;

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};
