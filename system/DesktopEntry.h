#pragma once

#include <QByteArray>
#include <QString>

// The application menu entry of the installed application: its program as the Exec line (quoted
// and escaped so that any path survives) and TryExec, and the logo as its icon.
QByteArray desktopEntry(const QString &installPath);

// Writes the entry to <dataHome>/applications/plimbo.desktop and the logo to
// <dataHome>/icons/hicolor/scalable/apps/plimbo.svg, each replaced whole. Empty when both were
// written; else why not.
QString addToApplicationMenu(const QString &installPath, const QString &dataHome);
