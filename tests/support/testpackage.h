#pragma once

#include <QString>
#include <QStringList>

// One tiny package of the test repository.
struct TestPackage {
    QString name;
    QString version;
    QString release = QStringLiteral("1");
    int payloadBytes = 64;  // size of the one file it installs (incompressible)
    QStringList needs = {}; // its Requires: what another installed package must provide
    QString arch = QStringLiteral("x86_64");
    QString tree = {};      // a folder whose files it installs too, each at its path below /
    QString preScript = {}; // its %pre scriptlet in Lua (the test root has no /bin/sh)

    QString packageString() const { return name + '-' + version + '-' + release + '.' + arch; }
    QString fileName() const { return packageString() + QStringLiteral(".rpm"); }
};
