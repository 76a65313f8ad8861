#pragma once

#include <QByteArray>
#include <QString>
#include <QThread>

// Polls the server's push file and, whenever its content changed, replays the frames added to
// it to this client's own receiver. The first file only becomes the baseline. A file that no
// longer begins with the last one was cut when the server wrote a new catalog: the catalog
// file is replayed first (it holds every push cut away, seen or missed), then the whole
// file. Runs for the life of the process.
class GetVQSDataThread : public QThread
{
    Q_OBJECT

public:
    explicit GetVQSDataThread(QObject *parent = nullptr);

    // Waits the given number of seconds through the shell's sleep.
    void cycleDelay(const QString &seconds);
    // 0 after storing the file's MD5 in md5value_now; -1 when it cannot be read.
    int getLocalDatafileMD5(const QString &path);

    QString md5value_pre; // digest of the last handled file; "null" before the baseline
    QString md5value_now; // digest of the latest download

protected:
    void run() override;

private:
    void replay(const QString &path);

    qint64 m_replayedSize = 0;   // the file last handled: its size
    QByteArray m_replayedDigest; // and its digest
};
