#pragma once

#include <QMetaType>
#include <QString>

// One queued package operation, handed to a queue worker by value.
struct OperInfo {
    QString m_oper;    // operation word: "安装", "一键安装", "下载", "升级", "卸载"
    QString m_echo;    // returned unchanged as the third argument of the end signal
    QString m_rpmname; // package string name-version-release
    QString m_key;     // task key: fourth argument of the end signal, queue removal key
};

Q_DECLARE_METATYPE(OperInfo)
