#pragma once

#include "records/operationword.h"

#include <QString>

// What a table's rows ask before their operation runs, answered by the page that owns the
// table. The controller calls the one registered for the row's table and hands the answer
// back to the row: a plain call, so there is always exactly one answer.
class TaskRequests
{
public:
    virtual ~TaskRequests() = default;

    // True goes back to the row: for "卸载" the user confirmed and the row shows it waits;
    // for the catalog's operations the row was refused and shows its button again.
    virtual bool request(int row, Operation operation, const QString &rpm, bool mayProceed) = 0;

protected:
    TaskRequests() = default;
    TaskRequests(const TaskRequests &) = default;
    TaskRequests &operator=(const TaskRequests &) = default;
};
