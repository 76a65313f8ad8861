#include "tasks/installitem.h"
#include "records/operationword.h"

#include "engine/processprobe.h"
#include "tasks/combobox.h"
#include "tasks/killthread.h"
#include "tasks/progressprobe.h"
#include "tasks/taskslog.h"
#include "widgets/cycloprogress.h"

#include <QDebug>
#include <QEventLoop>
#include <QHBoxLayout>
#include <QMutexLocker>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSpacerItem>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

int InstallItem::m_cmd_count = 0;

namespace
{

bool names(const QString &word, std::initializer_list<Operation> operations)
{
    const std::optional<Operation> operation = OperationWord::parse(word);
    return operation &&
           std::find(operations.begin(), operations.end(), *operation) != operations.end();
}

constexpr int ProgressInterval = 50;
constexpr int SpinnerInterval = 30;
// Above this many bytes both sizes are compared in KiB.
constexpr qint64 ScaleThreshold = 40000000;

// Percent of expected, exact for any 64-bit sizes; an expected size that is zero, negative or
// not a number gives 0 rather than a division by zero.
int downloadPercent(qint64 downloaded, qint64 expected)
{
    if (expected <= 0)
        return 0;
    const __int128 percent = static_cast<__int128>(downloaded) * 100 / expected;
    if (percent > INT_MAX)
        return INT_MAX;
    if (percent < INT_MIN)
        return INT_MIN;
    return static_cast<int>(percent);
}

} // namespace

InstallItem::InstallItem(ClientDemon *demon, RpmData data, QStringList choices, QString text,
                         int row, QTableWidget *table, QWidget *parent)
    : ShownOnlyInSight(parent), m_table(table), m_demon(demon), m_data(std::move(data)), m_row(row)
{
    m_exec = m_data.m_exec;
    m_icon = m_data.m_icon;
    m_rpm = m_data.m_rpm;
    m_size = m_data.m_size;
    setObjectName(m_data.m_icon + QLatin1Char('-') + m_data.m_version);
    setFixedSize(150, 50);

    // Only what the row shows now is made; the rest is made when first needed, in its place.
    m_layout = new QHBoxLayout(this);
    m_layout->setSpacing(3);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->addItem(new QSpacerItem(25, 40, QSizePolicy::Expanding, QSizePolicy::Minimum));
    m_layout->addItem(new QSpacerItem(25, 40, QSizePolicy::Expanding, QSizePolicy::Minimum));

    if (choices.size() > 1) {
        m_str1 = QStringLiteral("  ") + choices.at(0);
        m_str2 = QStringLiteral("      ") + choices.at(1);
        comboBox()->addItem(m_str1);
        comboBox()->addItem(m_str2);
    }
    if (!text.isEmpty())
        operationButton()->setText(text);
    m_built = true;
}

void InstallItem::placeChild(QWidget *child)
{
    // The layout order: spacer, spinner, progress bar, cancel button, selector, button, spacer.
    const QWidget *const order[] = {m_cycloProgress, m_progressBar, m_cancelButton, m_comboBox,
                                    m_operButton};
    int index = 1;
    for (const QWidget *made : order) {
        if (made == child)
            break;
        if (made)
            ++index;
    }
    // The starting control shows with the row and is polished with it, in the style of the
    // table it is shown in; a child made later waits, hidden, for the row's state to show it.
    if (m_built)
        child->hide();
    else
        holdBackWithThis(child);
    m_layout->insertWidget(index, child);
}

QProgressBar *InstallItem::progressBar()
{
    if (!m_progressBar) {
        m_progressBar = new QProgressBar(this);
        m_progressBar->setObjectName(QStringLiteral("mainwindowload"));
        m_progressBar->setFixedSize(77, 15);
        m_progressBar->setAlignment(Qt::AlignVCenter);
        m_progressBar->setRange(0, 100);
        m_progressBar->setValue(0);
        placeChild(m_progressBar);
    }
    return m_progressBar;
}

CycloProgress *InstallItem::cycloProgress()
{
    if (!m_cycloProgress) {
        m_cycloProgress = new CycloProgress(this);
        m_cycloProgress->setFixedSize(48, 48);
        placeChild(m_cycloProgress);
    }
    return m_cycloProgress;
}

QPushButton *InstallItem::operationButton()
{
    if (!m_operButton) {
        m_operButton = new QPushButton(this);
        // Its look is the application style sheet's "#operationButton".
        m_operButton->setObjectName(QStringLiteral("operationButton"));
        m_operButton->setFixedSize(90, 40);
        m_operButton->setFocusPolicy(Qt::NoFocus);
        placeChild(m_operButton);
        connect(m_operButton, &QPushButton::clicked, this, &InstallItem::installAppSlot);
    }
    return m_operButton;
}

QPushButton *InstallItem::cancelButton()
{
    if (!m_cancelButton) {
        m_cancelButton = new QPushButton(this);
        // Its look is the application style sheet's "#cancelButton".
        m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
        m_cancelButton->setFixedSize(10, 10);
        m_cancelButton->setFlat(true);
        m_cancelButton->setFocusPolicy(Qt::NoFocus);
        placeChild(m_cancelButton);
        connect(m_cancelButton, &QPushButton::clicked, this, &InstallItem::cancelDownloadSlot);
    }
    return m_cancelButton;
}

ComBoBox *InstallItem::comboBox()
{
    if (!m_comboBox) {
        m_comboBox = new ComBoBox(this);
        placeChild(m_comboBox);
        connect(m_comboBox, &QComboBox::textActivated, this, &InstallItem::execSlot);
        connect(m_comboBox, &ComBoBox::execOperationSignal, this, &InstallItem::execSlot);
    }
    return m_comboBox;
}

bool InstallItem::isShowingWork() const
{
    return (m_progressBar && !m_progressBar->isHidden()) ||
           (m_cycloProgress && !m_cycloProgress->isHidden());
}

void InstallItem::hideChild(QWidget *child)
{
    if (child)
        child->hide();
}

void InstallItem::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_timer.timerId()) {
        QFrame::timerEvent(event);
        return;
    }
    startTick();
}

InstallItem::~InstallItem()
{
    qDebug() << "~InstallItem()";
    if (m_timer.isActive())
        m_timer.stop();
}

bool InstallItem::getOperSign()
{
    return !m_comboBox || m_comboBox->isHidden();
}

bool InstallItem::isMeasuring() const
{
    return m_timer.isActive();
}

void InstallItem::installAppSlot()
{
    m_type = m_operButton ? m_operButton->text() : QString();
    qDebug() << "m_type::::::::::" << m_type;
    execTask(m_type);
}

void InstallItem::execSlot(QString str)
{
    emit startExecSignal(str);
    m_type = str.simplified();
    execTask(m_type);
}

void InstallItem::execTask(QString str)
{
    qDebug() << "************  str= " << str;
    m_type = str;
    m_busy = true;
    if (names(str, {Operation::OpenApp})) {
        emit execTaskSignal(str, 0, m_exec, m_icon);
        m_busy = false;
        return;
    }

    if (m_progressBar)
        m_progressBar->setValue(0);
    // The running check and the window's question both wait for an answer; a result
    // arriving meanwhile can replace this row.
    const QPointer<InstallItem> alive(this);
    bool mayProceed = true;
    if (names(str, {Operation::Uninstall, Operation::Upgrade}))
        mayProceed = !isApplicationRunning();
    if (!alive)
        return;
    const bool confirmed = emit isRunningSignal(m_row, m_table, str, m_rpm, mayProceed);
    if (!alive || !mayProceed)
        return;

    qDebug() << "operate ************  s_rpm  = " << m_rpm;
    qDebug() << "operate ************  str    = " << str
             << "    removepkg = " << (confirmed ? "true" : "false");
    if (names(str, {Operation::Download, Operation::QuickInstall, Operation::Upgrade})) {
        showDownloading();
    } else if (names(str, {Operation::Install}) || confirmed) {
        showWorking();
    }
}

bool InstallItem::isApplicationRunning()
{
    qDebug() << "卸载  " << m_exec;
    // The process list is read on the probe's thread. The GUI thread serves its timers and
    // paints meanwhile, but no user input: nothing can start a second operation on the row.
    const QString exec = m_exec; // the row may be gone when the answer is in
    QEventLoop answered;
    bool running = false;
    ProcessProbe::checkRunning(&answered, exec, [&answered, &running](bool answer) {
        running = answer;
        answered.quit();
    });
    answered.exec(QEventLoop::ExcludeUserInputEvents);
    qCDebug(tasksLog) << "running check of" << exec << "answered" << running;
    return running;
}

void InstallItem::noteLeftovers()
{
    m_leftovers = ProgressMeter::leftovers(m_rpm);
}

ProgressQuery InstallItem::progressQuery() const
{
    return ProgressQuery{m_rpm, m_yumPid, m_leftovers};
}

void InstallItem::startTick()
{
    // A tick still measuring is not started again.
    if (m_tickRunning)
        return;
    m_tickRunning = true;
    ProgressProbe::instance().measure(this, progressQuery(),
                                      [this](const ProgressReading &reading) {
                                          m_tickRunning = false;
                                          // A download that ended meanwhile takes no late reading.
                                          if (m_timer.isActive())
                                              applyReading(reading);
                                      });
}

void InstallItem::setProgressSlot()
{
    applyReading(ProgressMeter::measure(progressQuery()));
}

void InstallItem::applyReading(const ProgressReading &reading)
{
    m_yumPid = reading.yumPid;
    if (!reading.found)
        return;
    if (reading.sizeRead)
        m_loadSize = reading.loadSize;

    qint64 downloaded = m_loadSize.trimmed().toLongLong();
    qint64 expected = m_size.trimmed().toLongLong();
    qDebug() << "已下载   " << downloaded;
    qDebug() << "预计下载 " << expected;
    if (expected > ScaleThreshold) {
        downloaded /= 1024;
        expected /= 1024;
    }
    const int percent = downloadPercent(downloaded, expected);
    qDebug() << "下载进度 " << percent;
    progressBar()->setValue(percent);

    if (percent == 100) {
        m_timer.stop();
        if (names(m_type, {Operation::QuickInstall, Operation::Upgrade}))
            showInstallPhase();
    }
    emit progressSignal(m_icon, percent);
}

void InstallItem::downLoadEnd(QString str)
{
    if (!m_timer.isActive())
        return;
    m_timer.stop();
    progressBar()->setValue(100);
    QThread::sleep(1);
    qDebug() << "*******************************8";
    if (names(str, {Operation::QuickInstall, Operation::Upgrade}))
        showInstallPhase();
    emit progressSignal(m_icon, 100);
}

void InstallItem::cancelDownloadSlot()
{
    qDebug() << "/////////// 11111  cancel load**************start************";
    {
        QMutexLocker locker(&m_mutex);
        qDebug() << "/////////// 22222  cancel load**************start************";

        m_skipResult = true;
        hideChild(m_progressBar);
        hideChild(m_cancelButton);
        m_timer.stop();

        ++m_cmd_count;
        qDebug() << "********** m_cmd_count=" << m_cmd_count << " " << m_icon;

        if (names(m_type, {Operation::Upgrade, Operation::Uninstall, Operation::Install}))
            showButton(m_type);
        else if (names(m_type, {Operation::QuickInstall, Operation::Download}))
            comboBox()->show();
    }
    // The row may go with the cancel: nothing of it is used after.
    const QString key = m_icon;
    // First the queues learn it: the killer looks only while the cancelled task runs.
    emit cancelDownLoadSignal(key);
    // The killer switches to root and kills on its own thread.
    auto *killer = new KillThread(key);
    // Nobody else holds it: it goes once its passes are done.
    QObject::connect(killer, &QThread::finished, killer, &QObject::deleteLater);
    killer->start();
}

void InstallItem::execTaskSlot(QString type, int res, QString cmd, QString name)
{
    if (m_skipResult) {
        m_skipResult = false;
        return;
    }
    hideIndicators();

    const bool success = res == 0;
    const QString openApp = OperationWord::openApp();
    // A result of no operation of ours changes nothing on the row.
    if (const std::optional<Operation> operation = OperationWord::parse(type)) {
        switch (*operation) {
        case Operation::Upgrade:
            showButton(success ? openApp : type);
            break;
        case Operation::Uninstall:
            if (!success)
                showButton(type);
            break;
        case Operation::QuickInstall:
            if (success) {
                hideChild(m_comboBox);
                showButton(openApp);
            } else {
                hideChild(m_operButton);
                ComBoBox *selector = comboBox();
                selector->clear();
                selector->addItem(OperationWord::quickInstall());
                selector->addItem(OperationWord::download());
                selector->show();
                qDebug() << "*********** count=" << selector->count() << "  str1=" << m_str1;
            }
            break;
        case Operation::Download:
            if (success) {
                emit progressSignal(m_icon, 100);
                showButton(OperationWord::install());
            }
            break;
        case Operation::Install:
            hideChild(m_comboBox);
            showButton(success ? openApp : type);
            break;
        case Operation::OpenApp:
            hideChild(m_comboBox);
            showButton(openApp);
            break;
        }
    }

    m_busy = false;
    qDebug() << "type=" << type << " res=" << res << " cmd=" << cmd << " name=" << name;
}

void InstallItem::showDownloading()
{
    noteLeftovers();
    hideChild(m_operButton);
    hideChild(m_comboBox);
    m_timer.start(ProgressInterval, this);
    progressBar()->show();
    cancelButton()->show();
}

void InstallItem::showWorking()
{
    hideChild(m_operButton);
    hideChild(m_comboBox);
    showSpinner();
}

void InstallItem::showInstallPhase()
{
    hideChild(m_progressBar);
    hideChild(m_cancelButton);
    showSpinner();
}

void InstallItem::showSpinner()
{
    cycloProgress()->startAnimation(SpinnerInterval);
    m_cycloProgress->show();
}

void InstallItem::showButton(const QString &text)
{
    operationButton()->setText(text);
    m_operButton->show();
}

void InstallItem::hideIndicators()
{
    if (m_timer.isActive())
        m_timer.stop();
    if (m_cycloProgress)
        m_cycloProgress->stopAnimation();
    hideChild(m_cycloProgress);
    hideChild(m_progressBar);
    hideChild(m_cancelButton);
}
