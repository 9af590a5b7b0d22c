#pragma once

#include <QObject>
#include <QSize>

class QWidget;

// A controller for a window that shows only the success panel, styled like the installer's.
// The installer itself switches its own window to the panel instead.
class SuccessViewController : public QObject {
    Q_OBJECT
  public:
    explicit SuccessViewController(QWidget *rootView);

    QWidget *view() const { return view_; }
    QSize preferredContentSize() const { return preferredContentSize_; }

    void viewDidLoad() {}
    void viewWillAppear();

  private:
    QWidget *view_;
    QSize preferredContentSize_;
};
