#include "ui/PlProgress.h"

#include "ui/Colors.h"

#include <QPaintEvent>
#include <QPainter>

PlProgress::PlProgress(QWidget *parent) : QWidget(parent) {}

void PlProgress::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), hexColor("#FFC200", 1.0));
}
