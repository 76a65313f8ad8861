#pragma once

#include <QDialog>
#include <QMap>
#include <QString>

namespace Ui
{
class LoadDialog;
}
class Items;

// The download manager: every download the user started, one row each, kept across restarts
// in the tables loadrecord and loadmanage of the local database.
class LoadDialog : public QDialog
{
    Q_OBJECT

public:
    explicit LoadDialog(QWidget *parent = nullptr);
    ~LoadDialog() override;

    void addDatatotable(int number, QString display, QString key, QString size, QString oper,
                        int progress);
    void downLoadFail(QString rpmname, int flag);
    void installSuccess(QString key, QString unused);
    void modifyparament(QString key, int number, QString oper);
    void delDatafromtable(QString key);
    void cleanTableList(QString linkText);
    void initContent();

    // The row widget of a key, or null.
    Items *itemOf(const QString &key) const;

    Ui::LoadDialog *ui;

signals:
    // table code, operation word, key
    void cancelDownLoadSignal(int, QString, QString);
    // table code, key, operation word
    void reDownLoadSignal(int, QString, QString);

public slots:
    void progressSlot(QString key, int percent);
    void cancelLoadSlot(QString key, QString oper);
    void reLoadSlot(QString key, QString oper);

public:
    // Connected to the close button by hand: the form has no object of this name.
    void on_pushButton_clicked(QString);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int findRow(const QString &key) const;
    Items *appendRow(const QString &key);

    QMap<QString, int> m_map;
};
