#include "storage/downloadrecords.h"

#include "records/paths.h"
#include "records/quoting.h"
#include "storage/database.h"
#include "storage/queryresult.h"

namespace
{

// Runs one statement with the key as its only parameter.
void execWithKey(const char *sql, const QString &key)
{
    exec_sql(Paths::localDatabase().toUtf8().constData(), sql, key.toUtf8().constData());
}

// "update  loadrecord set state='STATE' where name=?", and the same for loadmanage.
void updateState(const char *table, const QString &key, const QString &state)
{
    const QByteArray sql = QStringLiteral("update  %1 set state='%2' where name=?")
                               .arg(QLatin1String(table), Quoting::sqlLiteral(state))
                               .toUtf8();
    execWithKey(sql.constData(), key);
}

} // namespace

namespace DownloadRecords
{

QVector<Record> all()
{
    QVector<Record> records;
    const QueryResult rows(Paths::localDatabase(), QStringLiteral("select * from loadrecord"));
    if (rows.columns() < 6)
        return records;
    for (int r = 0; r < rows.rows(); ++r)
        records.append(Record{rows.text(r, 0), rows.text(r, 1), rows.text(r, 2), rows.text(r, 3),
                              rows.text(r, 4), rows.text(r, 5).toInt()});
    return records;
}

void add(const Record &record)
{
    // One row per key, or the replaced row would come back at the next start.
    remove(record.key);
    const QByteArray d = record.display.toUtf8();
    const QByteArray k = record.key.toUtf8();
    const QByteArray s = record.size.toUtf8();
    const QByteArray state = record.state.toUtf8();
    const QByteArray o = record.oper.toUtf8();
    const QByteArray n = QByteArray::number(record.number);
    const QByteArray database = Paths::localDatabase().toUtf8();
    for (const char *sql : {"insert into loadrecord values(?,?,?,?,?,?)",
                            "insert into loadmanage values(?,?,?,?,?,?)"})
        exec_sql(database.constData(), sql, d.constData(), k.constData(), s.constData(),
                 state.constData(), o.constData(), n.constData());
}

void setState(const QString &key, const QString &state)
{
    updateState("loadrecord", key, state);
    updateState("loadmanage", key, state);
}

void setListedState(const QString &key, const QString &state)
{
    updateState("loadrecord", key, state);
}

void release(const QString &key)
{
    execWithKey("delete from loadmanage where name=?", key);
}

void remove(const QString &key)
{
    execWithKey("delete  from loadrecord where name=?", key);
    execWithKey("delete  from loadmanage where name=?", key);
}

void clear(const QString &key)
{
    execWithKey("delete from loadrecord where name=?", key);
    execWithKey("delete from loadmanage where name=?", key);
}

} // namespace DownloadRecords
