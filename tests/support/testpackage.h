#pragma once

#include <QString>

// One tiny package of the test repository.
struct TestPackage {
    QString name;
    QString version;
    QString release = QStringLiteral("1");
    int payloadBytes = 64; // size of the one file it installs (incompressible)
    QString arch = QStringLiteral("x86_64");

    QString packageString() const { return name + '-' + version + '-' + release + '.' + arch; }
    QString fileName() const { return packageString() + QStringLiteral(".rpm"); }
};
