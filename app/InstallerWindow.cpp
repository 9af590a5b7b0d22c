#include "app/InstallerWindow.h"

#include "app/WindowStyle.h"
#include "installer/ViewController.h"

#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

QWidget *makeInstallerWindow(ViewController *controller, QSize contentSize) {
    auto *window = new QWidget;
    window->setWindowTitle(QStringLiteral("Plimbo Installer"));
    window->setAccessibleName(window->windowTitle());
    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(controller->view());
    window->resize(contentSize);
    controller->view()->resize(contentSize);

    controller->viewDidLoad();
    controller->viewWillAppear();
    // Without a window manager a new window would sit at (0, 0).
    if (platformPlacesWindows()) {
        const QRect available = window->screen()->availableGeometry();
        window->move(available.center() - window->rect().center());
    }
    return window;
}
