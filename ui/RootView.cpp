#include "ui/RootView.h"

#include "platform/ViewGeometry.h"

#include <QMouseEvent>
#include <QWindow>

RootView::RootView(QWidget *parent) : QWidget(parent) {}

void RootView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    applyChildFrames(this);
}

void RootView::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    // The window system moves the window where it can; without a window manager we move it.
    QWindow *handle = window()->windowHandle();
    if (handle && handle->startSystemMove())
        return;
    dragOffset_ = event->globalPosition().toPoint() - window()->frameGeometry().topLeft();
}

void RootView::mouseMoveEvent(QMouseEvent *event) {
    if (dragOffset_)
        window()->move(event->globalPosition().toPoint() - *dragOffset_);
}

void RootView::mouseReleaseEvent(QMouseEvent *) {
    dragOffset_.reset();
}
