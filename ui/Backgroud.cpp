#include "ui/Backgroud.h"

#include "ui/Colors.h"

#include <QPaintEvent>
#include <QPainter>

Backgroud::Backgroud(QWidget *parent) : QWidget(parent) {}

// Blends over whatever is behind it (source-over, the painter's default).
void Backgroud::paintEvent(QPaintEvent *event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), hexColor("#ffffff", 0.1));
}
