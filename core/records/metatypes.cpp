#include "metatypes.h"

#include "operinfo.h"
#include "rpmdata.h"
#include "rpminfo.h"

#include <QCoreApplication>

void registerRecordMetaTypes()
{
    qRegisterMetaType<RpmData>("RpmData");
    qRegisterMetaType<QVector<RpmData>>("QVector<RpmData>");
    qRegisterMetaType<RpmInfo>("RpmInfo");
    qRegisterMetaType<OperInfo>("OperInfo");
}

Q_CONSTRUCTOR_FUNCTION(registerRecordMetaTypes)
