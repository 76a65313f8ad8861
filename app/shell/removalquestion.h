#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class CatalogReader;
class QObject;

// The question asked before packages are uninstalled. Packages are removed without rpm's
// dependency check, so when installed software needs what they provide, the question names
// it: the user decides knowing what may stop working. Otherwise it is the question as given.
class RemovalQuestion
{
public:
    explicit RemovalQuestion(CatalogReader &reader) : m_reader(reader) {}

    // packages: the package strings removed together; several: a batch rather than one.
    // rpm is asked off the GUI thread; ready(text) runs on it later, only while asker exists.
    void ask(QObject *asker, const QString &question, const QVector<QString> &packages,
             bool several, std::function<void(const QString &text)> ready) const;

private:
    QString text(const QString &question, const QStringList &dependants, bool several) const;

    CatalogReader &m_reader;
};
