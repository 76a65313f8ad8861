#include <QApplication>
#include <QByteArray>
#include <QMetaMethod>
#include <QTest>

#include <memory>
#include <vector>

QObject *createStartupTests();
QObject *createCatalogTests();
QObject *createSearchTests();
QObject *createOperationTests();
QObject *createSafeguardTests();
QObject *createPartTests();

namespace
{

bool hasTestFunction(const QObject &test, const QByteArray &name)
{
    const QMetaObject *meta = test.metaObject();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        if (meta->method(i).name() == name)
            return true;
    return false;
}

} // namespace

// One executable for the folder, one test class per topic. Functions named on the command
// line run in the class that has them; options go to every class.
int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    std::vector<std::unique_ptr<QObject>> tests;
    tests.emplace_back(createStartupTests());
    tests.emplace_back(createCatalogTests());
    tests.emplace_back(createSearchTests());
    tests.emplace_back(createOperationTests());
    tests.emplace_back(createSafeguardTests());
    tests.emplace_back(createPartTests());

    QList<QByteArray> options;
    QList<QByteArray> functions;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg.startsWith('-')) {
            options << arg;
            // Options with a value keep it.
            if ((arg == "-o" || arg == "-maxwarnings" || arg == "-eventdelay" ||
                 arg == "-keydelay" || arg == "-mousedelay" || arg == "-maxdelay") &&
                i + 1 < argc)
                options << QByteArray(argv[++i]);
        } else {
            functions << arg;
        }
    }

    int failed = 0;
    for (const auto &test : tests) {
        QList<QByteArray> mine;
        for (const QByteArray &function : functions)
            if (hasTestFunction(*test, function.split(':').first()))
                mine << function;
        if (!functions.isEmpty() && mine.isEmpty())
            continue;
        std::vector<char *> args{argv[0]};
        QList<QByteArray> storage = options + mine;
        for (QByteArray &arg : storage)
            args.push_back(arg.data());
        failed += QTest::qExec(test.get(), int(args.size()), args.data());
    }
    return failed;
}
