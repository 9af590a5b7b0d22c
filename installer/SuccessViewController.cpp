#include "installer/SuccessViewController.h"

#include "app/WindowStyle.h"

#include <QWidget>

SuccessViewController::SuccessViewController(QWidget *rootView) : view_(rootView) {}

void SuccessViewController::viewWillAppear() {
    preferredContentSize_ = QSize(378, 166);
    view_->window()->resize(preferredContentSize_);
    styleInstallerWindow(view_);
}
