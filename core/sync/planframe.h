#pragma once

#include <QString>
#include <QVector>

// The work one desktop's group requires, as the catalog server writes it for that desktop
// alone and signs it (an agent on the desktop acts on it, the store never reads it):
//   <frame action='desktop_plan'><datas client='ADDRESS' issued='UNIX'>
//     <item action='require' rpm='NAME' version='V-R' deadline='UNIX' window='HH:MM-HH:MM'
//       notice='SECONDS'/>...</datas></frame>
// The desktop's address and the issue time are inside the signed bytes, so a plan copied to
// another desktop's path or served again later is refused by the agent.
class PlanFrame
{
public:
    static const char *const Action; // "desktop_plan"
    static constexpr int MaxItems = 500;

    struct Item {
        bool remove = false;
        QString package;
        QString versionRelease; // what the group is served; empty for a removal
        qint64 deadline = 0;    // Unix seconds
        int windowStart = 0;    // minutes after local midnight
        int windowEnd = 0;      // may be before the start: the window crosses midnight
        qint64 notice = 0;      // seconds of notice before the work
        // "NAME" for a removal, "NAME-V-R" otherwise: the item's key for the agent.
        QString key() const;
    };

    // "HH:MM-HH:MM" in minutes after midnight; false when it is not one (a window of no length
    // too).
    static bool parseWindow(const QString &text, int *start, int *end);
    static QString windowText(int start, int end);

    QString desktop;
    qint64 issued = 0;
    QVector<Item> items;

    QString compose() const;
    // Every field checked for its kind and bound; false with *error saying which is wrong.
    bool parse(const QString &text, QString *error);
};
