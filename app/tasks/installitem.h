#pragma once

#include "records/rpmdata.h"

#include <QFrame>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>

class ClientDemon;
class ComBoBox;
class CycloProgress;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

// The operation control of one package row: starts an operation, shows what the row is doing
// while it runs (download progress measured from yum's partial file, or a spinner) and turns
// the result the main window hands back into the row's next control.
class InstallItem : public QFrame
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
    QProgressBar *progressBar() const { return m_progressBar; }
    CycloProgress *cycloProgress() const { return m_cycloProgress; }
    QPushButton *operationButton() const { return m_operButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }
    ComBoBox *comboBox() const { return m_comboBox; }
    bool isMeasuring() const;

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

private:
    bool isApplicationRunning();
    // pkgpath/PKG/PKG: a package file's name without its architecture part.
    QString packageFileStem() const;
    QString partialFile() const;
    // Remembers the complete package files that are there before the download begins.
    void noteLeftovers();
    void showDownloading();
    void showWorking();
    void showButton(const QString &text);
    void hideIndicators();

    bool m_busy = false;
    QProgressBar *m_progressBar;
    CycloProgress *m_cycloProgress;
    QTableWidget *m_table;
    QTimer *m_timer;
    QMutex m_mutex;
    QPushButton *m_operButton;
    QPushButton *m_cancelButton;
    ComBoBox *m_comboBox;
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
};
