#pragma once

#include <QFrame>
#include <QString>

namespace Ui
{
class Items;
}

// One row of the download manager: icon, name and size of a package, its progress while it
// downloads and its outcome afterwards.
class Items : public QFrame
{
    Q_OBJECT

public:
    explicit Items(QWidget *parent = nullptr);
    ~Items() override;

    void setItemValues(QString display, QString key, QString size, int progress, QString oper,
                       QString state);
    void setProgressValue(int value);
    void setReloadButtonShow(int flag);
    void installSuccessShow();
    void modifyvalue(QString oper);

    QString state() const { return m_state; }
    QString operation() const { return m_oper; }
    QString key() const { return m_name; }

    Ui::Items *ui;

signals:
    void cancelLoadSignal(QString, QString);
    void reLoadSignal(QString, QString);
    void removeFromtable(QString);

private slots:
    void on_pushButton_reload_clicked();
    void on_pushButton_cancel_clicked();

private:
    void showStatus(const QString &image, const QString &text);

    QString m_state;
    QString m_oper;
    QString m_name;
};
