#pragma once

class QWidget;

// Turns the window that holds `view` into the installer's fixed, title-less panel: no title bar,
// no close, minimise, full-screen or resize controls. The title stays for the window system's
// lists. Does nothing while `view` is not in a window of its own.
void styleInstallerWindow(QWidget *view);

// False where the window system places windows itself and a client cannot move them (Wayland).
bool platformPlacesWindows();
