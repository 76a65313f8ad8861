#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

// While one lives on a thread, the commands runShell runs on that thread write their output
// into two private files as well as, replayed, to the store's own standard output and error;
// the transcript keeps the end of it, which is where a tool says why it failed.
class ShellTranscript
{
public:
    static constexpr int KeptBytes = 8192;

    ShellTranscript();
    ~ShellTranscript();
    ShellTranscript(const ShellTranscript &) = delete;
    ShellTranscript &operator=(const ShellTranscript &) = delete;

    // The transcript of this thread, or null.
    static ShellTranscript *current();

    // The command with its output sent to the transcript's files; the command as it is when
    // they could not be made.
    QString wrap(const QString &command) const;
    // Takes what the last wrapped command wrote, replays it and keeps its end.
    void collect();
    // The end of everything collected, decoded as UTF-8.
    QString text() const;

private:
    QTemporaryFile m_out;
    QTemporaryFile m_err;
    bool m_ready = false;
    QByteArray m_kept;
    ShellTranscript *m_outer;
};
