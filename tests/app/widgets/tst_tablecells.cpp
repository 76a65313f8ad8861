#include "records/rpmdata.h"
#include "tasks/installitem.h"
#include "widgets/cellwidgettable.h"
#include "widgets/iconlabel.h"
#include "widgets/richtextlabel.h"

#include <QtWidgets>

#include <QTemporaryDir>
#include <QTest>

// The widgets a package row is made of, and the table that holds them.
class TestTableCells : public QObject
{
    Q_OBJECT

private slots:
    void richTextLabelLooksAsQLabel_data();
    void richTextLabelLooksAsQLabel();
    void iconLabelLooksAsQLabel();
    void iconDecodingIsBounded_data();
    void iconDecodingIsBounded();
    void cellWidgetTableShowsOnlyRowsInSight();
    void rowWidgetsOutOfSightStayUnpolished_data();
    void rowWidgetsOutOfSightStayUnpolished();
};

void TestTableCells::richTextLabelLooksAsQLabel_data()
{
    QTest::addColumn<QString>("html");
    QTest::newRow("name, stars and description")
        << "<html><body><div style = 'margin-top:10px;'>表格大师</div><div style = "
           "'margin-top:10px;'><img src=':/img/full_star.png'><img "
           "src=':/img/empty_star.png'></div></br><div style = "
           "'color:#ababab;margin-top:1px;'>电子表格软件，提供公式、图表、数据透视</div></body></"
           "html>";
    QTest::newRow("plain words") << "a few plain words";
    QTest::newRow("taller than the label") << "1<br>2<br>3<br>4<br>5<br>6<br>7<br>8";
}

// The same text and size painted by a rich-text QLabel and by a RichTextLabel.
void TestTableCells::richTextLabelLooksAsQLabel()
{
    QFETCH(QString, html);
    QLabel reference;
    reference.setTextFormat(Qt::RichText);
    reference.setText(html);
    RichTextLabel label(html);
    QCOMPARE(label.text(), html);
    for (QLabel *each : {&reference, static_cast<QLabel *>(&label)})
        each->resize(220, 85);
    QCOMPARE(label.grab().toImage(), reference.grab().toImage());
}

void TestTableCells::iconLabelLooksAsQLabel()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("icon"));
    QImage image(64, 40, QImage::Format_ARGB32);
    image.fill(Qt::darkCyan);
    QPainter(&image).drawEllipse(image.rect().adjusted(4, 4, -4, -4));
    QVERIFY(image.save(file, "PNG"));
    QLabel reference;
    reference.setPixmap(
        QPixmap(file).scaled(48, 48, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    IconLabel label(file, QSize(48, 48));
    for (QLabel *each : {&reference, static_cast<QLabel *>(&label)}) {
        each->setAlignment(Qt::AlignCenter);
        each->resize(80, 85);
    }
    QCOMPARE(label.grab().toImage(), reference.grab().toImage());
    // A missing file shows nothing, as a label without a pixmap does.
    IconLabel missing(dir.filePath(QStringLiteral("none")), QSize(48, 48));
    missing.resize(80, 85);
    QLabel empty;
    empty.resize(80, 85);
    QCOMPARE(missing.grab().toImage(), empty.grab().toImage());
}

void TestTableCells::iconDecodingIsBounded_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("decoded");
    QTest::newRow("icon") << "icon" << QByteArray("PNG") << true;
    QTest::newRow("over 1 MiB") << "large" << QByteArray("PNG") << false;
    QTest::newRow("huge declared size") << "huge" << QByteArray("PNG") << false;
    QTest::newRow("missing") << "missing" << QByteArray("PNG") << false;
    // Another decoder under an icon's name is never reached, whatever the content says.
    for (const char *format : {"BMP", "JPEG", "ICO", "PPM"})
        QTest::newRow(format) << "icon" << QByteArray(format) << false;
}

// Icons come from the network and the store runs as root: only files within the bounds reach
// an image decoder, counted where every icon is decoded.
void TestTableCells::iconDecodingIsBounded()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, format);
    QFETCH(bool, decoded);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("icon"));
    // The header's size, as a hostile server may declare it.
    const int side = kind == QLatin1String("huge") ? IconLabel::MaxSide + 1 : 48;
    QImage image(side, 48, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(file, format.constData()));
    QFile written(file);
    if (kind == QLatin1String("large")) {
        QVERIFY(written.open(QIODevice::Append));
        written.write(QByteArray(IconLabel::MaxFileBytes, '\0'));
    } else if (kind == QLatin1String("missing")) {
        QVERIFY(written.remove());
    }
    written.close();
    const int before = IconLabel::decodedCount();
    IconLabel label(file, QSize(48, 48));
    QCOMPARE(!label.picture().isNull(), decoded);
    QCOMPARE(IconLabel::decodedCount() - before, decoded ? 1 : 0);
}

void TestTableCells::cellWidgetTableShowsOnlyRowsInSight()
{
    CellWidgetTable table;
    table.setColumnCount(2);
    table.setRowCount(60);
    table.verticalHeader()->setDefaultSectionSize(40);
    for (int row = 0; row < table.rowCount(); ++row)
        table.setCellWidget(row, 1, new QLabel(QString::number(row)));
    table.resize(300, 400);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));
    const auto shownRows = [&table] {
        QVector<int> rows;
        for (int row = 0; row < table.rowCount(); ++row)
            if (table.cellWidget(row, 1)->isVisible())
                rows << row;
        return rows;
    };
    QTRY_VERIFY(!shownRows().isEmpty());
    QCOMPARE(shownRows().first(), 0);
    QVERIFY(shownRows().last() < 15);

    // Scrolled to the end, the last rows show their widgets in their cells.
    table.verticalScrollBar()->setValue(table.verticalScrollBar()->maximum());
    QTRY_COMPARE(shownRows().last(), table.rowCount() - 1);
    QVERIFY(shownRows().first() > 40);
    QLabel *last = qobject_cast<QLabel *>(table.cellWidget(table.rowCount() - 1, 1));
    QCOMPARE(last->geometry(), table.visualRect(table.model()->index(table.rowCount() - 1, 1)));

    // A hidden row keeps its widget hidden.
    table.hideRow(table.rowCount() - 1);
    QTRY_VERIFY(!last->isVisible());
}

void TestTableCells::rowWidgetsOutOfSightStayUnpolished_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("name") << QStringLiteral("name");
    QTest::newRow("icon") << QStringLiteral("icon");
    QTest::newRow("selector") << QStringLiteral("selector");
    QTest::newRow("button") << QStringLiteral("button");
}

void TestTableCells::rowWidgetsOutOfSightStayUnpolished()
{
    QFETCH(QString, kind);
    CellWidgetTable table;
    table.setColumnCount(1);
    table.setRowCount(60);
    table.verticalHeader()->setDefaultSectionSize(40);
    table.resize(300, 400);
    table.show();
    QVERIFY(QTest::qWaitForWindowExposed(&table));
    for (int row = 0; row < table.rowCount(); ++row) {
        QWidget *widget = nullptr;
        if (kind == QLatin1String("name")) {
            widget = new RichTextLabel(QString::number(row));
        } else if (kind == QLatin1String("icon")) {
            widget = new IconLabel(QString(), QSize(48, 48));
        } else {
            RpmData data;
            data.m_icon = QStringLiteral("pkg%1").arg(row);
            const bool selector = kind == QLatin1String("selector");
            widget = new InstallItem(
                nullptr, data,
                selector ? QStringList{QStringLiteral("一"), QStringLiteral("二")} : QStringList(),
                selector ? QString() : QStringLiteral("打开"), row, &table);
        }
        table.setCellWidget(row, 0, widget);
    }
    // Every posted polish request delivered: those out of sight are kept for the show.
    QCoreApplication::sendPostedEvents();
    // The widget and what it holds: how many of them are polished, of how many.
    const auto polished = [&table](int row) {
        QWidget *widget = table.cellWidget(row, 0);
        QList<QWidget *> widgets = widget->findChildren<QWidget *>();
        widgets << widget;
        int count = 0;
        for (const QWidget *each : qAsConst(widgets))
            count += each->testAttribute(Qt::WA_WState_Polished);
        return qMakePair(count, widgets.size());
    };
    QTRY_VERIFY(table.cellWidget(0, 0)->isVisible());
    QCOMPARE(polished(0).first, polished(0).second);
    QCOMPARE(polished(59).first, 0);
    QVERIFY(!table.cellWidget(59, 0)->isVisible());

    // Scrolled into sight, shown polished with what it holds.
    table.verticalScrollBar()->setValue(table.verticalScrollBar()->maximum());
    QTRY_VERIFY(table.cellWidget(59, 0)->isVisible());
    QCOMPARE(polished(59).first, polished(59).second);
}

QObject *createTableCellTests()
{
    return new TestTableCells;
}

#include "tst_tablecells.moc"
