#pragma once

#include <QWidget>

// The filled part of the progress bar: its width is the progress, set by its owner, who also
// tells it the percentage for screen readers.
class PlProgress : public QWidget {
    Q_OBJECT
  public:
    explicit PlProgress(QWidget *parent = nullptr);

    int percent() const { return percent_; }
    // Screen readers hear of it in steps of ten.
    void setPercent(int percent);

  protected:
    void paintEvent(QPaintEvent *event) override;

  private:
    int percent_ = 0;
};
