#pragma once

#include <QString>
#include <QStringList>

// The store's reports to its catalog server and the server's acknowledgement, one frame each:
//   <frame action='report_result'><datas client='L' architecture='x86_64'>
//     <report id='INSTANCE-N' time='UNIX' oper='upgrade' rpm='NAME-V-R' code='-1' echo='TEXT'/>
//   <frame action='report_inventory'><datas client='L' architecture='x86_64'>
//     <report id='INSTANCE-N' time='UNIX' sequence='S'><package rpm='NAME-V-R'/>...</report>
//   <frame action='report_ack'><datas client='L' architecture=''><report id='...'/>...
// The ack carries no architecture, so a store that does not know the action stores nothing.
// Reports come from anyone who can reach the server: parse accepts only frames whose every
// field is of its kind and within its bound.
class ReportFrame
{
public:
    enum class Kind { None, Result, Inventory, Ack };

    static const char *const ResultAction;
    static const char *const InventoryAction;
    static const char *const AckAction;

    static constexpr int MaxEcho = 1024;       // characters of a result's text
    static constexpr int MaxPackages = 5000;   // packages of one inventory
    static constexpr int MaxAckIds = 1000;     // ids of one acknowledgement
    static constexpr int MaxPackageText = 255; // characters of one package string

    struct Result {
        QString id;
        qint64 time = 0;
        QString oper; // OperationWord::key: install, quick-install, download, upgrade, remove;
                      // or defer (code 0)
        QString rpm;
        int code = 0;
        QString echo;
    };
    struct Inventory {
        QString id;
        qint64 time = 0;
        quint64 sequence = 0;
        QStringList packages;
    };

    static QString composeResult(const QString &client, const Result &result);
    // Leaves out the packages beyond what a frame of maxBytes holds.
    static QString composeInventory(const QString &client, const Inventory &inventory,
                                    int maxBytes);
    static QString composeAck(const QString &client, const QStringList &ids);

    // The kind of a frame whose action is one of the three, without checking the rest.
    static Kind kindOf(const QString &action);
    // False with *error saying which field is wrong.
    bool parse(const QString &text, QString *error);

    Kind kind() const { return m_kind; }
    QString client() const { return m_client; }
    const Result &result() const { return m_result; }
    const Inventory &inventory() const { return m_inventory; }
    const QStringList &ackIds() const { return m_ackIds; }
    QString id() const { return m_kind == Kind::Result ? m_result.id : m_inventory.id; }

    // An id as the outbox makes them: 16 lower-case hex digits, '-', a number from 1.
    static bool isReportId(const QString &text);
    // A package string name-version-release of the characters rpm allows in them.
    static bool isPackageText(const QString &text);
    // The text bounded to MaxEcho characters, control characters (newlines too) as spaces.
    static QString cleanEcho(const QString &text);

private:
    Kind m_kind = Kind::None;
    QString m_client;
    Result m_result;
    Inventory m_inventory;
    QStringList m_ackIds;
};
