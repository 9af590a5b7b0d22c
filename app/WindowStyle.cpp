#include "app/WindowStyle.h"

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
