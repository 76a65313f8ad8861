#include "widgets/backgroundbutton.h"
#include "widgets/comdialog.h"
#include "widgets/cycloprogress.h"
#include "widgets/label.h"
#include "widgets/lineedit.h"
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

QObject *createWidgetTests()
{
    return new TestWidgets;
}

#include "tst_widgets.moc"
