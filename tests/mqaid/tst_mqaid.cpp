#include <QProcess>
#include <QTest>

class TestMqaid : public QObject
{
    Q_OBJECT

private slots:
    void diagnostics_data()
    {
        QTest::addColumn<QString>("probe");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");

        QTest::newRow("zero rows collapse")
            << "dump-49" << 0
            << QByteArray("          .. .. .. .. .. .. .. .. : .. .. .. .. .. .. .. ..\n"
                          "00000030: 41                      :                          A\n"
                          "00000031:\n")
            << QByteArray();
        QTest::newRow("one full row")
            << "dump-16" << 0
            << QByteArray(
                   "00000000: 30 31 32 33 34 35 36 37 : 38 39 61 62 63 64 65 66  0123456789abcdef\n"
                   "00000010:\n")
            << QByteArray();
        QTest::newRow("empty buffer")
            << "dump-empty" << 0 << QByteArray("00000000:\n") << QByteArray();
        QTest::newRow("unprintable bytes")
            << "dump-20" << 0
            << QByteArray(
                   "00000000: 48 65 6C 6C 6F 2C 20 41 : 4D 51 50 21 0A 09 01 7F  Hello, AMQP!....\n"
                   "00000010: 80 FF 78 79             :                          ..xy\n"
                   "00000014:\n")
            << QByteArray();
        QTest::newRow("repeated rows")
            << "dump-repeat" << 0
            << QByteArray(
                   "00000000: 61 61 61 61 61 61 61 61 : 61 61 61 61 61 61 61 61  aaaaaaaaaaaaaaaa\n"
                   "          .. .. .. .. .. .. .. .. : .. .. .. .. .. .. .. ..\n"
                   "00000030: 62 62 62 62 62 62 62 62 : 62 62 62 62 62 62 62 62  bbbbbbbbbbbbbbbb\n"
                   "00000040:\n")
            << QByteArray();
        QTest::newRow("die") << "die" << 1 << QByteArray() << QByteArray("fatal 42 here\n");
        QTest::newRow("status not negative")
            << "error-ok" << 0 << QByteArray("returned\n") << QByteArray();
        QTest::newRow("status negative") << "error-fail" << 1 << QByteArray()
                                         << QByteArray("opening: could not allocate memory\n");
        QTest::newRow("normal reply")
            << "reply-normal" << 0 << QByteArray("returned\n") << QByteArray();
        QTest::newRow("no reply") << "reply-none" << 1 << QByteArray()
                                  << QByteArray("login: missing RPC reply type!\n");
        QTest::newRow("library exception") << "reply-library" << 1 << QByteArray()
                                           << QByteArray("consume: a socket error occurred\n");
        QTest::newRow("connection close")
            << "reply-connection" << 1 << QByteArray()
            << QByteArray("Opening channel: server connection error 320, message: "
                          "CONNECTION_FORCED - broker forced connection closure\n");
        QTest::newRow("channel close")
            << "reply-channel" << 1 << QByteArray()
            << QByteArray(
                   "Declaring queue: server channel error 404, message: NOT_FOUND - no queue\n");
        QTest::newRow("unknown method")
            << "reply-unknown" << 1 << QByteArray()
            << QByteArray("ack: unknown server error, method id 0x003C0050\n");
        QTest::newRow("unknown reply type") << "reply-other" << 1 << QByteArray() << QByteArray();
    }

    void diagnostics()
    {
        QFETCH(QString, probe);
        QProcess process;
        process.start(QStringLiteral(MQAID_PROBE), {probe});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QTEST(process.exitCode(), "exitCode");
        QTEST(process.readAllStandardOutput(), "out");
        QTEST(process.readAllStandardError(), "err");
    }
};

QTEST_GUILESS_MAIN(TestMqaid)
#include "tst_mqaid.moc"
