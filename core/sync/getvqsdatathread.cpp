#include "sync/getvqsdatathread.h"

#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "sync/cataloggroup.h"
#include "sync/catalogrequest.h"
#include "sync/framefile.h"
#include "sync/httpfetch.h"
#include "vqs.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>

#include <cstdio>
#include <memory>

namespace
{

const char *const NoBaseline = "null";

struct DigestContextFree {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};

} // namespace

GetVQSDataThread::GetVQSDataThread(QObject *parent) : QThread(parent) {}

void GetVQSDataThread::cycleDelay(const QString &seconds)
{
    runShell(QStringLiteral("sleep ") + Quoting::shell(seconds));
}

int GetVQSDataThread::getLocalDatafileMD5(const QString &path)
{
    const QByteArray name = path.toUtf8();
    std::FILE *file = std::fopen(name.constData(), "rb");
    if (!file) {
        std::printf("failed to get md5sum for : %s\n", name.constData());
        std::fflush(stdout);
        return -1;
    }
    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) == 1;
    unsigned char block[16384];
    while (ok) {
        const size_t got = std::fread(block, 1, sizeof block, file);
        if (got > 0)
            ok = EVP_DigestUpdate(context.get(), block, got) == 1;
        if (got < sizeof block)
            break;
    }
    ok = ok && !std::ferror(file);
    std::fclose(file);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
        std::printf("failed to get md5sum for : %s\n", name.constData());
        std::fflush(stdout);
        return -1;
    }
    QString hex;
    for (unsigned int i = 0; i < size; ++i)
        hex += QString::asprintf("%02x", digest[i]);
    std::printf("%s\n", hex.toLatin1().constData());
    std::fflush(stdout);
    md5value_now = hex;
    return 0;
}

void GetVQSDataThread::run()
{
    md5value_pre = QLatin1String(NoBaseline);
    md5value_now.clear();
    cycleDelay(QStringLiteral("60"));

    const QString refresh = ClientConfig::refresh();
    const QString pushFile = Paths::pushDataFile();
    for (;;) {
        cycleDelay(refresh);
        // The group's own folder, as the server last named it: a catalog made for another
        // group never reaches this store, from any folder.
        const QString url = ClientConfig::iconurl() + QLatin1Char('/') +
                            CatalogGroup::folder(CatalogGroup::current()) +
                            QStringLiteral("push_x86_64");
        // Made again when /tmp was cleaned (wget -O does not create directories); someone
        // else's directory or file there is never written through or read: the cycle then
        // fetches nothing and keeps the previous digest, as an unreadable download does.
        if (!ScratchFiles::claimDirectory(Paths::dataDirectory()) ||
            !ScratchFiles::createFresh(pushFile)) {
            qDebug() << "open file " + pushFile + " failed";
            continue;
        }
        const QString command =
            HttpFetch::command(pushFile, url, HttpFetch::configuredBound("max_push_file"));
        qDebug() << command;
        HttpFetch::run(command, pushFile);
        getLocalDatafileMD5(pushFile);
        qDebug() << "md5value_pre " << md5value_pre << "  md5value_now" << md5value_now;
        if (md5value_pre == md5value_now)
            continue;
        replay(pushFile);
        md5value_pre = md5value_now;
    }
}

void GetVQSDataThread::replay(const QString &path)
{
    const qint64 previousSize = m_replayedSize;
    const QByteArray previousStart = m_replayedDigest;
    // Kept as size and digest, not whole: the next poll tells a file appended to from a cut one.
    m_replayedSize = QFileInfo(path).size();
    m_replayedDigest = FrameFile::digestOfStart(path, m_replayedSize);
    // The first digest is only the baseline: its file is not replayed.
    if (md5value_pre == QLatin1String(NoBaseline))
        return;
    const bool extended = m_replayedSize >= previousSize &&
                          FrameFile::digestOfStart(path, previousSize) == previousStart;
    if (!extended)
        CatalogRequest::replayCatalogFile();
    FrameFile::replay(path, "send message to localhost, mesg_p : ", extended ? previousSize : 0);
}
