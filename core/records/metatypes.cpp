#include "records/metatypes.h"

#include "records/operinfo.h"
#include "records/rpmdata.h"
#include "records/rpminfo.h"

#include <QCoreApplication>

void registerRecordMetaTypes()
{
    qRegisterMetaType<RpmData>("RpmData");
    qRegisterMetaType<QVector<RpmData>>("QVector<RpmData>");
    qRegisterMetaType<RpmInfo>("RpmInfo");
    qRegisterMetaType<OperInfo>("OperInfo");
}

Q_CONSTRUCTOR_FUNCTION(registerRecordMetaTypes)
