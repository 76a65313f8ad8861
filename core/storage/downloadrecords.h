#pragma once

#include <QString>
#include <QVector>

// The download manager's rows in the local database: loadrecord, the list shown and kept
// across restarts, and loadmanage, written alongside it. A row is found by its download key
// (the column name).
namespace DownloadRecords
{

struct Record {
    QString display;
    QString key;
    QString size;
    QString state;
    QString oper;
    int number = 0; // the table code
};

// Every row of loadrecord, in table order; empty when the table cannot be read.
QVector<Record> all();

// The key's rows in both tables replaced by this one.
void add(const Record &record);

// The state of the key's rows in both tables, or in loadrecord alone.
void setState(const QString &key, const QString &state);
void setListedState(const QString &key, const QString &state);

// The row of an installed download leaves loadmanage; loadrecord keeps listing it.
void release(const QString &key);

// The key's rows go from both tables: a row removed or cancelled on its own, and one cleared
// by the links for the finished or the failed rows.
void remove(const QString &key);
void clear(const QString &key);

} // namespace DownloadRecords
