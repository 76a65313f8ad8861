#include "records/paths.h"
#include "storage/queryresult.h"
#include "sync/catalogframe.h"
#include "sync/framegate.h"
#include "sync/framesignature.h"
#include "sync/framesigner.h"
#include "sync/heartthread.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace
{

struct Receiver {
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<TestRepository> repository;
    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<HeartThread> heart;
    std::unique_ptr<FrameSigner> signer; // its public key is the only one trusted
    std::unique_ptr<FrameGate> gate;
};

Receiver *receiver = nullptr;

// The receiver's log lines would drown the fuzzer's own report.
void quiet(QtMsgType, const QMessageLogContext &, const QString &) {}

bool databaseAnswers()
{
    return QueryResult(Paths::catalogDatabase(), QStringLiteral("select count(*) from softwares"))
               .rows() == 1;
}

} // namespace

// A sandbox root with one installed package (rpm -qa must list something) and a receiver
// that is not started: each input is handled as the receiving thread handles a frame.
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    receiver = new Receiver;
    receiver->app = std::make_unique<QCoreApplication>(*argc, *argv);
    const TestPackage base{QStringLiteral("cv-fuzz-base"), QStringLiteral("1.0")};
    receiver->repository = std::make_unique<TestRepository>(QVector<TestPackage>{base});
    receiver->sandbox = std::make_unique<Sandbox>(receiver->repository.get());
    if (!receiver->repository->isValid() || !receiver->sandbox->isValid() ||
        !receiver->sandbox->install(base))
        std::abort();
    qInstallMessageHandler(quiet);
    receiver->heart = std::make_unique<HeartThread>();
    // A key made for this run: no input can carry a signature of it unless sealed here.
    SigningKey key = SigningKey::generate();
    const QString keys = Paths::trustedKeyDirectory();
    QFile trusted(keys + QStringLiteral("/fuzz.pub"));
    if (!QDir().mkpath(keys) || !trusted.open(QIODevice::WriteOnly) ||
        trusted.write(key.publicPem()) <= 0)
        std::abort();
    trusted.close();
    receiver->signer = std::make_unique<FrameSigner>(std::move(key));
    receiver->gate =
        std::make_unique<FrameGate>(keys, Paths::catalogDatabase(), Paths::frameSequenceFile());
    return 0;
}

// Any bytes a peer may send as one frame: parsed, composed again, and applied to the
// sandbox's catalog database, which must stay usable.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));
    CatalogFrame frame;
    QString error;
    if (frame.parse(text, &error)) {
        (void)frame.action();
        const QString again = CatalogFrame::compose(frame.actionText(), frame.packages());
        CatalogFrame reparsed;
        if (!reparsed.parse(again, &error) || reparsed.packages().size() != frame.packages().size())
            __builtin_trap();
    }
    receiver->heart->pigxmlData(text);
    if (!databaseAnswers())
        __builtin_trap();

    // The signature check: nothing the fuzzer writes passes it; what is sealed here passes,
    // comes back as it was sealed, and fails again once any one byte of it changes.
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    if (receiver->gate->admit(bytes) == FrameGate::Verdict::Accepted)
        __builtin_trap();
    // A line's newline is no part of its frame: the server seals frames without one.
    if (bytes.endsWith('\n'))
        return 0;
    const QByteArray sealed = receiver->signer->seal(bytes);
    if (sealed.isEmpty())
        return 0; // not a frame: nothing to seal
    FrameSignature envelope;
    if (!envelope.read(sealed) || envelope.frame() != bytes)
        __builtin_trap();
    QByteArray altered = sealed;
    const int at = int(qHash(bytes) % uint(sealed.size()));
    altered[at] = char(altered[at] ^ (1 + (size % 255)));
    if (receiver->gate->admit(altered) == FrameGate::Verdict::Accepted)
        __builtin_trap();
    if (receiver->gate->admit(sealed) != FrameGate::Verdict::Accepted)
        __builtin_trap();
    return 0;
}
