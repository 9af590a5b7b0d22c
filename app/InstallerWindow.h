#pragma once

#include <QSize>

class QWidget;
class ViewController;

// The one installer window, titled "Plimbo Installer", with the controller's root view as its
// whole content (`contentSize`), styled and centred on its screen. Runs the controller's start
// sequence before it returns; the window is not shown yet.
QWidget *makeInstallerWindow(ViewController *controller, QSize contentSize = QSize(500, 300));
