#pragma once

#include <QByteArray>
#include <QStringList>

// Every row a query gives on a database file, its cells joined with '|'; empty when the query
// fails.
QStringList rowsOf(const QByteArray &database, const char *sql);
