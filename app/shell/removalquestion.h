#pragma once

#include <QString>
#include <QVector>

class ClientDemon;

// The question asked before packages are uninstalled. Packages are removed without rpm's
// dependency check, so when installed software needs what they provide, the question names
// it: the user decides knowing what may stop working. Otherwise it is the question as given.
class RemovalQuestion
{
public:
    explicit RemovalQuestion(ClientDemon *demon) : m_demon(demon) {}

    // packages: the package strings removed together; several: a batch rather than one.
    QString text(const QString &question, const QVector<QString> &packages, bool several) const;

private:
    ClientDemon *m_demon;
};
