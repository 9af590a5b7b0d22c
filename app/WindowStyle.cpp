#include "app/WindowStyle.h"

#include <QGuiApplication>
#include <QWidget>

void styleInstallerWindow(QWidget *view) {
    QWidget *window = view->window();
    if (window == view)
        return;
    window->setWindowFlags((window->windowFlags() | Qt::FramelessWindowHint) &
                           ~(Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint |
                             Qt::WindowFullscreenButtonHint));
    window->setFixedSize(window->size());
}

bool platformPlacesWindows() {
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
