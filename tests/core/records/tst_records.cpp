#include "records/category.h"
#include "records/clientconfig.h"
#include "records/legacyconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "records/version.h"
#include "tests/support/sandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void compareVersions_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("expected");
        QTest::newRow("numeric parts") << "1.10"
                                       << "1.9" << -1;
        QTest::newRow("longer installed") << "1.2.1"
                                          << "1.2" << -1;
        QTest::newRow("shorter installed is equal") << "1.2"
                                                    << "1.2.1" << 0;
        QTest::newRow("text part") << "1.2a"
                                   << "1.10" << -1;
        QTest::newRow("both empty") << ""
                                    << "" << 0;
        QTest::newRow("older") << "2"
                               << "10" << 1;
        QTest::newRow("letters") << "b"
                                 << "a" << -1;
        QTest::newRow("letters older") << "a"
                                       << "b" << 1;
        QTest::newRow("trailing zero part") << "1.0"
                                            << "1.0.0" << 0;
        QTest::newRow("extra zero part") << "1.0.0"
                                         << "1.0" << -1;
        QTest::newRow("number against text") << "3"
                                             << "x" << -1;
        QTest::newRow("equal") << "4.18.0"
                               << "4.18.0" << 0;
        QTest::newRow("update available") << "1.0"
                                          << "1.1" << 1;
        QTest::newRow("prefix is smaller") << "abc"
                                           << "abcd" << 1;
        QTest::newRow("empty part") << "1..2"
                                    << "1.0.3" << 1;
    }
    void compareVersions()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, expected);
        QCOMPARE(compareversion(a, b), expected);
    }

    void splitPackage_data()
    {
        QTest::addColumn<QString>("package");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("release");
        QTest::newRow("dashed name") << "foo-bar-1.2.0-3.x86_64"
                                     << "foo-bar"
                                     << "1.2.0"
                                     << "3.x86_64";
        QTest::newRow("plain") << "my-tool-2.1-3.x86_64"
                               << "my-tool"
                               << "2.1"
                               << "3.x86_64";
        QTest::newRow("no dash") << "abc"
                                 << ""
                                 << ""
                                 << "";
        QTest::newRow("one dash") << "a-1"
                                  << ""
                                  << "a"
                                  << "1";
        QTest::newRow("empty parts kept") << "a--1"
                                          << "a"
                                          << ""
                                          << "1";
        QTest::newRow("empty") << ""
                               << ""
                               << ""
                               << "";
    }
    void splitPackage()
    {
        QFETCH(QString, package);
        const RpmInfo info = splitPackageString(package);
        QTEST(info.m_name, "name");
        QTEST(info.m_version, "version");
        QTEST(info.m_release, "release");
    }

    void isNumeric_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << QByteArray("") << 1;
        QTest::newRow("digits") << QByteArray("0123456789") << 1;
        QTest::newRow("trailing letter") << QByteArray("12a") << 0;
        QTest::newRow("sign") << QByteArray("-1") << 0;
        QTest::newRow("space") << QByteArray("1 ") << 0;
        QTest::newRow("high byte") << QByteArray("\xd9\xa3") << 0;
    }
    void isNumeric()
    {
        QFETCH(QByteArray, text);
        QTEST(IsNumeric(text.constData()), "expected");
    }

    void readConfig_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("spaces around") << QByteArray("database=  mydb  extra\n")
                                       << QByteArray("database") << QByteArray("mydb");
        QTest::newRow("longer key does not match")
            << QByteArray("databases=x\n") << QByteArray("database") << QByteArray("");
        QTest::newRow("blank before equals")
            << QByteArray("username   = alice\n") << QByteArray("username") << QByteArray("alice");
        QTest::newRow("tab ends value")
            << QByteArray("password=se\tcret\n") << QByteArray("password") << QByteArray("se");
        QTest::newRow("empty value skipped") << QByteArray("database=\ndatabase=second\n")
                                             << QByteArray("database") << QByteArray("second");
        QTest::newRow("key not at line start")
            << QByteArray(" database=x\n") << QByteArray("database") << QByteArray("");
        QTest::newRow("first match wins")
            << QByteArray("a=1\na=2\n") << QByteArray("a") << QByteArray("1");
        QTest::newRow("no line end")
            << QByteArray("a=last") << QByteArray("a") << QByteArray("last");
    }
    void readConfig()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, key);
        QTemporaryDir dir;
        QByteArray path = (dir.path() + "/database.conf").toUtf8();
        QFile file(QString::fromUtf8(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        char *value = nullptr;
        QCOMPARE(read_config(key.constData(), path.data(), &value), 0);
        QVERIFY(value);
        QTEST(QByteArray(value), "expected");
        std::free(value);
    }

    void readConfigMissingFile()
    {
        char sentinel[] = "untouched";
        char *value = sentinel;
        char path[] = "/nonexistent/doc/database.conf";
        QCOMPARE(read_config("database", path, &value), -1);
        QCOMPARE(value, sentinel);
    }

    void clientConfigIsReadAtEveryUse()
    {
        Sandbox sandbox;
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        sandbox.setConfig("pkgpath", "/data/pkgs");
        QCOMPARE(ClientConfig::pkgpath(), QString("/data/pkgs"));
        sandbox.setConfig("pkgpath", "/other");
        QCOMPARE(ClientConfig::pkgpath(), QString("/other"));
        sandbox.removeConfig("refresh");
        QVERIFY(ClientConfig::refresh().isEmpty());
        QCOMPARE(ClientConfig::refresh().toInt(), 0);
        QFile::remove(Paths::configFile());
        QVERIFY(ClientConfig::pkgpath().isEmpty());
    }

    void pathsFollowTheRoot()
    {
        qputenv("CORVANE_ROOT", "/srv/sandbox");
        QCOMPARE(Paths::catalogDatabase(),
                 QString("/srv/sandbox/opt/corvane/db/server_software.db"));
        QCOMPARE(Paths::installedListFile(), QString("/srv/sandbox/tmp/info.txt"));
        qunsetenv("CORVANE_ROOT");
        QCOMPARE(Paths::configFile(), QString("/opt/corvane/doc/client-config.ini"));
        QCOMPARE(Paths::iconDirectory(), QString("/opt/corvane/icons/"));
        QCOMPARE(Paths::dataDirectory(), QString("/tmp/.cv_data/"));
    }

    void categories()
    {
        QCOMPARE(Category::name(1), QString("办公应用"));
        QCOMPARE(Category::name(6), QString("视频应用"));
        QCOMPARE(Category::name(13), QString("其他应用"));
        QVERIFY(Category::name(0).isEmpty());
        QVERIFY(Category::name(14).isEmpty());
        for (int code = 1; code <= Category::Count; ++code)
            QCOMPARE(Category::code(Category::name(code)), code);
        QCOMPARE(Category::code("全部软件"), 0);
    }

    void shellQuoting_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("package string") << "foo-bar-1.2-3.x86_64"
                                        << "foo-bar-1.2-3.x86_64";
        QTest::newRow("path") << "/opt/pkgs/a_b+c"
                              << "/opt/pkgs/a_b+c";
        QTest::newRow("url") << "http://h:80/x=1,y@z%20"
                             << "http://h:80/x=1,y@z%20";
        QTest::newRow("empty") << ""
                               << "''";
        QTest::newRow("space") << "a b"
                               << "'a b'";
        QTest::newRow("injection") << "'; rm -rf / #"
                                   << "''\\''; rm -rf / #'";
        QTest::newRow("command substitution") << "$(id)"
                                              << "'$(id)'";
        QTest::newRow("backticks") << "`id`"
                                   << "'`id`'";
        QTest::newRow("newline") << "a\nb"
                                 << "'a\nb'";
        QTest::newRow("glob") << "a*"
                              << "'a*'";
        QTest::newRow("chinese") << "播放器"
                                 << "'播放器'";
    }
    void shellQuoting()
    {
        QFETCH(QString, value);
        QTEST(Quoting::shell(value), "expected");
    }

    // The quoted text must reach a program as the one argument it was, whatever it holds.
    void shellQuotingRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("injection") << "'; touch pwned #";
        QTest::newRow("substitution") << "$(touch pwned)";
        QTest::newRow("backticks") << "`touch pwned`";
        QTest::newRow("newline") << "x\ntouch pwned";
        QTest::newRow("quotes") << "it's \"quoted\" \\ ";
        QTest::newRow("empty") << "";
    }
    void shellQuotingRoundTrip()
    {
        QFETCH(QString, value);
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()));
        const QString command = "printf '%s' " + Quoting::shell(value) + " > out";
        QCOMPARE(std::system(command.toUtf8().constData()), 0);
        QFile out(dir.path() + "/out");
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(out.readAll()), value);
        QVERIFY(!QFile::exists(dir.path() + "/pwned"));
    }

    void sqlLiteral_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "abc"
                               << "abc";
        QTest::newRow("apostrophe") << "it's"
                                    << "it''s";
        QTest::newRow("injection") << "x'; drop table softwares; --"
                                   << "x''; drop table softwares; --";
        QTest::newRow("two") << "''"
                             << "''''";
    }
    void sqlLiteral()
    {
        QFETCH(QString, value);
        QTEST(Quoting::sqlLiteral(value), "expected");
    }

    void pathComponent_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("safe");
        QTest::newRow("key") << "cv-hello" << true;
        QTest::newRow("package string") << "cv-hello-1.0-1.x86_64" << true;
        QTest::newRow("hidden file") << ".hidden" << true;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("dot") << "." << false;
        QTest::newRow("dotdot") << ".." << false;
        QTest::newRow("slash") << "a/b" << false;
        QTest::newRow("climb") << "../../x" << false;
        QTest::newRow("option") << "-rf" << false;
        QTest::newRow("absolute") << "/etc" << false;
    }
    void pathComponent()
    {
        QFETCH(QString, value);
        QTEST(Quoting::isSafePathComponent(value), "safe");
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
