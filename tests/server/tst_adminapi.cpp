#include "server/api/apiserver.h"
#include "server/fleet/fleetaudit.h"
#include "server/rollout/rolloutbook.h"
#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

const int Long = 60000;

struct Reply {
    int status = 0; // 0: no HTTP answer at all
    QByteArray body;
    QByteArray headers;
    QByteArray what; // for a failure's message
};

// A running catalog server with its API over TLS on loopback (a key and certificate made
// here), a fleet database holding two pilot rollouts, and tokens of every kind.
struct Service {
    Sandbox sandbox;
    QTemporaryDir dir;
    QString fleet = dir.filePath("fleet.db");
    QString certificate = dir.filePath("cert.pem");
    CatalogServerProcess process;
    QString base;
    QHash<QString, QString> tokens;

    bool start(const QStringList &extra = {})
    {
        useLoopbackTransport();
        QProcess openssl;
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                       "-nodes", "-keyout", dir.filePath("key.pem"), "-out", certificate, "-days",
                       "1", "-subj", "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1"});
        if (!openssl.waitForFinished(Long) || openssl.exitCode() != 0)
            return false;
        RolloutPolicy policy;
        QString error;
        RolloutPolicy::parse("pilot", "2d", "3", &policy, &error);
        {
            RolloutBook book(
                policy, {"pilot", "finance"},
                [](const QString &, const QString &) { return QStringLiteral("default"); },
                [](bool, const QString &) {});
            if (!book.open(fleet, &error))
                return false;
            const qint64 now = QDateTime::currentSecsSinceEpoch();
            book.observe({{"cv-hello", "1.0-1"}, {"cv-tool", "1.0-1"}}, now);
            book.observe({{"cv-hello", "1.1-1"}, {"cv-tool", "1.1-1"}}, now);
        }
        const QStringList kinds{"viewer viewer pilot",      "operator operator pilot",
                                "finance operator finance", "admin admin *",
                                "hasty viewer pilot",       "revoked viewer pilot",
                                "expired viewer pilot"};
        for (const QString &kind : kinds) {
            const QStringList words = kind.split(' ');
            tokens[words[0]] = subcommand({"token", "add", words[0], words[1], words[2]}).trimmed();
        }
        tokens["forged"] = "cvt_" + QString(64, '0');
        subcommand({"token", "revoke", "revoked"});
        rowsOf(QFile::encodeName(fleet),
               "UPDATE api_tokens SET expires = 1 WHERE name = 'expired'");
        if (!process.start(QStringList{"--fleet-db", fleet, "--rollout-pilot", "pilot",
                                       "--desktop-group", "pilot 10.1.0.0/16", "--desktop-group",
                                       "finance 10.2.0.0/16", "--api-listen", "127.0.0.1:0",
                                       "--api-certificate", certificate, "--api-key",
                                       dir.filePath("key.pem")} +
                           extra))
            return false;
        const QString line =
            process.waitForLine(QRegularExpression("api listening on https://127.0.0.1:\\d+"));
        base = line.mid(line.indexOf("https://")).trimmed();
        return !line.isEmpty();
    }
    QString subcommand(const QStringList &arguments) const
    {
        QProcess command;
        command.start(CORVANE_CATALOG_SERVER, QStringList{"--fleet-db", fleet} + arguments);
        command.waitForFinished(Long);
        return QString::fromUtf8(command.readAllStandardOutput());
    }
    // One request with curl, the token (by its kind) in the Authorization header.
    Reply call(const QString &method, const QString &path, const QString &token,
               const QByteArray &body = {}, const QStringList &extra = {}) const
    {
        QStringList arguments{"-sS",  "--path-as-is", "--cacert", certificate,  "-X",
                              method, "-D",           "-",        "--max-time", "60"};
        if (!token.isEmpty())
            arguments << "-H"
                      << "Authorization: Bearer " + tokens.value(token);
        if (!body.isEmpty())
            arguments << "--data-binary"
                      << "@-";
        if (!body.isEmpty() && !extra.join(' ').contains("Content-Type"))
            arguments << "-H"
                      << "Content-Type: application/json";
        QProcess curl;
        curl.start("curl",
                   arguments + extra + QStringList{path.startsWith("http") ? path : base + path});
        curl.write(body);
        curl.closeWriteChannel();
        curl.waitForFinished(Long);
        QByteArray out = curl.readAllStandardOutput();
        // A large body waited for "100 Continue" first.
        while (out.startsWith("HTTP/1.1 100"))
            out = out.mid(out.indexOf("\r\n\r\n") + 4);
        const int end = out.indexOf("\r\n\r\n");
        Reply reply;
        reply.headers = out.left(end);
        reply.what = reply.headers + "\n" + out.mid(end + 4, 300);
        reply.body = end < 0 ? QByteArray() : out.mid(end + 4);
        reply.status = out.startsWith("HTTP/") ? out.mid(9, 3).toInt() : 0;
        return reply;
    }
    QStringList audit() const
    {
        return rowsOf(QFile::encodeName(fleet),
                      "SELECT who || ' ' || origin || ' ' || action || ' = ' || result FROM audit"
                      " ORDER BY id");
    }
    QString state(const QString &package) const
    {
        return rowsOf(QFile::encodeName(fleet),
                      qPrintable("SELECT state FROM rollouts WHERE package = '" + package + "'"))
            .value(0);
    }
};

QByteArray pushBody(const QString &directory)
{
    const QString path = directory + "/push.xml";
    CatalogFixture::writeCatalog(path, {CatalogFixture::package("One", "one-1-1")});
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QJsonDocument(QJsonObject{{"action", "data_update_push"},
                                     {"catalog", QString::fromUtf8(file.readAll())}})
        .toJson();
}

} // namespace

// The admin API against the real service over TLS: each role against each act and group,
// tokens revoked, expired and forged, the audit row of each change (and none of a read),
// hostile requests and clients, and the live page in chromium.
class TestAdminApi : public QObject
{
    Q_OBJECT

    std::unique_ptr<Service> m_service;

private slots:
    void initTestCase()
    {
        m_service = std::make_unique<Service>();
        QVERIFY2(m_service->sandbox.isValid(), qPrintable(m_service->sandbox.errorString()));
        QVERIFY(m_service->start());
    }
    void cleanupTestCase() { m_service.reset(); }

    void roles_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("audited"); // the row's start; empty: no row
        QTest::addColumn<QString>("state");   // cv-tool's rollout afterwards
        const QByteArray push = pushBody(m_service->dir.path());
        const QByteArray issue = R"({"name":"new","role":"viewer","groups":["pilot"]})";
        const QString tool = "/api/v1/rollouts/cv-tool/";
        QTest::newRow("viewer reads the summary") << "viewer"
                                                  << "GET"
                                                  << "/api/v1/summary" << QByteArray() << 200 << ""
                                                  << "pilot";
        QTest::newRow("viewer reads a desktop")
            << "viewer"
            << "GET"
            << "/api/v1/desktops/10.1.0.5" << QByteArray() << 200 << ""
            << "pilot";
        QTest::newRow("a desktop of another group")
            << "viewer"
            << "GET"
            << "/api/v1/desktops/10.2.0.5" << QByteArray() << 403 << ""
            << "pilot";
        QTest::newRow("viewer reads the groups") << "viewer"
                                                 << "GET"
                                                 << "/api/v1/groups" << QByteArray() << 200 << ""
                                                 << "pilot";
        for (const char *kind : {"", "forged", "revoked", "expired"})
            QTest::addRow("token: %s", *kind ? kind : "none")
                << kind << "POST" << tool + "halt" << QByteArray() << 401 << ""
                << "pilot";
        QTest::newRow("viewer may not act")
            << "viewer"
            << "POST" << tool + "halt" << QByteArray() << 403 << "viewer 127.0.0.1 POST "
            << "pilot";
        QTest::newRow("another group's operator")
            << "finance"
            << "POST" << tool + "halt" << QByteArray() << 403
            << "finance 127.0.0.1 POST /api/v1/rollouts/cv-tool/halt = refused"
            << "pilot";
        QTest::newRow("a push beyond the operator's groups")
            << "operator"
            << "POST"
            << "/api/v1/groups/finance/push" << push << 403
            << "operator 127.0.0.1 POST /api/v1/groups/finance/push = refused"
            << "pilot";
        QTest::newRow("operator halts its pilot's rollout")
            << "operator"
            << "POST" << tool + "halt" << QByteArray() << 200
            << "operator 127.0.0.1 halt cv-tool = ok halt"
            << "halted";
        QTest::newRow("operator resumes it") << "operator"
                                             << "POST" << tool + "resume" << QByteArray() << 200
                                             << "operator 127.0.0.1 resume cv-tool = ok"
                                             << "resumed";
        QTest::newRow("an act the state refuses") << "operator"
                                                  << "POST" << tool + "halt" << QByteArray() << 409
                                                  << "operator 127.0.0.1 halt cv-tool = error"
                                                  << "resumed";
        QTest::newRow("operator pushes to its group") << "operator"
                                                      << "POST"
                                                      << "/api/v1/groups/pilot/push" << push << 200
                                                      << "operator 127.0.0.1 push data_update_push "
                                                      << "resumed";
        QTest::newRow("a re-read reaches every group")
            << "operator"
            << "POST"
            << "/api/v1/repository/reread" << QByteArray() << 403
            << "operator 127.0.0.1 POST /api/v1/repository/reread = refused"
            << "resumed";
        QTest::newRow("operator may not list tokens")
            << "operator"
            << "GET"
            << "/api/v1/tokens" << QByteArray() << 403 << ""
            << "resumed";
        QTest::newRow("operator may not issue tokens")
            << "operator"
            << "POST"
            << "/api/v1/tokens" << issue << 403
            << "operator 127.0.0.1 POST /api/v1/tokens = refused"
            << "resumed";
        QTest::newRow("admin issues a token")
            << "admin"
            << "POST"
            << "/api/v1/tokens" << issue << 201 << "admin 127.0.0.1 token add new viewer pilot = ok"
            << "resumed";
        QTest::newRow("admin revokes it") << "admin"
                                          << "DELETE"
                                          << "/api/v1/tokens/new" << QByteArray() << 200
                                          << "admin 127.0.0.1 token revoke new = ok"
                                          << "resumed";
        QTest::newRow("admin lists tokens") << "admin"
                                            << "GET"
                                            << "/api/v1/tokens" << QByteArray() << 200 << ""
                                            << "resumed";
    }
    // Rows run in order on one service: each act leaves the state the next one starts from.
    void roles()
    {
        QFETCH(QString, token);
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QString, audited);
        QFETCH(QString, state);
        const QStringList before = m_service->audit();
        const Reply reply = m_service->call(method, path, token, body);
        QVERIFY2(reply.status == status, reply.what.constData());
        QVERIFY(reply.headers.contains("Content-Type: application/json"));
        const QStringList added = m_service->audit().mid(before.size());
        QCOMPARE(added.size(), audited.isEmpty() ? 0 : 1);
        if (!audited.isEmpty())
            QVERIFY2(added[0].startsWith(audited), qPrintable(added[0]));
        QCOMPARE(m_service->state("cv-tool"), state);
        // A token is never shown again, nor kept but as its digest.
        for (const QString &issued : m_service->tokens)
            QVERIFY(!m_service->audit().join('\n').contains(issued));
    }

    // An operator of pilot promotes pilot's rollout and is refused a push to default: both in
    // the audit log.
    void pilotOperatorPromotes()
    {
        const int rows = m_service->audit().size();
        const Reply promoted =
            m_service->call("POST", "/api/v1/rollouts/cv-hello/promote", "operator");
        QVERIFY2(promoted.status == 200, promoted.what.constData());
        QVERIFY(promoted.body.contains("ok promote cv-hello 1.1-1"));
        const Reply refused = m_service->call("POST", "/api/v1/groups/default/push", "operator",
                                              pushBody(m_service->dir.path()));
        QCOMPARE(refused.status, 403);
        QCOMPARE(m_service->audit().mid(rows),
                 (QStringList{"operator 127.0.0.1 promote cv-hello = ok promote cv-hello 1.1-1: "
                              "every group gets it",
                              "operator 127.0.0.1 POST /api/v1/groups/default/push = refused: "
                              "group default is beyond this token's groups"}));
        QCOMPARE(m_service->state("cv-hello"), QStringLiteral("promoted"));
        const Reply log = m_service->call("GET", "/api/v1/audit", "viewer");
        QVERIFY(log.body.contains("\"action\": \"promote cv-hello\""));
    }

    // The console and the sub-commands write their rows as the account running them.
    void consoleAndSubcommandsAreAudited()
    {
        const QString account = FleetAudit::Actor::local("console").who;
        const int rows = m_service->audit().size();
        // The API's answers share the console's output: each line's own answer is its row.
        m_service->process.command("halt cv-none");
        QTRY_COMPARE_WITH_TIMEOUT(m_service->audit().size(), rows + 1, Long);
        QCOMPARE(m_service->subcommand({"promote", "cv-none"}).trimmed(),
                 QStringLiteral("error promote cv-none: no rollout of it under way"));
        m_service->process.command("heartbeat");
        QTRY_COMPARE_WITH_TIMEOUT(m_service->audit().size(), rows + 3, Long);
        const QStringList added = m_service->audit().mid(rows);
        QCOMPARE(added[0], account + " console halt cv-none = error halt cv-none: no rollout of "
                                     "it under way");
        QVERIFY(added[1].startsWith(account + " command line promote cv-none = error"));
        QVERIFY(added[2].startsWith(account + " console heartbeat = ok heartbeat"));
        QVERIFY(
            m_service->subcommand({"report", "audit"}).contains("command line  promote cv-none"));
    }

    void hostile_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("extra"); // curl's arguments
        QTest::addColumn<int>("status");
        const QByteArray issue = R"({"name":"x","role":"admin","groups":["*"]})";
        QTest::newRow("a body over the bound")
            << "admin"
            << "POST"
            << "/api/v1/tokens" << issue + QByteArray(ApiServer::MaxBodyBytes, ' ') << QStringList()
            << 413;
        QTest::newRow("headers over the bound")
            << "admin"
            << "GET"
            << "/api/v1/tokens" << QByteArray()
            << QStringList{"-H", "X-Pad: " + QString(ApiServer::MaxHeaderBytes, 'x')} << 431;
        QTest::newRow("a path climbing out")
            << "viewer"
            << "GET"
            << "/api/v1/desktops/../tokens" << QByteArray() << QStringList() << 400;
        QTest::newRow("an encoded slash")
            << "viewer"
            << "GET"
            << "/api/v1/desktops/..%2Ftokens" << QByteArray() << QStringList() << 400;
        QTest::newRow("an empty segment")
            << "viewer"
            << "GET"
            << "/api/v1//summary" << QByteArray() << QStringList() << 400;
        QTest::newRow("bad JSON") << "admin"
                                  << "POST"
                                  << "/api/v1/tokens" << QByteArray("{\"name\":") << QStringList()
                                  << 400;
        QTest::newRow("not JSON") << "admin"
                                  << "POST"
                                  << "/api/v1/tokens" << issue
                                  << QStringList{"-H", "Content-Type: text/plain"} << 415;
        QTest::newRow("a token in the URL") << ""
                                            << "GET"
                                            << "/api/v1/summary?token=" + m_service->tokens["admin"]
                                            << QByteArray() << QStringList() << 400;
        QTest::newRow("plain HTTP on the TLS port")
            << "admin"
            << "GET" << QString(m_service->base).replace("https:", "http:") + "/api/v1/tokens"
            << QByteArray() << QStringList() << 0;
        QTest::newRow("an unknown method")
            << "admin"
            << "PUT"
            << "/api/v1/tokens" << QByteArray() << QStringList() << 405;
    }
    // Each refused, and nothing issued.
    void hostile()
    {
        QFETCH(QString, token);
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(QStringList, extra);
        QFETCH(int, status);
        const int rows = m_service->audit().size();
        const Reply reply = m_service->call(method, path, token, body, extra);
        QVERIFY2(reply.status == status, reply.what.constData());
        QCOMPARE(m_service->audit().size(), rows);
    }

    // A token's calls past its rate are refused until its bucket fills again.
    void callsPerSecond()
    {
        QStringList arguments{"-sS",
                              "--cacert",
                              m_service->certificate,
                              "-o",
                              "/dev/null",
                              "-w",
                              "%{http_code}\\n",
                              "-H",
                              "Authorization: Bearer " + m_service->tokens["hasty"]};
        for (int i = 0; i < 200; ++i)
            arguments << m_service->base + "/api/v1/groups";
        QProcess curl;
        curl.start("curl", arguments);
        QVERIFY(curl.waitForFinished(Long));
        const QByteArray codes = curl.readAllStandardOutput();
        QVERIFY2(codes.startsWith("200\n") && codes.contains("429"), codes.left(100).constData());
    }

    // A client that stops half way through its headers is cut off; so is one address's
    // connection past its bound, while the others stay open.
    void slowAndGreedyClients()
    {
        const QUrl url(m_service->base);
        QTcpSocket slow;
        slow.connectToHost("127.0.0.1", quint16(url.port()));
        QVERIFY(slow.waitForConnected(Long));
        slow.write(QByteArray("\x16\x03\x01", 3)); // a TLS record begun, never ended
        QVERIFY(slow.waitForDisconnected(4 * ApiServer::IdleSeconds * 1000));
        std::vector<std::unique_ptr<QTcpSocket>> greedy;
        for (int i = 0; i < 17; ++i) {
            greedy.push_back(std::make_unique<QTcpSocket>());
            greedy.back()->connectToHost("127.0.0.1", quint16(url.port()));
            QVERIFY(greedy.back()->waitForConnected(Long));
        }
        QVERIFY(greedy.back()->waitForDisconnected(Long));
        QCOMPARE(greedy.front()->state(), QAbstractSocket::ConnectedState);
    }

    // The live page in chromium with a viewer's token (as the browser asks for it), under a
    // Content-Security-Policy nothing on it breaks; without a token the browser is asked.
    void statusPage()
    {
        const QString chromium = QStandardPaths::findExecutable("chromium");
        if (chromium.isEmpty())
            QSKIP("no chromium");
        const Reply asked = m_service->call("GET", "/status", "");
        QCOMPARE(asked.status, 401);
        QVERIFY(asked.headers.contains("WWW-Authenticate: Basic"));
        const Reply page = m_service->call("GET", "/status/rollouts/cv-hello", "viewer");
        QCOMPARE(page.status, 200);
        QVERIFY(page.headers.contains("Content-Security-Policy: default-src 'none'; style-src "
                                      "'sha256-"));
        QUrl url(m_service->base + "/status");
        url.setUserName("viewer");
        url.setPassword(m_service->tokens["viewer"]);
        QProcess browser;
        browser.start(chromium, {"--headless", "--no-sandbox", "--disable-gpu",
                                 "--ignore-certificate-errors", "--enable-logging=stderr",
                                 "--user-data-dir=" + m_service->dir.filePath("chromium"),
                                 "--dump-dom", url.toString()});
        QVERIFY(browser.waitForFinished(Long));
        const QByteArray dom = browser.readAllStandardOutput();
        QVERIFY2(dom.contains("<h1>fleet</h1>") &&
                     dom.contains("<a href=\"/status/rollouts/cv-hello\">cv-hello</a>"),
                 dom.left(300).constData());
        QVERIFY(!browser.readAllStandardError().contains("Content Security Policy"));
    }

    // Only the retention removes rows, and only those past it.
    void retention()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("fleet.db");
        FleetAudit audit;
        QString error;
        QVERIFY2(audit.open(path, 2, &error), qPrintable(error));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QVERIFY(rowsOf(QFile::encodeName(path),
                       qPrintable(QString("INSERT INTO audit(time, who) VALUES(%1, 'old'), (%2, "
                                          "'kept')")
                                      .arg(now - 3 * 86400)
                                      .arg(now - 86400 - 60)))
                    .isEmpty());
        QVERIFY(audit.record({"li", "console"}, "quit", "ok quit"));
        QCOMPARE(rowsOf(QFile::encodeName(path), "SELECT who FROM audit ORDER BY id"),
                 (QStringList{"kept", "li"}));
    }
};

QTEST_GUILESS_MAIN(TestAdminApi)
#include "tst_adminapi.moc"
