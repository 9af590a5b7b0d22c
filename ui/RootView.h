#pragma once

#include <QPoint>
#include <QWidget>
#include <optional>

// The window's content: places its children by their bottom-left frames again whenever its height
// changes, and moves the window when dragged by its background.
class RootView : public QWidget {
    Q_OBJECT
  public:
    explicit RootView(QWidget *parent = nullptr);

  protected:
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

  private:
    std::optional<QPoint> dragOffset_; // from the window's corner to the pointer
};
