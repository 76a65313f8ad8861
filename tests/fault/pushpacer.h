#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class CatalogServerProcess;

// Real pushes through the catalog server, one to each address every second while it runs (no
// address: one to every desktop, through the broadcast address): push i adds the package
// packageName(i), so a store's rows say what came and in what order.
class PushPacer : public QObject
{
public:
    PushPacer(CatalogServerProcess &server, const QString &folder, const QStringList &addresses);

    void start();
    void stop();
    // The next push, now.
    void pushNext();
    // Pushes sent to each address so far.
    int sent() const { return m_sent; }
    // The server's first answer that was not one push sent; empty while there is none.
    QString failure() const { return m_failure; }

    static QString packageName(int push);

private:
    CatalogServerProcess &m_server;
    QString m_folder;
    QStringList m_addresses;
    QTimer m_timer;
    int m_sent = 0;
    bool m_pushing = false; // the server's answer is awaited with the events running
    QString m_failure;
};
