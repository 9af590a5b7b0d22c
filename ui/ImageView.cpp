#include "ui/ImageView.h"

#include "platform/ViewAnimations.h"
#include "platform/ViewGeometry.h"

#include <QPainter>
#include <QVariantAnimation>
#include <QtMath>
#include <numbers>

ImageView::ImageView(const QString &resource, QSizeF imageSize, QWidget *parent)
    : QWidget(parent), renderer_(resource), imageSize_(imageSize) {}

// An animation resets the rotation when it goes; let the animations go while this is still an
// ImageView, before QWidget deletes its children.
ImageView::~ImageView() {
    qDeleteAll(findChildren<QVariantAnimation *>(Qt::FindDirectChildrenOnly));
}

void ImageView::setRotation(double radians) {
    if (radians == rotation_)
        return;
    rotation_ = radians;
    update();
}

QRectF ImageView::imageFrame() const {
    QRectF square(QPointF(), imageSize_);
    square.moveCenter(frame(this).center());
    return square;
}

void ImageView::paintEvent(QPaintEvent *) {
    if (!renderer_.isValid())
        return;
    QSizeF size = renderer_.viewBoxF().size();
    size = size.isEmpty() ? imageSize_ : size.scaled(imageSize_, Qt::KeepAspectRatio);

    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    painter.translate(width() / 2.0, height() / 2.0);
    // Positive angles turn counter-clockwise on screen; Qt's y axis points down.
    painter.rotate(-qRadiansToDegrees(rotation_));
    renderer_.render(&painter, QRectF(QPointF(-size.width() / 2, -size.height() / 2), size));
}

void startSpinning(ImageView *view) {
    auto *animation = new QVariantAnimation;
    // Connected first: the start value is emitted as soon as it is set.
    QObject::connect(animation, &QVariantAnimation::valueChanged, view,
                     [view](const QVariant &angle) { view->setRotation(angle.toDouble()); });
    animation->setStartValue(2 * std::numbers::pi);
    animation->setEndValue(0.0);
    animation->setDuration(4000);
    animation->setEasingCurve(QEasingCurve::Linear);
    animation->setLoopCount(-1);
    // The turn is added to the resting angle, so the logo rests upright again once it stops.
    QObject::connect(animation, &QObject::destroyed, view, [view] { view->setRotation(0); });
    addAnimation(view, animation, QStringLiteral("rotateAnimation"));
    animation->start();
}
