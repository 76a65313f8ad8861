#include "catalogfixture.h"
#include "records/paths.h"
#include "sync/getvqsdatathread.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "vqs.h"

#include <QCryptographicHash>
#include <QMutex>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

using namespace CatalogFixture;

namespace
{

const char *const CollectorStop = "collector-stop";

// This process's receiver: keeps every message that reaches it.
class Collector : public QThread
{
public:
    // Messages received before marker, which this sends itself and waits for. Messages from
    // one process arrive in the order sent, so everything queued before the marker is there.
    QStringList until(const QString &marker)
    {
        vqs_message_send("127.0.0.1", marker.toUtf8().constData());
        QStringList before;
        const bool seen = QTest::qWaitFor(
            [&]() {
                QMutexLocker lock(&m_lock);
                const int at = m_messages.indexOf(marker);
                if (at < 0)
                    return false;
                before = m_messages.mid(0, at);
                m_messages = m_messages.mid(at + 1);
                return true;
            },
            30000);
        return seen ? before : QStringList{QStringLiteral("marker lost")};
    }

    bool ready()
    {
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (until(QStringLiteral("ready-%1").arg(attempt)) != QStringList{"marker lost"})
                return true;
        }
        return false;
    }

protected:
    void run() override
    {
        QByteArray buffer(VQS_MAX_MESSAGE + 1, '\0');
        vqs_message_recv_init();
        for (;;) {
            if (vqs_message_recv(buffer.data()) < 0)
                continue;
            if (qstrcmp(buffer.constData(), CollectorStop) == 0)
                return;
            QMutexLocker lock(&m_lock);
            m_messages << QString::fromUtf8(buffer.constData());
        }
    }

private:
    QMutex m_lock;
    QStringList m_messages;
};

} // namespace

class TestSyncPoller : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        useLoopbackTransport();
        m_collector.start();
    }

    void cleanupTestCase()
    {
        vqs_message_send("127.0.0.1", CollectorStop);
        QVERIFY(m_collector.wait(30000));
    }

    void digest_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("short") << QByteArray("abc");
        QTest::newRow("cut at NUL") << QByteArray("a\0b", 3);
        QTest::newRow("one block") << QByteArray(16384, 'a');
        QTest::newRow("block and a byte") << QByteArray(16385, 'b');
        QByteArray mixed;
        for (int i = 0; i < 40000; ++i)
            mixed.append(char((i * 131 + 7) % 256));
        QTest::newRow("binary over blocks") << mixed;
    }

    void digest()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.path() + "/push_x86_64";
        QVERIFY(writeFile(path, content));
        GetVQSDataThread poller;
        QCOMPARE(poller.getLocalDatafileMD5(path), 0);
        QCOMPARE(poller.md5value_now,
                 QString::fromLatin1(
                     QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex()));
    }

    void unreadableFileKeepsDigest()
    {
        GetVQSDataThread poller;
        poller.md5value_now = QStringLiteral("previous");
        QCOMPARE(poller.getLocalDatafileMD5(QStringLiteral("/nonexistent/push_x86_64")), -1);
        QCOMPARE(poller.md5value_now, QStringLiteral("previous"));
    }

    void replaysChangedPushFile_data()
    {
        QTest::addColumn<QByteArrayList>("files");       // the served file at each poll
        QTest::addColumn<QList<QStringList>>("replays"); // what each poll sends
        QTest::addColumn<QByteArray>("catalog");         // the served catalog file
        const QByteArray a = "<frame action='data_add_push'><datas architecture='x86_64'><s "
                             "name='a'/></datas></frame>\n";
        const QByteArray three =
            "<frame action='one'/>\n<frame action='two'/>\n<frame action='three'/>\n";
        const QStringList threeLines{"<frame action='one'/>\n", "<frame action='two'/>\n",
                                     "<frame action='three'/>\n"};
        QTest::newRow("first file is the baseline")
            << QByteArrayList{a} << QList<QStringList>{{}} << QByteArray();
        QTest::newRow("unchanged file")
            << QByteArrayList{a, a, a} << QList<QStringList>{{}, {}, {}} << QByteArray();
        QTest::newRow("three lines in order")
            << QByteArrayList{a, three} << QList<QStringList>{{}, threeLines} << QByteArray();
        QTest::newRow("empty download becomes the baseline")
            << QByteArrayList{a, "", three} << QList<QStringList>{{}, {}, threeLines}
            << QByteArray();
        QTest::newRow("whole file again after a change")
            << QByteArrayList{three, a, three}
            << QList<QStringList>{{}, {QString::fromUtf8(a)}, threeLines} << QByteArray();
        QTest::newRow("last line without newline")
            << QByteArrayList{a, "x\ny"} << QList<QStringList>{{}, {"x\n", "y"}} << QByteArray();
        // Appended to: only what was added. Cut when the server wrote a new catalog: the
        // catalog, which holds what was cut (seen or not), then the whole file.
        const QByteArray catalog = "<frame action='data_resp'><datas architecture='x86_64'/>"
                                   "</frame>\n";
        QTest::newRow("only the lines added")
            << QByteArrayList{a, a + three} << QList<QStringList>{{}, threeLines} << catalog;
        QTest::newRow("cut: the catalog first")
            << QByteArrayList{a, three, three + a}
            << QList<QStringList>{{}, QStringList{catalog} + threeLines, {QString::fromUtf8(a)}}
            << catalog;
    }

    void replaysChangedPushFile()
    {
        QFETCH(QByteArrayList, files);
        QFETCH(QList<QStringList>, replays);
        QFETCH(QByteArray, catalog);
        Sandbox sandbox;
        QVERIFY(sandbox.isValid());
        sandbox.prependPath(toolFolder("sleepgate"));
        QTemporaryDir served;
        const QString pushFile = served.path() + "/.cv_data/push_x86_64";
        if (!catalog.isEmpty())
            QVERIFY(writeFile(served.path() + "/.cv_data/data_x86_64", catalog));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("refresh", "7");
        QVERIFY(m_collector.ready());
        const QString gates = sandbox.path("/.sandbox/sleep");
        auto requests = [&]() { return readLines(gates + "/requests"); };
        auto open = [&](int n) { return writeFile(gates + QStringLiteral("/open-%1").arg(n), ""); };

        // Never ends by design; it is stopped while it waits at a gate.
        GetVQSDataThread *poller = new GetVQSDataThread;
        poller->start();
        QTRY_COMPARE_WITH_TIMEOUT(requests(), QStringList{"60"}, 30000);
        QVERIFY(open(1));
        for (int cycle = 0; cycle < files.size(); ++cycle) {
            QVERIFY(writeFile(pushFile, files[cycle]));
            QTRY_COMPARE_WITH_TIMEOUT(requests().size(), cycle + 2, 30000);
            QCOMPARE(requests().last(), QStringLiteral("7"));
            QVERIFY(open(cycle + 2));
            // The next wait starts only when this cycle has sent what it had to send.
            QTRY_COMPARE_WITH_TIMEOUT(requests().size(), cycle + 3, 30000);
            QCOMPARE(readFile(Paths::pushDataFile()), files[cycle]);
            QCOMPARE(m_collector.until(QStringLiteral("marker-%1").arg(cycle)), replays[cycle]);
        }
        poller->terminate();
        QVERIFY(poller->wait(30000));
        delete poller;
    }

private:
    Collector m_collector;
};

QTEST_GUILESS_MAIN(TestSyncPoller)
#include "tst_syncpoller.moc"
