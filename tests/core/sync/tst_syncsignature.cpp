#include "catalogfixture.h"
#include "records/paths.h"
#include "sync/catalogframe.h"
#include "sync/catalogwriter.h"
#include "sync/framegate.h"
#include "sync/framesignature.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

using Verdict = FrameGate::Verdict;
using Tamper = std::function<QByteArray(QByteArray)>;

const QByteArray Push = "<frame action='data_add_push'><datas architecture='x86_64'>"
                        "<app name='编辑器' rpm='cv-edit-1.0-1' exec='cv-edit'/></datas></frame>";

FrameGate gate()
{
    return FrameGate(Paths::trustedKeyDirectory(), Paths::catalogDatabase(),
                     Paths::frameSequenceFile());
}

// The frame as the receiver takes it: admitted, then its sequence committed as its rows are.
Verdict take(FrameGate &gate, const QByteArray &text)
{
    const Verdict verdict = gate.admit(text);
    if (gate.acceptedSequence() != 0 && !CatalogWriter().storeSequence(gate.acceptedSequence()))
        return Verdict::Unchecked;
    return verdict;
}

QByteArray replaced(QByteArray text, const QByteArray &from, const QByteArray &to)
{
    return text.replace(from, to);
}

} // namespace

Q_DECLARE_METATYPE(Tamper)
Q_DECLARE_METATYPE(FrameGate::Verdict)

// The signature check of every received frame, against a real key folder and sequence file.
class TestSyncSignature : public QObject
{
    Q_OBJECT

private slots:
    void tampered_data()
    {
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<Verdict>("verdict");
        auto row = [](const char *name, Tamper tamper, Verdict verdict) {
            QTest::newRow(name) << tamper << verdict;
        };
        row(
            "genuine", [](QByteArray s) { return s; }, Verdict::Accepted);
        row(
            "genuine, file line", [](QByteArray s) { return s + '\n'; }, Verdict::Accepted);
        row(
            "unsigned", [](QByteArray) { return Push; }, Verdict::Unsigned);
        row(
            "launch command", [](QByteArray s) { return replaced(s, "'cv-edit'", "'rm -rf ~'"); },
            Verdict::Forged);
        row(
            "one bit of a name",
            [](QByteArray s) { return replaced(s, "cv-edit-1.0", "cv-edit-1.1"); },
            Verdict::Forged);
        row(
            "action", [](QByteArray s) { return replaced(s, "data_add_push", "data_delete_push"); },
            Verdict::Forged);
        row(
            "sequence raised",
            [](QByteArray s) {
                const int at = s.indexOf("sequence='") + 10;
                s[at] = s[at] == '9' ? '8' : char(s[at] + 1);
                return s;
            },
            Verdict::Forged);
        row(
            "signature byte",
            [](QByteArray s) {
                const int at = s.indexOf(':') + 5;
                s[at] = s[at] == 'A' ? 'B' : 'A';
                return s;
            },
            Verdict::Forged);
        row(
            "frame appended", [](QByteArray s) { return s + Push; }, Verdict::Forged);
        row(
            "second newline", [](QByteArray s) { return s + "\n\n"; }, Verdict::Forged);
        row(
            "key id of another",
            [](QByteArray s) {
                return replaced(s, TestKey::catalog().id(), TestKey::stranger().id());
            },
            Verdict::UnknownKey);
        row(
            "signed by another key", [](QByteArray) { return TestKey::stranger().seal(Push); },
            Verdict::UnknownKey);
        row(
            "signature cut", [](QByteArray s) { return s.remove(s.indexOf(':') + 3, 4); },
            Verdict::Unsigned);
        row(
            "expiry moved later",
            [](QByteArray s) { return replaced(s, "expires='", "expires='9"); }, Verdict::Forged);
        row(
            "sequence with a sign",
            [](QByteArray s) { return replaced(s, "sequence='", "sequence='+"); },
            Verdict::Unsigned);
    }

    void tampered()
    {
        QFETCH(Tamper, tamper);
        QFETCH(Verdict, verdict);
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        FrameGate check = gate();
        QCOMPARE(check.admit(tamper(TestKey::catalog().seal(Push))), verdict);
    }

    // A captured frame sent again, before or after a store restart, never undoes a newer one.
    void replayed()
    {
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        const QByteArray older = TestKey::catalog().seal(Push);
        const QByteArray newer = TestKey::catalog().seal(Push);
        {
            FrameGate check = gate();
            QCOMPARE(take(check, newer), Verdict::Accepted);
            QCOMPARE(take(check, newer), Verdict::Replayed);
            QCOMPARE(take(check, older), Verdict::Replayed);
        }
        FrameGate restarted = gate();
        QCOMPARE(take(restarted, older), Verdict::Replayed);
        QCOMPARE(take(restarted, TestKey::catalog().seal(Push)), Verdict::Accepted);
    }

    // A frame made for another group of desktops is refused from anywhere; the group is the
    // one the server named in its answer to this store's own join, else the configured one.
    void groups_data()
    {
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QStringList>("joins"); // answers taken first: "ADDRESS GROUP"
        QTest::addColumn<QString>("group");     // of the frame; empty: for every group
        QTest::addColumn<Verdict>("verdict");
        QTest::newRow("nothing known, default's")
            << "" << QStringList() << "default" << Verdict::Accepted;
        QTest::newRow("nothing known, finance's")
            << "" << QStringList() << "finance" << Verdict::OtherGroup;
        QTest::newRow("for every group") << "finance" << QStringList() << "" << Verdict::Accepted;
        QTest::newRow("configured, default's")
            << "finance" << QStringList() << "default" << Verdict::OtherGroup;
        QTest::newRow("configured, its own")
            << "finance" << QStringList() << "finance" << Verdict::Accepted;
        QTest::newRow("joined, default's")
            << "" << QStringList{"127.0.0.1 finance"} << "default" << Verdict::OtherGroup;
        QTest::newRow("joined, over the configured")
            << "default" << QStringList{"127.0.0.1 finance"} << "finance" << Verdict::Accepted;
        QTest::newRow("another desktop's answer")
            << "" << QStringList{"127.0.0.9 finance"} << "default" << Verdict::Accepted;
        QTest::newRow("a later answer moves it")
            << "" << QStringList{"127.0.0.1 finance", "127.0.0.1 pilot"} << "pilot"
            << Verdict::Accepted;
        QTest::newRow("an earlier answer sent again")
            << "" << QStringList{"127.0.0.1 pilot", "127.0.0.1 finance", "replay 0"} << "pilot"
            << Verdict::OtherGroup;
    }

    void groups()
    {
        QFETCH(QString, configured);
        QFETCH(QStringList, joins);
        QFETCH(QString, group);
        QFETCH(Verdict, verdict);
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        sandbox.setConfig("group", configured);
        FrameGate check = gate();
        QByteArrayList answers;
        for (const QString &join : joins) {
            const QStringList words = join.split(' ');
            answers << (words[0] == "replay"
                            ? answers[words[1].toInt()]
                            : TestKey::catalog().seal(
                                  CatalogFrame::composeAddressed("join_resp", words[0]).toUtf8(),
                                  words[1]));
            QCOMPARE(check.admit(answers.last()), Verdict::Accepted);
        }
        QCOMPARE(take(check, TestKey::catalog().seal(Push, group)), verdict);
        // The group is named in the signed bytes: another name is a forgery.
        const QByteArray sealed = TestKey::catalog().seal(Push, "finance");
        QCOMPARE(check.admit(replaced(sealed, "group='finance'", "group='default'")),
                 Verdict::Forged);
        QCOMPARE(check.admit(replaced(sealed, "group='finance'", "group='../x'")),
                 Verdict::Unsigned);
    }

    // A heartbeat names the last push its group was sent: a store that lacks it is behind,
    // and takes the push when it comes after all (the heartbeat moved no sequence).
    void heartbeats_data()
    {
        QTest::addColumn<bool>("taken"); // the push reached the store
        QTest::addColumn<bool>("named"); // the heartbeat names it (an older server's names none)
        QTest::addColumn<bool>("behind");
        QTest::newRow("the push taken") << true << true << false;
        QTest::newRow("the push held back on the way") << false << true << true;
        QTest::newRow("a heartbeat naming nothing") << false << false << false;
    }

    void heartbeats()
    {
        QFETCH(bool, taken);
        QFETCH(bool, named);
        QFETCH(bool, behind);
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        FrameGate check = gate();
        const QByteArray push = TestKey::catalog().seal(Push, "default");
        FrameSignature envelope;
        QVERIFY(envelope.read(push));
        if (taken)
            QCOMPARE(take(check, push), Verdict::Accepted);
        const QByteArray beat =
            TestKey::catalog().seal(named ? "<frame action='heartbeat' last='" +
                                                QByteArray::number(envelope.sequence()) + "'/>"
                                          : QByteArray("<frame action='heartbeat'/>"),
                                    "default");
        QCOMPARE(take(check, beat), Verdict::Accepted);
        QCOMPARE(check.heartbeatBehind(), behind);
        QCOMPARE(check.acceptedSequence(), quint64(0));
        QCOMPARE(take(check, push), taken ? Verdict::Replayed : Verdict::Accepted);
    }

    // The last sequence accepted lives in the catalog database; one that cannot be read
    // refuses frames instead of starting from 0, and the file it lived in before is moved in.
    void sequenceStore_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<QByteArray>("legacy"); // the file of before, when not empty
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("stored"); // the value in the database afterwards
        const QByteArray far = "99999999999999999";
        QTest::newRow("fresh") << "" << QByteArray() << Verdict::Accepted << "0";
        QTest::newRow("moved from its file") << "drop" << far << Verdict::Replayed << QString(far);
        QTest::newRow("no file to move") << "drop" << QByteArray() << Verdict::Accepted << "0";
        QTest::newRow("its file not a number")
            << "drop" << QByteArray("12ab") << Verdict::SequenceUnreadable << QString();
        QTest::newRow("not a number in the database")
            << "garbage" << QByteArray() << Verdict::SequenceUnreadable << "x";
        QTest::newRow("database not SQLite")
            << "corrupt" << QByteArray() << Verdict::SequenceUnreadable << QString();
    }

    void sequenceStore()
    {
        QFETCH(QString, setUp);
        QFETCH(QByteArray, legacy);
        QFETCH(Verdict, verdict);
        QFETCH(QString, stored);
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        const QString database = Paths::catalogDatabase();
        if (setUp == QLatin1String("drop"))
            QVERIFY(CatalogFixture::exec(database, "drop table frame_sequence;"));
        if (setUp == QLatin1String("garbage"))
            QVERIFY(CatalogFixture::exec(database, "update frame_sequence set last='x';"));
        if (setUp == QLatin1String("corrupt"))
            QVERIFY(CatalogFixture::writeFile(database, QByteArray(4096, 'x')));
        if (!legacy.isEmpty())
            QVERIFY(CatalogFixture::writeFile(Paths::frameSequenceFile(), legacy + '\n'));
        FrameGate check = gate();
        QCOMPARE(check.admit(TestKey::catalog().seal(Push)), verdict);
        QCOMPARE(check.acceptedSequence() != 0, verdict == Verdict::Accepted);
        if (!stored.isNull()) {
            const auto rows =
                CatalogFixture::query(database, "select last from frame_sequence where id=1;");
            QCOMPARE(rows.size(), 1);
            QCOMPARE(rows.first().value("last"), stored);
            QVERIFY(!QFile::exists(Paths::frameSequenceFile()));
        }
    }

    // A store killed (SIGKILL) while a frame's rows are being written keeps neither the rows
    // nor the frame's sequence: the frame sent again is taken whole.
    void killedMidFrame_data()
    {
        QTest::addColumn<int>("killAt"); // rows written before the kill
        QTest::newRow("before its first row") << 0;
        QTest::newRow("after two of three rows") << 2;
    }

    void killedMidFrame()
    {
        QFETCH(int, killAt);
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust());
        const QByteArray text = TestKey::catalog().seal(
            QByteArray("<frame action='data_add_push'><datas architecture='x86_64'>"
                       "<app name='一' rpm='cv-a-1-1'/><app name='二' rpm='cv-b-1-1'/>"
                       "<app name='三' rpm='cv-c-1-1'/></datas></frame>"));
        CatalogFrame frame;
        QString error;
        QVERIFY(frame.parse(QString::fromUtf8(text), &error));
        FrameGate check = gate();
        QCOMPARE(check.admit(text), Verdict::Accepted);
        const quint64 sequence = check.acceptedSequence();
        const pid_t child = ::fork();
        if (child == 0) {
            int seen = 0;
            CatalogWriter().store(
                frame,
                [&](const CatalogPackage &) {
                    if (seen++ == killAt)
                        ::raise(SIGKILL);
                },
                sequence);
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
        QCOMPARE(CatalogFixture::names(), QStringList());
        FrameGate restarted = gate();
        QCOMPARE(restarted.admit(text), Verdict::Accepted);
        QVERIFY(CatalogWriter().store(
            frame, [](const CatalogPackage &) {}, restarted.acceptedSequence()));
        QCOMPARE(CatalogFixture::names().size(), 3);
        QCOMPARE(restarted.admit(text), Verdict::Replayed);
    }

    // A new key is added beside the old, then the old one is removed, while the store runs.
    void rotation()
    {
        Sandbox sandbox;
        QVERIFY(TestKey::catalog().trust(QStringLiteral("old.pub")));
        FrameGate check = gate();
        QCOMPARE(check.admit(TestKey::stranger().seal(Push)), Verdict::UnknownKey);
        QVERIFY(TestKey::stranger().trust(QStringLiteral("new.pub")));
        QCOMPARE(check.admit(TestKey::catalog().seal(Push)), Verdict::Accepted);
        QCOMPARE(check.admit(TestKey::stranger().seal(Push)), Verdict::Accepted);
        QVERIFY(QFile::remove(Paths::trustedKeyDirectory() + QStringLiteral("/old.pub")));
        QCOMPARE(check.admit(TestKey::catalog().seal(Push)), Verdict::UnknownKey);
        QCOMPARE(check.admit(TestKey::stranger().seal(Push)), Verdict::Accepted);
    }

    // Whoever could change the key folder could empty it: such a folder trusts nothing rather
    // than letting frames pass unchecked. A key file others may change is no key.
    void keyFolder_data()
    {
        QTest::addColumn<QString>("setUp");
        QTest::addColumn<Verdict>("unsignedVerdict");
        QTest::addColumn<Verdict>("signedVerdict");
        QTest::newRow("no folder") << "none" << Verdict::Unchecked << Verdict::Unchecked;
        QTest::newRow("empty folder") << "empty" << Verdict::Unchecked << Verdict::Unchecked;
        QTest::newRow("trusted key") << "key" << Verdict::Unsigned << Verdict::Accepted;
        QTest::newRow("folder writable by others")
            << "folder 0777" << Verdict::FolderRefused << Verdict::FolderRefused;
        QTest::newRow("empty folder writable by others")
            << "empty 0777" << Verdict::FolderRefused << Verdict::FolderRefused;
        QTest::newRow("folder above writable by others")
            << "parent 0777" << Verdict::FolderRefused << Verdict::FolderRefused;
        QTest::newRow("folder of another user")
            << "folder owner" << Verdict::FolderRefused << Verdict::FolderRefused;
        QTest::newRow("key writable by group")
            << "key 0664" << Verdict::Unsigned << Verdict::UnknownKey;
        QTest::newRow("key of another user")
            << "key owner" << Verdict::Unsigned << Verdict::UnknownKey;
        QTest::newRow("key a link") << "key link" << Verdict::Unsigned << Verdict::UnknownKey;
        QTest::newRow("key not a key") << "key junk" << Verdict::Unsigned << Verdict::UnknownKey;
    }

    void keyFolder()
    {
        QFETCH(QString, setUp);
        QFETCH(Verdict, unsignedVerdict);
        QFETCH(Verdict, signedVerdict);
        Sandbox sandbox;
        const QByteArray folder = QFile::encodeName(Paths::trustedKeyDirectory());
        const QByteArray key = folder + "/catalog.pub";
        if (setUp != QLatin1String("none"))
            QVERIFY(QDir().mkpath(Paths::trustedKeyDirectory()));
        if (setUp.startsWith(QLatin1String("key")) || setUp.startsWith(QLatin1String("folder")) ||
            setUp.startsWith(QLatin1String("parent")))
            QVERIFY(TestKey::catalog().trust());
        if (setUp.endsWith(QLatin1String("0777")))
            QCOMPARE(::chmod(setUp.startsWith(QLatin1String("parent"))
                                 ? QFile::encodeName(sandbox.path(QStringLiteral("/etc/corvane")))
                                       .constData()
                                 : folder.constData(),
                             0777),
                     0);
        if (setUp == QLatin1String("folder owner"))
            QCOMPARE(::chown(folder.constData(), 54321, 54321), 0);
        if (setUp == QLatin1String("key 0664"))
            QCOMPARE(::chmod(key.constData(), 0664), 0);
        if (setUp == QLatin1String("key owner"))
            QCOMPARE(::chown(key.constData(), 54321, 54321), 0);
        if (setUp == QLatin1String("key link")) {
            QVERIFY(QFile::remove(QString::fromUtf8(key)));
            QVERIFY(QFile::link(TestKey::catalog().publicKeyFile(), QString::fromUtf8(key)));
        }
        if (setUp == QLatin1String("key junk")) {
            QFile file(QString::fromUtf8(key));
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n");
        }
        FrameGate check = gate();
        QCOMPARE(check.admit(Push), unsignedVerdict);
        QCOMPARE(check.admit(TestKey::catalog().seal(Push)), signedVerdict);
    }
};

QTEST_GUILESS_MAIN(TestSyncSignature)
#include "tst_syncsignature.moc"
