#pragma once

#include <QWidget>

// The faint track under the progress bar.
class Backgroud : public QWidget {
    Q_OBJECT
  public:
    explicit Backgroud(QWidget *parent = nullptr);

  protected:
    void paintEvent(QPaintEvent *event) override;
};
