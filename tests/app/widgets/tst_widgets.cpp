#include "records/rpmdata.h"
#include "tasks/installitem.h"
#include "widgets/backgroundbutton.h"
#include "widgets/cellwidgettable.h"
#include "widgets/comdialog.h"
#include "widgets/cycloprogress.h"
#include "widgets/iconlabel.h"
#include "widgets/label.h"
#include "widgets/lineedit.h"
#include "widgets/richtextlabel.h"
#include "widgets/titlebar.h"

#include <QtWidgets>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace
{

void sendMouse(QWidget *widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, local, widget->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// A move whose global position is given directly (the widget itself may move meanwhile).
void sendMoveTo(QWidget *widget, QPoint global, Qt::MouseButtons held)
{
    QMouseEvent event(QEvent::MouseMove, widget->mapFromGlobal(global), global, Qt::NoButton, held,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

bool hasOpaquePixel(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                return true;
    return false;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void spinnerShowsItsImage();
    void spinnerSecondStartKeepsFirstTimer();
    void spinnerRestartContinuesAngle();

    void buttonRelease_data();
    void buttonRelease();
    void disabledButtonChangesBackgroundButStaysSilent();

    void dialogAnswers_data();
    void dialogAnswers();
    void dialogFormAndHiddenButtons();
    void dialogDrag_data();
    void dialogDrag();
    void dialogFitsItsText_data();
    void dialogFitsItsText();

    void titleBarMovesTopLevel();
    void labelReportsRightPress_data();
    void labelReportsRightPress();
    void lineEditSignalsBeforeTextChanges();

    void richTextLabelLooksAsQLabel_data();
    void richTextLabelLooksAsQLabel();
    void iconLabelLooksAsQLabel();
    void iconDecodingIsBounded_data();
    void iconDecodingIsBounded();
    void cellWidgetTableShowsOnlyRowsInSight();
    void rowWidgetsOutOfSightStayUnpolished_data();
    void rowWidgetsOutOfSightStayUnpolished();

private:
    // Paints the button and tells whether its background shows at a corner pixel.
    static bool backgroundShown(BackgroundButton &button);

    QTemporaryDir m_images;
    QString m_background;
    QString m_icon;
};

void TestWidgets::initTestCase()
{
    QVERIFY(m_images.isValid());
    // Plain colours make the painted background easy to tell from the transparent one.
    QImage background(24, 20, QImage::Format_ARGB32);
    background.fill(QColor(200, 30, 30));
    m_background = m_images.filePath("background.png");
    QVERIFY(background.save(m_background));
    QImage icon(6, 6, QImage::Format_ARGB32);
    icon.fill(QColor(20, 20, 220));
    m_icon = m_images.filePath("icon.png");
    QVERIFY(icon.save(m_icon));
}

bool TestWidgets::backgroundShown(BackgroundButton &button)
{
    const QImage image = button.grab().toImage();
    return qAlpha(image.pixel(1, 1)) == 255 && qRed(image.pixel(1, 1)) == 200;
}

void TestWidgets::spinnerShowsItsImage()
{
    CycloProgress spinner;
    spinner.setFixedSize(48, 48);
    QVERIFY(hasOpaquePixel(spinner.grab().toImage()));
}

void TestWidgets::spinnerSecondStartKeepsFirstTimer()
{
    CycloProgress spinner;
    spinner.startAnimation(30);
    spinner.startAnimation(5);
    QCOMPARE(spinner.interval(), 30);
    QTRY_VERIFY(spinner.angle() > 0);

    // One stop must end the turning: a second timer would keep it going.
    spinner.stopAnimation();
    QVERIFY(!spinner.isAnimating());
    const double stopped = spinner.angle();
    QTest::qWait(150);
    QCOMPARE(spinner.angle(), stopped);
}

void TestWidgets::spinnerRestartContinuesAngle()
{
    CycloProgress spinner;
    spinner.startAnimation(10);
    QTRY_VERIFY(spinner.angle() >= 20);
    spinner.stopAnimation();
    const double stopped = spinner.angle();

    spinner.startAnimation(10);
    QTRY_VERIFY(spinner.angle() != stopped);
    // Five degrees a step from where it stopped, never from zero again.
    QVERIFY(spinner.angle() > stopped);
    QCOMPARE(std::fmod(spinner.angle() - stopped, 5.0), 0.0);
}

void TestWidgets::buttonRelease_data()
{
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("clicks");
    QTest::addColumn<bool>("backgroundAfter");

    QTest::newRow("inside") << QPoint(12, 10) << 1 << true;
    QTest::newRow("on the last pixel") << QPoint(23, 19) << 1 << true;
    QTest::newRow("right of it") << QPoint(24, 10) << 0 << false;
    QTest::newRow("far outside") << QPoint(-30, 50) << 0 << false;
}

void TestWidgets::buttonRelease()
{
    QFETCH(QPoint, release);
    QFETCH(int, clicks);
    QFETCH(bool, backgroundAfter);

    BackgroundButton button;
    button.setIconsInfo(m_icon, m_background, "close");
    QCOMPARE(button.objectName(), QString("close"));
    QCOMPARE(button.size(), QSize(24, 20));
    QVERIFY(!backgroundShown(button));

    QSignalSpy clicked(&button, &BackgroundButton::buttonClicked);
    sendMouse(&button, QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton, Qt::LeftButton);
    QVERIFY(backgroundShown(button));
    sendMouse(&button, QEvent::MouseButtonRelease, release, Qt::LeftButton, Qt::NoButton);

    QCOMPARE(clicked.count(), clicks);
    if (clicks)
        QCOMPARE(clicked.first().first().toString(), QString("close"));
    QCOMPARE(backgroundShown(button), backgroundAfter);
}

void TestWidgets::disabledButtonChangesBackgroundButStaysSilent()
{
    BackgroundButton button;
    button.setIconsInfo(m_icon, m_background, "close");
    button.setEnabled(false);
    QSignalSpy clicked(&button, &BackgroundButton::buttonClicked);
    QSignalSpy entered(&button, &BackgroundButton::enterSignal);
    QSignalSpy left(&button, &BackgroundButton::leaveSignal);

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&button, &enter);
    QCOMPARE(entered.count(), 1);
    QVERIFY(backgroundShown(button));

    QTest::mouseClick(&button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(clicked.count(), 0);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&button, &leave);
    QCOMPARE(left.count(), 1);
    QVERIFY(!backgroundShown(button));
    QCOMPARE(clicked.count(), 0);
}

void TestWidgets::dialogAnswers_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("answer");
    QTest::addColumn<int>("result");

    QTest::newRow("确定") << "pushButton_ok" << 1 << int(QDialog::Accepted);
    QTest::newRow("取消") << "pushButton_cancel" << 0 << int(QDialog::Rejected);
    QTest::newRow("title-bar close") << "btn_dialog_close" << 0 << int(QDialog::Rejected);
    QTest::newRow("Escape") << "Escape" << 0 << int(QDialog::Rejected);
    QTest::newRow("window manager's close") << "close" << 0 << int(QDialog::Rejected);
}

void TestWidgets::dialogAnswers()
{
    QFETCH(QString, button);
    QFETCH(int, answer);
    QFETCH(int, result);

    comDialog dialog;
    QSignalSpy answers(&dialog, &comDialog::execOkSignal);
    // Callers run the dialog modally; the answer arrives from within its event loop.
    if (button == QLatin1String("Escape")) {
        QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
    } else if (button == QLatin1String("close")) {
        QTimer::singleShot(0, &dialog, &QDialog::close);
    } else {
        auto *target = dialog.findChild<QPushButton *>(button);
        QVERIFY(target);
        QTimer::singleShot(0, target, [target] { QTest::mouseClick(target, Qt::LeftButton); });
    }
    QCOMPARE(dialog.exec(), result);

    QCOMPARE(answers.count(), 1);
    QCOMPARE(answers.first().first().toInt(), answer);
    QVERIFY(!dialog.isVisible());
}

void TestWidgets::dialogFormAndHiddenButtons()
{
    comDialog dialog;
    QCOMPARE(dialog.size(), QSize(353, 178));
    QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(dialog.windowTitle(), QString("消息框"));
    auto *title = dialog.findChild<QLabel *>("label_dialog_title");
    auto *info = dialog.findChild<QLabel *>("label_dialog_info");
    auto *ok = dialog.findChild<QPushButton *>("pushButton_ok");
    auto *cancel = dialog.findChild<QPushButton *>("pushButton_cancel");
    QVERIFY(title && info && ok && cancel);
    QCOMPARE(title->text(), QString("消息提示"));
    QCOMPARE(ok->text(), QString("确定"));
    QCOMPARE(cancel->text(), QString("取消"));
    QCOMPARE(cancel->size(), QSize(76, 28));

    info->setText("目前还有程序正在操作，\n请勿关闭！");
    dialog.hideCancelButton();
    dialog.show();
    QVERIFY(ok->isVisible());
    QVERIFY(!cancel->isVisible());
    dialog.hideOkButton();
    QVERIFY(!ok->isVisible());
    // The background image is part of the bundle: the dialog is not painted blank.
    const QImage image = dialog.grab().toImage();
    QVERIFY(image.pixelColor(176, 10) != image.pixelColor(176, 100));
}

void TestWidgets::dialogDrag_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("travel");
    QTest::addColumn<QPoint>("moved");

    QTest::newRow("left drag") << int(Qt::LeftButton) << QPoint(30, 20) << QPoint(30, 20);
    QTest::newRow("left drag back") << int(Qt::LeftButton) << QPoint(-15, -40) << QPoint(-15, -40);
    QTest::newRow("right drag") << int(Qt::RightButton) << QPoint(30, 20) << QPoint();
}

void TestWidgets::dialogDrag()
{
    QFETCH(int, button);
    QFETCH(QPoint, travel);
    QFETCH(QPoint, moved);
    const auto mouseButton = Qt::MouseButton(button);

    comDialog dialog;
    dialog.move(200, 150);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QPoint start = dialog.pos();
    const QPoint grip = dialog.mapToGlobal(QPoint(150, 90));

    // Two steps: each move goes by the difference to the previous one.
    sendMouse(&dialog, QEvent::MouseButtonPress, QPoint(150, 90), mouseButton, mouseButton);
    sendMoveTo(&dialog, grip + QPoint(10, 5), mouseButton);
    sendMoveTo(&dialog, grip + travel, mouseButton);
    sendMouse(&dialog, QEvent::MouseButtonRelease, dialog.mapFromGlobal(grip + travel), mouseButton,
              Qt::NoButton);
    QCOMPARE(dialog.pos(), start + moved);

    // After the release moves do nothing.
    sendMoveTo(&dialog, grip + QPoint(100, 100), Qt::LeftButton);
    QCOMPARE(dialog.pos(), start + moved);
}

void TestWidgets::dialogFitsItsText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("capped");

    const QString question =
        QStringLiteral("确定要卸载吗？\n以下已安装的软件依赖它，卸载后可能无法使用：");
    QStringList many;
    for (int i = 0; i < 40; ++i)
        many << QStringLiteral("依赖软件") + QString::number(i);
    QTest::newRow("one line") << QStringLiteral("卸载软件失败！") << false;
    QTest::newRow("two dependants")
        << question + QStringLiteral("cv-viewer-skin、看图插件") << false;
    QTest::newRow("forty dependants") << question + many.join(QStringLiteral("、")) << true;
}

void TestWidgets::dialogFitsItsText()
{
    QFETCH(QString, text);
    QFETCH(bool, capped);

    comDialog dialog;
    auto *info = dialog.findChild<QLabel *>("label_dialog_info");
    QVERIFY(info);
    info->setText(text);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.width(), 353);
    QVERIFY(dialog.height() >= 178);
    // However long the text, the dialog stays within the screen.
    QVERIFY(dialog.frameGeometry().height() <
            QGuiApplication::primaryScreen()->availableGeometry().height());

    const int needed = QFontMetrics(info->font())
                           .boundingRect(QRect(0, 0, info->contentsRect().width(), 1 << 20),
                                         Qt::TextWordWrap, text)
                           .height();
    const int shown = info->visibleRegion().boundingRect().height();
    auto *area = dialog.findChild<QScrollArea *>();
    if (!capped) {
        QVERIFY2(needed <= shown, qPrintable(QStringLiteral("%1 > %2").arg(needed).arg(shown)));
        // Nor does a scroll bar take from its width.
        QVERIFY(!area || !area->verticalScrollBar()->isVisible());
        return;
    }
    // Beyond its cap the text scrolls: all of it can be brought into sight.
    QVERIFY(area);
    QScrollBar *bar = area->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QVERIFY(bar->maximum() + shown >= needed);
}

void TestWidgets::titleBarMovesTopLevel()
{
    QWidget window;
    window.resize(300, 200);
    window.move(100, 100);
    auto *title = new TitleBar(&window);
    title->setGeometry(0, 20, 300, 57);
    QCOMPARE(title->objectName(), QString("title"));
    QVERIFY(title->autoFillBackground());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    sendMouse(title, QEvent::MouseButtonPress, QPoint(5, 7), Qt::LeftButton, Qt::LeftButton);
    sendMoveTo(title, QPoint(400, 300), Qt::LeftButton);
    // The press position in window coordinates stays under the mouse.
    QCOMPARE(window.pos(), QPoint(400, 300) - QPoint(5, 27));

    sendMouse(title, QEvent::MouseButtonRelease, title->mapFromGlobal(QPoint(400, 300)),
              Qt::LeftButton, Qt::NoButton);
    sendMoveTo(title, QPoint(10, 10), Qt::NoButton);
    QCOMPARE(window.pos(), QPoint(400, 300) - QPoint(5, 27));
}

void TestWidgets::labelReportsRightPress_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<bool>("reported");

    QTest::newRow("right") << int(Qt::RightButton) << QPoint(13, 7) << true;
    QTest::newRow("right near the corner") << int(Qt::RightButton) << QPoint(1, 1) << true;
    QTest::newRow("left") << int(Qt::LeftButton) << QPoint(13, 7) << false;
    QTest::newRow("middle") << int(Qt::MiddleButton) << QPoint(13, 7) << false;
}

void TestWidgets::labelReportsRightPress()
{
    QFETCH(int, button);
    QFETCH(QPoint, at);
    QFETCH(bool, reported);

    Label label;
    label.resize(81, 20);
    QSignalSpy right(&label, &Label::mouseRightSignal);
    QTest::mousePress(&label, Qt::MouseButton(button), Qt::NoModifier, at);
    QCOMPARE(right.count(), reported ? 1 : 0);
    if (reported) {
        QCOMPARE(right.first().at(0).toInt(), at.x());
        QCOMPARE(right.first().at(1).toInt(), at.y());
    }
}

void TestWidgets::lineEditSignalsBeforeTextChanges()
{
    LineEdit edit;
    edit.setText("gi");
    QStringList textsAtSignal;
    connect(&edit, &LineEdit::keyOperationSignal, &edit, [&] { textsAtSignal << edit.text(); });
    QTest::keyClick(&edit, Qt::Key_T);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QCOMPARE(textsAtSignal, QStringList({"gi", "git"}));
    QCOMPARE(edit.text(), QString("gi"));
}

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"

void TestWidgets::richTextLabelLooksAsQLabel_data()
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
void TestWidgets::richTextLabelLooksAsQLabel()
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

void TestWidgets::iconLabelLooksAsQLabel()
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

void TestWidgets::iconDecodingIsBounded_data()
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
void TestWidgets::iconDecodingIsBounded()
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

void TestWidgets::cellWidgetTableShowsOnlyRowsInSight()
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

void TestWidgets::rowWidgetsOutOfSightStayUnpolished_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("name") << QStringLiteral("name");
    QTest::newRow("icon") << QStringLiteral("icon");
    QTest::newRow("selector") << QStringLiteral("selector");
    QTest::newRow("button") << QStringLiteral("button");
}

void TestWidgets::rowWidgetsOutOfSightStayUnpolished()
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
