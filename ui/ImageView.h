#pragma once

#include <QSvgRenderer>
#include <QWidget>

// Shows an image resource scaled down to fit `imageSize` (keeping its proportions), centred in the
// view and turned by `rotation` radians about the view's centre (positive is counter-clockwise on
// screen, as for layers). Give the view room for the turned image: a square side of
// imageSize * sqrt(2).
class ImageView : public QWidget {
    Q_OBJECT
  public:
    ImageView(const QString &resource, QSizeF imageSize, QWidget *parent = nullptr);
    ~ImageView() override;

    double rotation() const { return rotation_; }
    void setRotation(double radians);

    // The square the image is drawn in when it is not turned, in the view's parent's bottom-left
    // coordinates (from the view's frame).
    QRectF imageFrame() const;

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    QSvgRenderer renderer_;
    QSizeF imageSize_;
    double rotation_ = 0;
};

// Turns `view` clockwise once every 4 seconds, endlessly, under the animation key
// "rotateAnimation".
void startSpinning(ImageView *view);
