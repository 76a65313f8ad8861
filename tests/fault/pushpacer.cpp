#include "pushpacer.h"

#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/catalogserverprocess.h"

PushPacer::PushPacer(CatalogServerProcess &server, const QString &folder,
                     const QStringList &addresses)
    : m_server(server), m_folder(folder), m_addresses(addresses)
{
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &PushPacer::pushNext);
}

void PushPacer::start()
{
    pushNext();
    m_timer.start();
}

void PushPacer::stop()
{
    m_timer.stop();
}

QString PushPacer::packageName(int push)
{
    return QStringLiteral("tick-%1").arg(push, 4, 10, QLatin1Char('0'));
}

void PushPacer::pushNext()
{
    if (m_pushing)
        return;
    m_pushing = true;
    const int push = m_sent + 1;
    const QString name = packageName(push);
    const QString file = m_folder + QLatin1Char('/') + name + QStringLiteral(".xml");
    CatalogFixture::writeCatalog(
        file, {CatalogFixture::package(name, QStringLiteral("cv-%1-1.0-1").arg(name))});
    const QStringList targets = m_addresses.isEmpty() ? QStringList{QString()} : m_addresses;
    for (const QString &address : targets) {
        const QString answer = m_server.command(
            QStringLiteral("push data_add_push %1 %2").arg(file, address).trimmed());
        if (answer != QLatin1String("ok push 1") && m_failure.isEmpty())
            m_failure = answer.isEmpty() ? QStringLiteral("no answer") : answer;
    }
    m_sent = push;
    m_pushing = false;
}
