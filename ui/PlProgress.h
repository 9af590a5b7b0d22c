#pragma once

#include <QWidget>

// The filled part of the progress bar: its width is the progress, set by its owner.
class PlProgress : public QWidget {
    Q_OBJECT
  public:
    explicit PlProgress(QWidget *parent = nullptr);

  protected:
    void paintEvent(QPaintEvent *event) override;
};
