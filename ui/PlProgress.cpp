#include "ui/PlProgress.h"

#include "ui/Colors.h"

#include <QAccessible>
#include <QPaintEvent>
#include <QPainter>
#include <utility>

PlProgress::PlProgress(QWidget *parent) : QWidget(parent) {}

void PlProgress::setPercent(int percent) {
    if (std::exchange(percent_, percent) / 10 == percent / 10)
        return;
    QAccessibleValueChangeEvent changed(this, percent);
    QAccessible::updateAccessibility(&changed);
}

void PlProgress::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), hexColor("#FFC200", 1.0));
}
