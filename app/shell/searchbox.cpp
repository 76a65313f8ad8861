#include "shell/searchbox.h"

#include "facade/clientdemon.h"
#include "shell/mainwindow.h"
#include "shell/shelltexts.h"
#include "ui_mainwindow.h"

#include <QDebug>
#include <QMenu>

SearchBox::SearchBox(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon)
    : m_window(window), ui(ui), m_demon(demon)
{
}

void SearchBox::empty()
{
    if (!ui->lineEdit_search->text().isEmpty())
        ui->lineEdit_search->clear();
    // The hint stands for an empty box.
    ui->label_5->show();
}

void SearchBox::run()
{
    if (m_window->isLoading()) {
        empty();
        return;
    }
    ui->tableWidget_allPackage->show();
    const QString text = ui->lineEdit_search->text();
    qDebug() << "str_search = " << text;

    if (ui->stackedWidget->currentWidget() == ui->page_allPackage) {
        const QString category = ShellTexts::categoryName(ui->listWidget->currentRow());
        m_window->setCurrentTable(ui->tableWidget_allPackage);
        if (m_window->currentPage() == MainWindow::PageHome)
            m_window->searchAllTable(m_demon->selectSoftware(0, category, text));
        else if (m_window->currentPage() == MainWindow::PageUpgrade)
            m_window->searchAllTable(m_demon->selectSoftware(1, QString(), text));
    } else if (ui->stackedWidget->currentWidget() == ui->page_packageDelete) {
        m_window->setCurrentTable(ui->tableWidget_delete);
        const QVector<RpmData> results = m_demon->selectSoftware(2, QString(), text);
        const bool found = !results.isEmpty();
        if (!found)
            ui->label_delPackage->setText(ShellTexts::noResult());
        ui->label_delPackage->setVisible(!found);
        ui->tableWidget_delete->setVisible(found);
        ui->checkBox_delete->setVisible(found);
        ui->btn_delete_soft->setVisible(found);
        m_window->searchDeleteTable(results);
    }
}

void SearchBox::saveFor(int page)
{
    if (page == MainWindow::PageHome)
        m_savedHome = ui->lineEdit_search->text();
    else if (page == MainWindow::PageUpgrade)
        m_savedUpgrade = ui->lineEdit_search->text();
}

QString SearchBox::savedText(int page) const
{
    if (page == MainWindow::PageHome)
        return m_savedHome;
    return page == MainWindow::PageUpgrade ? m_savedUpgrade : QString();
}

void SearchBox::keyPressed()
{
    ui->label_5->hide();
}

void SearchBox::textEdited(const QString &text)
{
    if (!text.isEmpty()) {
        ui->lineEdit_search->setFocus(Qt::OtherFocusReason);
        ui->label_5->hide();
    } else {
        ui->label_5->show();
    }
}

void SearchBox::showContextMenu(int x, int y)
{
    QMenu *menu = ui->lineEdit_search->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QPoint(ui->lineEdit_search->x() + x + m_window->x() + 16,
                       ui->lineEdit_search->y() + y + m_window->y() + 3));
}
