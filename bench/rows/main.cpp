// Memory and time of the package rows: 1,000 rows built with the store's cells and row
// controllers in a shown table of the window's kind, against the floor of the same cells as
// plain table items.
#include "bench/support/benchpackages.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "records/rpmdata.h"
#include "shell/packagetable.h"
#include "tasks/installitem.h"
#include "widgets/cellwidgettable.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <malloc.h>
#include <unistd.h>

namespace
{

constexpr int Rows = 1000;
// Rows built first, so that the style, fonts and images every later row shares are loaded.
constexpr int WarmUpRows = 20;

double residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / 1024.0;
}

RpmData record(int i)
{
    RpmData data;
    data.m_name = QStringLiteral("软件 %1").arg(i);
    data.m_icon = QStringLiteral("bench-%1").arg(i);
    data.m_rpm = data.m_icon + QStringLiteral("-1.0-1");
    data.m_version = QStringLiteral("1.0");
    data.m_size = QStringLiteral("2500000");
    data.m_star = QStringLiteral("4");
    data.m_description = QStringLiteral("一款用于基准测试的软件，说明文字足够长");
    data.m_exec = QStringLiteral("NULL");
    data.m_type = QString::number(i % 13 + 1);
    data.m_state = i % 3 == 0 ? 0 : 2;
    return data;
}

QTableWidget *shownTable()
{
    auto *table = new CellWidgetTable;
    table->setColumnCount(PackageTable::ColumnCount);
    table->resize(897, 600);
    table->show();
    return table;
}

// Rows as the window builds them: cells, and a selector or a button controller.
void storeRows(QTableWidget *table, int rows)
{
    for (int i = 0; i < rows; ++i) {
        const RpmData data = record(i);
        table->insertRow(i);
        PackageTable::setCheckItem(table, i, false);
        const QStringList choices = data.m_state == 0 ? QStringList{OperationWord::quickInstall(),
                                                                    OperationWord::download()}
                                                      : QStringList();
        const QString button = data.m_state == 0 ? QString() : OperationWord::openApp();
        PackageTable::fillRow(table, i, data,
                              new InstallItem(nullptr, data, choices, button, i, table));
    }
}

// The least a table of these rows holds: the same texts as items, no widgets.
void plainRows(QTableWidget *table, int rows)
{
    for (int i = 0; i < rows; ++i) {
        const RpmData data = record(i);
        table->insertRow(i);
        PackageTable::setCheckItem(table, i, false);
        table->setItem(i, PackageTable::ColumnName, new QTableWidgetItem(data.m_name));
        table->setItem(i, PackageTable::ColumnVersion, new QTableWidgetItem(data.m_version));
        table->setItem(i, PackageTable::ColumnSize,
                       new QTableWidgetItem(PackageTable::sizeText(data.m_size)));
        for (int column = PackageTable::ColumnRpm; column < PackageTable::ColumnCount; ++column)
            table->setItem(i, column, new QTableWidgetItem(data.m_rpm));
    }
}

struct Cost {
    double kib;
    double ms;
    double heapKiB;
};

Cost measure(void (*build)(QTableWidget *, int), int rows)
{
    QTableWidget *table = shownTable();
    QApplication::processEvents();
    malloc_trim(0);
    const double before = residentKiB();
    const double heapBefore = double(mallinfo2().uordblks) / 1024.0;
    QElapsedTimer timer;
    timer.start();
    build(table, rows);
    // Polished, laid out and painted as a shown table is.
    QApplication::processEvents();
    table->grab();
    const double ms = timer.nsecsElapsed() / 1e6;
    const double heap = double(mallinfo2().uordblks) / 1024.0 - heapBefore;
    malloc_trim(0);
    const Cost cost{residentKiB() - before, ms, heap};
    delete table;
    QApplication::processEvents();
    return cost;
}

// One 64 x 64 icon per row, as the catalog's icons are stored.
bool writeIcons()
{
    if (!QDir().mkpath(Paths::iconDirectory()))
        return false;
    for (int i = 0; i < Rows; ++i) {
        QImage icon(64, 64, QImage::Format_ARGB32);
        icon.fill(QColor::fromHsv(i * 7 % 360, 160, 220));
        QPainter(&icon).drawText(icon.rect(), Qt::AlignCenter, QString::number(i));
        if (!icon.save(Paths::iconDirectory() + record(i).m_icon, "PNG"))
            return false;
    }
    return true;
}

// The application style sheet, as the store sets it at start-up.
void applyStyleSheet(QApplication &app)
{
    QFile qss(QStringLiteral(":/qss/default.qss"));
    if (!qss.open(QIODevice::ReadOnly))
        return;
    QTextStream in(&qss);
    in.setCodec("UTF-8");
    app.setStyleSheet(in.readAll());
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir root;
    qputenv("CORVANE_ROOT", root.path().toUtf8());
    QApplication app(argc, argv);
    applyStyleSheet(app);
    if (!root.isValid() || !writeIcons()) {
        std::fprintf(stderr, "cannot write the icons under %s\n", qPrintable(root.path()));
        return 1;
    }
    measure(storeRows, WarmUpRows);
    const Cost floor = measure(plainRows, Rows);
    const Cost store = measure(storeRows, Rows);
    BenchPackages::printHeader();
    BenchPackages::printRow(QStringLiteral("rows: RSS growth per 1,000 rows (KiB)"), store.kib,
                            floor.kib);
    BenchPackages::printRow(QStringLiteral("rows: build 1,000 rows (ms)"), store.ms, floor.ms);
    BenchPackages::printRow(QStringLiteral("rows: heap growth per 1,000 rows (KiB)"), store.heapKiB,
                            floor.heapKiB);
    return 0;
}
