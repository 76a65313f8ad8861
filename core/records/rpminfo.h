#pragma once

#include <QMetaType>
#include <QString>

// One installed package as rpm -qa reports it, split into its three parts.
struct RpmInfo {
    QString m_name;
    QString m_version;
    QString m_release;
};

Q_DECLARE_METATYPE(RpmInfo)
