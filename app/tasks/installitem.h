#pragma once

#include "widgets/shownonlyinsight.h"

#include "records/rpmdata.h"
#include "tasks/progressmeter.h"

#include <QBasicTimer>
#include <QFrame>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

class ClientDemon;
class ComBoBox;
class CycloProgress;
class QHBoxLayout;
class QProgressBar;
class QPushButton;
class QTableWidget;

// The operation control of one package row: starts an operation, shows what the row is doing
// while it runs (download progress measured from yum's partial file, or a spinner) and turns
// the result the main window hands back into the row's next control.
class InstallItem : public ShownOnlyInSight<QFrame>
{
    Q_OBJECT

public:
    InstallItem(ClientDemon *demon, RpmData data, QStringList choices, QString text, int row,
                QTableWidget *table, QWidget *parent = nullptr);
    ~InstallItem() override;

    // Starts the operation named by its button word.
    void execTask(QString str);
    // True when the row offers a button, not the selector.
    bool getOperSign();

    bool isBusy() const { return m_busy; }
    QString operation() const { return m_type; }
    // The row's children; each is made, hidden, on first use.
    QProgressBar *progressBar();
    CycloProgress *cycloProgress();
    QPushButton *operationButton();
    QPushButton *cancelButton();
    ComBoBox *comboBox();
    bool isMeasuring() const;
    // True while the progress bar or the spinner is in sight.
    bool isShowingWork() const;

    // Counts cancellations for the log.
    static int m_cmd_count;

signals:
    void startExecSignal(QString);
    // row, table, operation, package string, may-proceed; the receiver's answer is read back,
    // so it must be connected directly. For "卸载" it means the user confirmed.
    bool isRunningSignal(int, QTableWidget *, QString, QString, bool);
    void execTaskSignal(QString, int, QString, QString);
    void cancelDownLoadSignal(QString);
    void progressSignal(QString, int);

public slots:
    void installAppSlot();
    void execSlot(QString str);
    void execTaskSlot(QString type, int res, QString cmd, QString name);
    void downLoadEnd(QString str);
    void cancelDownloadSlot();
    void setProgressSlot();

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    // Asks the process probe, off the GUI thread, whether the row's application runs.
    bool isApplicationRunning();
    // Remembers the complete package files that are there before the download begins.
    void noteLeftovers();
    ProgressQuery progressQuery() const;
    // A timer tick: the measurement runs on the progress probe's thread.
    void startTick();
    void applyReading(const ProgressReading &reading);
    void placeChild(QWidget *child);
    static void hideChild(QWidget *child);
    void showDownloading();
    void showWorking();
    // The download phase is over: the spinner turns for the install.
    void showInstallPhase();
    void showSpinner();
    void showButton(const QString &text);
    void hideIndicators();

    bool m_busy = false;
    QHBoxLayout *m_layout;
    bool m_built = false;
    QProgressBar *m_progressBar = nullptr;
    CycloProgress *m_cycloProgress = nullptr;
    QTableWidget *m_table;
    // The progress tick; a basic timer, as thousands of rows never start theirs.
    QBasicTimer m_timer;
    QMutex m_mutex;
    QPushButton *m_operButton = nullptr;
    QPushButton *m_cancelButton = nullptr;
    ComBoBox *m_comboBox = nullptr;
    ClientDemon *m_demon;
    RpmData m_data;
    bool m_skipResult = false;
    QString m_type;
    QString m_exec;
    QString m_icon;
    QString m_rpm;
    QString m_str1;
    QString m_str2;
    QString m_yumPid;
    QString m_loadSize;
    QString m_size;
    int m_row;
    QHash<QString, QString> m_leftovers; // package file -> its state when the download began
    bool m_tickRunning = false;
};
