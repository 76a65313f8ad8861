#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "sync/catalogfreshness.h"
#include "sync/catalogrequest.h"
#include "sync/getvqsdatathread.h"
#include "tests/support/brokernode.h"
#include "tests/support/databaselock.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

bool setUp(Sandbox &sandbox)
{
    return sandbox.isValid() && sandbox.install(Hello10) && TestKey::catalog().trust();
}

QString push(const QString &action, const QString &name)
{
    return frame(action, "x86_64", {package(name, "cv-" + name.toHtmlEscaped() + "-1-1")});
}

// What an attacker gets in front of a store, in the order delivered, then the genuine frame
// that ends the test: only 真一 and 真二 may be stored.
QStringList delivery()
{
    TestKey &key = TestKey::catalog();
    const QString older = key.seal(push("data_delete_push", "真一"));
    QStringList texts;
    texts << push("data_add_push", "伪造一")
          << TestKey::stranger().seal(push("data_add_push", "伪造二"))
          << key.seal(push("data_add_push", "伪造三")).replace("cv-伪造三", "cv-hello")
          << key.seal(push("data_add_push", "真一"))
          << older // a genuine frame captured earlier must not undo the newer one
          << key.seal(push("data_add_push", "真二"));
    return texts;
}

// A throw-away certificate authority and a certificate for localhost signed by it.
bool makeCertificates(const QString &dir)
{
    const QString script = QStringLiteral(
        "set -e; cd \"$1\"; "
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=throw-away-ca "
        "-keyout ca.key -out ca.pem; "
        "openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out "
        "server.csr; "
        "printf 'subjectAltName=DNS:localhost,IP:127.0.0.1\\n' > san.ext; "
        "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
        "-extfile san.ext -out server.pem");
    return ProcessRunner::run("sh", {"-c", script, "sh", dir}).exitCode == 0;
}

} // namespace

// A store with a key trusted applies only what the catalog server signed, whatever carried
// it: another process over direct TCP, the broker, the catalog file, the push file.
class TestSyncAuthentic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
    }

    void onlySignedFramesApply_data()
    {
        QTest::addColumn<QString>("route");
        for (const char *route : {"tcp", "broker", "catalog file", "push file"})
            QTest::newRow(route) << QString::fromLatin1(route);
    }

    void onlySignedFramesApply()
    {
        QFETCH(QString, route);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        const QStringList texts = delivery();
        QTemporaryDir served;
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));

        CatalogServerProcess server;
        QString client = QStringLiteral("127.0.0.1");
        std::unique_ptr<BrokerNode> broker;
        if (route == QLatin1String("broker")) {
            broker = std::make_unique<BrokerNode>();
            QVERIFY2(broker->isValid(), qPrintable(broker->errorString()));
            client = broker->freshAddress();
            qputenv("VQS_CONFIG", broker->settingsFor(client).toUtf8());
            sandbox.setConfig("localip", client);
            QVERIFY(server.start({"--config", broker->settingsFor(BrokerNode::ServerAddress)}));
        } else if (route == QLatin1String("tcp")) {
            QVERIFY(server.start({}));
        }
        FrameReceiver receiver;
        QVERIFY(receiver.start());

        if (server.processId() > 0) {
            // Raw, as any local account or broker user could write them.
            for (const QString &text : texts)
                QCOMPARE(server.command("send " + client + ' ' + text), QStringLiteral("ok send"));
        } else if (route == QLatin1String("catalog file")) {
            QVERIFY(writeFile(served.path() + "/.cv_data/data_x86_64",
                              (texts.join('\n') + '\n').toUtf8()));
            sandbox.setConfig("vqssend", "false");
            CatalogRequest::send();
        } else {
            sandbox.prependPath(toolFolder("sleepgate"));
            sandbox.setConfig("refresh", "7");
            const QString gates = sandbox.path("/.sandbox/sleep");
            auto reached = [&](int gate) {
                return QTest::qWaitFor(
                    [&] { return readLines(gates + "/requests").size() == gate; }, 30000);
            };
            auto open = [&](int gate) {
                return writeFile(gates + QStringLiteral("/open-%1").arg(gate), "");
            };
            // Never ends by design; it is stopped while it waits at a gate.
            GetVQSDataThread *poller = new GetVQSDataThread;
            poller->start();
            // The start-up pause and the baseline fetch, then a changed file replayed whole.
            QVERIFY(reached(1) && open(1) && reached(2) && open(2) && reached(3));
            QVERIFY(writeFile(served.path() + "/.cv_data/push_x86_64",
                              (texts.join('\n') + '\n').toUtf8()));
            QVERIFY(open(3) && reached(4));
            // Stopped only once the receiver is done: it must not be cut off mid-command.
            QTRY_VERIFY_WITH_TIMEOUT(names().contains("真二"), 60000);
            QVERIFY(receiver.drain("done"));
            poller->terminate();
            QVERIFY(poller->wait(30000));
            delete poller;
        }
        QTRY_VERIFY_WITH_TIMEOUT(names().contains("真二"), 60000);
        QVERIFY(receiver.drain("done"));
        QCOMPARE(names(), (QStringList{"真一", "真二"}));
        QCOMPARE(receiver.recorder.dropped.size() -
                     receiver.recorder.dropped.filter("probe").size() -
                     receiver.recorder.dropped.filter("'done'").size(),
                 4);
        QVERIFY(receiver.recorder.frames.filter("伪造").isEmpty());
    }

    // With a key trusted an icon is kept only as the catalog signed it; without one, as it
    // always was. Icons over https are fetched with the certificate checked.
    void signedIcons_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QByteArray>("signedPicture"); // its digest goes into the frame
        QTest::addColumn<QByteArray>("served");
        QTest::addColumn<QByteArray>("onDisk");  // an icon kept from before
        QTest::addColumn<QString>("storedTime"); // its time stamp; the frame's is t1
        QTest::addColumn<QString>("https");      // "", "trusted CA", "unknown CA"
        QTest::addColumn<QByteArray>("kept");
        const QByteArray a = "picture A", b = "picture B", altered = "picture a", none;
        QTest::newRow("matching") << true << a << a << none << "t1"
                                  << "" << a;
        QTest::newRow("one byte altered") << true << a << altered << none << "t1"
                                          << "" << none;
        QTest::newRow("another picture") << true << a << b << none << "t1"
                                         << "" << none;
        QTest::newRow("no digest signed") << true << none << a << none << "t1"
                                          << "" << none;
        QTest::newRow("other picture on disk") << true << a << a << b << "t1"
                                               << "" << a;
        // A verified icon goes only when a checked replacement is renamed over it.
        QTest::newRow("time stamp alone changed") << true << a << altered << a << "t0"
                                                  << "" << a;
        QTest::newRow("replacement altered") << true << a << altered << b << "t0"
                                             << "" << b;
        QTest::newRow("no key, altered") << false << a << altered << none << "t1"
                                         << "" << altered;
        // Cut at the decode bound while it downloads, though the catalog signed it.
        const QByteArray huge(3 * 1024 * 1024, 'p');
        QTest::newRow("larger than 1 MiB") << true << huge << huge << none << "t1"
                                           << "" << none;
        QTest::newRow("https, CA trusted") << true << a << a << none << "t1"
                                           << "trusted CA" << a;
        QTest::newRow("https, CA unknown") << true << a << a << none << "t1"
                                           << "unknown CA" << none;
    }

    void signedIcons()
    {
        QFETCH(bool, trusted);
        QFETCH(QByteArray, signedPicture);
        QFETCH(QByteArray, served);
        QFETCH(QByteArray, onDisk);
        QFETCH(QString, storedTime);
        QFETCH(QString, https);
        QFETCH(QByteArray, kept);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && sandbox.install(Hello10), qPrintable(sandbox.errorString()));
        if (trusted)
            QVERIFY(TestKey::catalog().trust());
        QTemporaryDir served_;
        QVERIFY(writeFile(served_.path() + "/cv-icon.png", served));
        QTemporaryDir tls;
        if (!https.isEmpty())
            QVERIFY(makeCertificates(tls.path()));
        HttpServer http(served_.path(), https.isEmpty() ? QString() : tls.path() + "/server.pem",
                        https.isEmpty() ? QString() : tls.path() + "/server.key");
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        // wget checks certificates by default; the CA is made known through its own settings.
        const QString wgetrc = tls.path() + "/wgetrc";
        QVERIFY(writeFile(wgetrc, ("ca_certificate = " + tls.path() + "/ca.pem\n").toUtf8()));
        qputenv("WGETRC", (https == QLatin1String("trusted CA") ? wgetrc : QString()).toUtf8());
        const auto unsetWgetrc = qScopeGuard([] { qunsetenv("WGETRC"); });
        const QString icon = Paths::iconDirectory() + "cv-icon.png";
        if (!onDisk.isEmpty()) {
            QVERIFY(writeFile(icon, onDisk));
            QVERIFY(
                insertRow({{"s_name", "图标"}, {"s_icon", "cv-icon.png"}, {"time", storedTime}}));
        }
        CatalogPackage withIcon = package("图标", "cv-icon-1-1", "cv-icon.png", "t1");
        if (!signedPicture.isEmpty())
            withIcon.iconDigest =
                QCryptographicHash::hash(signedPicture, QCryptographicHash::Sha256).toHex();
        const QString text = frame("data_add_push", "x86_64", {withIcon});
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        const QByteArray sent = trusted ? TestKey::catalog().seal(text.toUtf8()) : text.toUtf8();
        QCOMPARE(vqs_message_send("127.0.0.1", sent.constData()), 0);
        QVERIFY(receiver.drain("done"));
        QCOMPARE(names(), QStringList{"图标"});
        // Fetching every icon of the list again keeps to the same rule.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) {
                receiver.thread().downLoadIcons();
                QVERIFY(iconFetchesEnded(receiver.thread()));
            }
            QCOMPARE(QFileInfo::exists(icon), !kept.isEmpty());
            if (!kept.isEmpty())
                QCOMPARE(readFile(icon), kept);
            QCOMPARE(QDir(Paths::iconDirectory()).entryList(QDir::Files).filter("~"),
                     QStringList());
        }
    }

    // A fetch of an older frame still running when a newer frame finds its own picture on disk
    // is not renamed over it.
    void olderFetchNeverUndoesNewerIcon_data()
    {
        QTest::addColumn<bool>("onDisk"); // the newer frame's picture, before either frame
        QTest::addColumn<QByteArray>("kept");
        QTest::addColumn<int>("fetches");
        QTest::newRow("newer picture on disk") << true << QByteArray("picture B") << 1;
        QTest::newRow("newer picture not served yet") << false << QByteArray() << 2;
    }

    void olderFetchNeverUndoesNewerIcon()
    {
        QFETCH(bool, onDisk);
        QFETCH(QByteArray, kept);
        QFETCH(int, fetches);
        const QByteArray newer = "picture B";
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        sandbox.prependPath(toolFolder("wgetgate"));
        const QByteArray older = "picture A";
        QTemporaryDir served;
        QVERIFY(writeFile(served.path() + "/cv-icon.png", older));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        const QString icon = Paths::iconDirectory() + "cv-icon.png";
        if (onDisk)
            QVERIFY(writeFile(icon, newer));
        auto withIcon = [](const QString &name, const QByteArray &picture) {
            CatalogPackage p = package(name, "cv-" + name + "-1-1", "cv-icon.png", "t1");
            p.iconDigest = QCryptographicHash::hash(picture, QCryptographicHash::Sha256).toHex();
            return TestKey::catalog().seal(frame("data_add_push", "x86_64", {p}).toUtf8());
        };
        const QByteArray first = withIcon("first", older), second = withIcon("second", newer);
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        QCOMPARE(vqs_message_send("127.0.0.1", first.constData()), 0);
        const QString started = sandbox.path("/.sandbox/wgetgate/started");
        QTRY_COMPARE_WITH_TIMEOUT(readLines(started).size(), 1, 30000);
        QCOMPARE(vqs_message_send("127.0.0.1", second.constData()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 2, 30000);
        QVERIFY(writeFile(sandbox.path("/.sandbox/wgetgate/open"), QByteArray()));
        QVERIFY(receiver.drain("done"));
        QCOMPARE(QFileInfo::exists(icon), !kept.isEmpty());
        if (!kept.isEmpty())
            QCOMPARE(readFile(icon), kept);
        QCOMPARE(readLines(started).size(), fetches);
    }

    // A catalog file or push captured once and served again later brings nothing back to a
    // store with a key once expired; a store without one takes it as it always did. The
    // server signs them expired already, as time would have made them.
    void expiredFramesRefused_data()
    {
        QTest::addColumn<QString>("captured");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("validity"); // seconds, from the signing
        QTest::addColumn<QStringList>("stored");
        const QStringList none, old{"旧版"};
        QTest::newRow("catalog file") << "catalog file" << true << "-7200" << none;
        QTest::newRow("catalog file, no key") << "catalog file" << false << "-7200" << old;
        QTest::newRow("catalog file, within the clock skew")
            << "catalog file" << true << "-60" << old;
        QTest::newRow("push") << "push" << true << "-7200" << none;
        QTest::newRow("push, no key") << "push" << false << "-7200" << old;
    }

    void expiredFramesRefused()
    {
        QFETCH(QString, captured);
        QFETCH(bool, trusted);
        QFETCH(QString, validity);
        QFETCH(QStringList, stored);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && sandbox.install(Hello10), qPrintable(sandbox.errorString()));
        if (trusted)
            QVERIFY(TestKey::catalog().trust());
        QTemporaryDir served;
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("vqssend", "false");
        const QString catalog = served.path() + "/catalog.xml";
        QVERIFY(writeCatalog(catalog, {package("旧版", "cv-old-1-1")}));
        CatalogServerProcess server;
        QVERIFY(server.start(
            {"--files", served.path(), "--catalog", catalog, "--frame-validity", validity}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        if (captured == QLatin1String("catalog file")) {
            CatalogRequest::send();
        } else {
            QCOMPARE(server.command("publish data_add_push " + catalog),
                     QStringLiteral("ok publish 1"));
            for (const QString &line : readLines(served.path() + "/.cv_data/push_x86_64"))
                QCOMPARE(vqs_message_send("127.0.0.1", line.toUtf8().constData()), 0);
        }
        QVERIFY(receiver.drain("done"));
        QCOMPARE(names(), stored);
    }

    // Whoever blocks the channel is noticed: with no fresh signed frame for max_catalog_age the
    // store says so once, and no more once a fresh frame (a heartbeat, the catalog) comes.
    void staleCatalogSaidOnce_data()
    {
        QTest::addColumn<QString>("fresh");    // what comes after the silence
        QTest::addColumn<QString>("validity"); // of the server's frames, seconds
        QTest::addColumn<bool>("clears");
        QTest::newRow("heartbeat") << "heartbeat"
                                   << "3600" << true;
        QTest::newRow("catalog file") << "catalog file"
                                      << "3600" << true;
        QTest::newRow("expired heartbeat") << "heartbeat"
                                           << "-7200" << false;
    }

    void staleCatalogSaidOnce()
    {
        QFETCH(QString, fresh);
        QFETCH(QString, validity);
        QFETCH(bool, clears);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        QTemporaryDir served;
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("vqssend", "false");
        sandbox.setConfig("max_catalog_age", "1");
        const QString catalog = served.path() + "/catalog.xml";
        QVERIFY(writeCatalog(catalog, {package("新版", "cv-new-1-1")}));
        CatalogServerProcess server;
        QVERIFY(server.start(
            {"--files", served.path(), "--catalog", catalog, "--frame-validity", validity}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        const qint64 started = receiver.thread().lastFreshFrame();
        QVERIFY(started > 0);
        CatalogFreshness freshness([&] { return receiver.thread().lastFreshFrame(); });
        QSignalSpy said(&freshness, &CatalogFreshness::staleChanged);
        // Checked here rather than on its timer, so that no check falls between the steps.
        QTRY_VERIFY_WITH_TIMEOUT((freshness.check(), said.size() == 1), 30000);
        QCOMPARE(said.first().first().toBool(), true);
        freshness.check();
        QCOMPARE(said.size(), 1);
        if (fresh == QLatin1String("heartbeat")) {
            QCOMPARE(server.command("heartbeat"), QStringLiteral("ok heartbeat 0"));
            for (const QString &line : readLines(served.path() + "/.cv_data/push_x86_64"))
                QCOMPARE(vqs_message_send("127.0.0.1", line.toUtf8().constData()), 0);
        } else {
            CatalogRequest::send();
        }
        QVERIFY(receiver.drain("done"));
        // Whatever time the frame took: still too old from the start, fresh from the frame on.
        const qint64 sinceStart = QDateTime::currentSecsSinceEpoch() - started;
        QVERIFY(sinceStart >= 2);
        sandbox.setConfig("max_catalog_age", QString::number(sinceStart - 1));
        freshness.check();
        QCOMPARE(said.size(), clears ? 2 : 1);
        QCOMPARE(freshness.isStale(), !clears);
        // A heartbeat stores nothing and redraws nothing.
        QVERIFY(receiver.recorder.frames.filter("heartbeat").isEmpty());
        QCOMPARE(names(),
                 fresh == QLatin1String("heartbeat") ? QStringList() : QStringList{"新版"});
    }

    // A catalog file past its bound is cut while it downloads and nothing of it applies; a
    // line longer than any frame is skipped without being held whole.
    void oversizeFilesApplyNothing_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("bound"); // client-config max_catalog_file
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("said");
        const QByteArray first =
            frame("data_resp", "x86_64", {package("甲", "cv-a-1-1")}).toUtf8() + '\n';
        QTest::newRow("catalog file past its bound")
            << first + QByteArray(8192, 'x') + '\n'
            << "4096" << QStringList() << "download removed: larger than its bound";
        QTest::newRow("a line longer than a frame")
            << QByteArray(VQS_MAX_MESSAGE + 100, 'x') + '\n' + first << "" << QStringList{"甲"}
            << "frame skipped: a line of .* longer than";
    }

    void oversizeFilesApplyNothing()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, bound);
        QFETCH(QStringList, stored);
        QFETCH(QString, said);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && sandbox.install(Hello10), qPrintable(sandbox.errorString()));
        QTemporaryDir served;
        QVERIFY(writeFile(served.path() + "/.cv_data/data_x86_64", file));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("vqssend", "false");
        if (!bound.isEmpty())
            sandbox.setConfig("max_catalog_file", bound);
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(said));
        CatalogRequest::send();
        QVERIFY(receiver.drain("done"));
        QCOMPARE(names(), stored);
        if (!bound.isEmpty())
            QVERIFY(!QFileInfo::exists(Paths::catalogDataFile()));
    }

    // A frame that could not be stored is taken when it comes again: its sequence is
    // committed with its rows, not before.
    void failedStoreBurnsNoFrame_data()
    {
        QTest::addColumn<bool>("asReader");
        QTest::newRow("commit refused (a reader holds the database)") << true;
        QTest::newRow("database locked") << false;
    }

    void failedStoreBurnsNoFrame()
    {
        QFETCH(bool, asReader);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        const QByteArray text = TestKey::catalog().seal(push("data_add_push", "真一").toUtf8());
        {
            DatabaseLock lock(Paths::catalogDatabase(), asReader ? DatabaseLock::Hold::AsReader
                                                                 : DatabaseLock::Hold::Writers);
            QVERIFY(lock.isLocked());
            QCOMPARE(vqs_message_send("127.0.0.1", text.constData()), 0);
            QVERIFY(receiver.drain("failed"));
        }
        QCOMPARE(names(), QStringList());
        QCOMPARE(vqs_message_send("127.0.0.1", text.constData()), 0);
        QVERIFY(receiver.drain("sent again"));
        QCOMPARE(names(), QStringList{"真一"});
        // Once stored, the same frame is a replay.
        QCOMPARE(vqs_message_send("127.0.0.1", text.constData()), 0);
        QVERIFY(receiver.drain("replayed"));
        QCOMPARE(receiver.recorder.dropped.filter("真一").size(), asReader ? 1 : 2);
    }

    // Anyone can reach the store's port: the stop word ends the receiver only when this
    // process sent it.
    void stopWordFromOutsideIsDropped()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(setUp(sandbox), qPrintable(sandbox.errorString()));
        CatalogServerProcess server;
        QVERIFY(server.start({}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        QCOMPARE(server.command("send 127.0.0.1 process-run-end"), QStringLiteral("ok send"));
        QTRY_VERIFY_WITH_TIMEOUT(receiver.recorder.dropped.contains("process-run-end"), 30000);
        QVERIFY(receiver.isRunning());
        QVERIFY(receiver.stop());
    }
};

QTEST_GUILESS_MAIN(TestSyncAuthentic)
#include "tst_syncauthentic.moc"
