#pragma once

#include <QString>
#include <QTemporaryDir>

// A program of the build, with the libraries it loads from places other accounts cannot
// reach, copied into a temporary folder every user may enter. The build lies wherever the
// clone does, and a clone in a private folder (root's home, a mktemp -d) keeps a program run
// under another account from loading the build's libraries.
class ProgramCopy
{
public:
    explicit ProgramCopy(const QString &program);
    ProgramCopy(const ProgramCopy &) = delete;
    ProgramCopy &operator=(const ProgramCopy &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }
    QString program() const { return m_program; }
    // For LD_LIBRARY_PATH, which the loader reads before the build's RUNPATH.
    QString libraryPath() const { return m_dir.path(); }

private:
    bool copy(const QString &from, const QString &name);

    QTemporaryDir m_dir;
    QString m_program;
    QString m_error;
};
