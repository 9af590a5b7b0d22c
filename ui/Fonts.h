#pragma once

#include <QFont>
#include <QString>

// The Rubik faces compiled into the binary, each loaded on its first use (after the application
// object exists). The face named like "Rubik-Regular", "Rubik-Medium", "Rubik-SemiBold" or
// "Rubik-Bold" at `pointSize` points (device-independent pixels); the application's default face
// when the named one is not available.
QFont namedFont(const QString &name, double pointSize);
