#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "sync/catalogrequest.h"
#include "sync/getvqsdatathread.h"
#include "tests/support/brokernode.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

// An installed package: an empty RPM database sends the receiver into its endless repair.
const TestPackage Hello10{QStringLiteral("cv-hello"), QStringLiteral("1.0"), QStringLiteral("1")};

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
        "openssl req -newkey rsa:2048 -nodes -subj /CN=localhost -keyout server.key -out server.csr; "
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
        QTest::addColumn<QByteArray>("onDisk"); // an icon kept from before, same time stamp
        QTest::addColumn<QString>("https");     // "", "trusted CA", "unknown CA"
        QTest::addColumn<QByteArray>("kept");
        const QByteArray a = "picture A", b = "picture B", altered = "picture a";
        QTest::newRow("matching") << true << a << a << QByteArray() << "" << a;
        QTest::newRow("one byte altered") << true << a << altered << QByteArray() << "" << QByteArray();
        QTest::newRow("another picture") << true << a << b << QByteArray() << "" << QByteArray();
        QTest::newRow("no digest signed") << true << QByteArray() << a << QByteArray() << "" << QByteArray();
        QTest::newRow("other picture on disk") << true << a << a << b << "" << a;
        QTest::newRow("no key, altered") << false << a << altered << QByteArray() << "" << altered;
        QTest::newRow("https, CA trusted") << true << a << a << QByteArray() << "trusted CA" << a;
        QTest::newRow("https, CA unknown") << true << a << a << QByteArray() << "unknown CA" << QByteArray();
    }

    void signedIcons()
    {
        QFETCH(bool, trusted);
        QFETCH(QByteArray, signedPicture);
        QFETCH(QByteArray, served);
        QFETCH(QByteArray, onDisk);
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
        const QString icon = Paths::iconDirectory() + "cv-icon.png";
        if (!onDisk.isEmpty()) {
            QVERIFY(writeFile(icon, onDisk));
            QVERIFY(insertRow({{"s_name", "图标"}, {"s_icon", "cv-icon.png"}, {"time", "t1"}}));
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
        qunsetenv("WGETRC");
        QCOMPARE(names(), QStringList{"图标"});
        QCOMPARE(QFileInfo::exists(icon), !kept.isEmpty());
        if (!kept.isEmpty())
            QCOMPARE(readFile(icon), kept);
        QCOMPARE(QDir(Paths::iconDirectory()).entryList(QDir::Files).filter("~"), QStringList());
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
