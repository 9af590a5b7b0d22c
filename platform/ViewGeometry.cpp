#include "platform/ViewGeometry.h"

#include <QEvent>
#include <QVariant>
#include <QWidget>
#include <cmath>

namespace {

constexpr char kFrameProperty[] = "plimboFrame";
constexpr char kKeeperName[] = "plimboFrameKeeper";

// Edges are rounded rather than origin and size, so frames that touch stay touching.
int roundEdge(double value) {
    return static_cast<int>(std::floor(value + 0.5));
}

void place(QWidget *view) {
    const QVariant stored = view->property(kFrameProperty);
    if (QWidget *parent = view->parentWidget(); parent && stored.isValid())
        view->setGeometry(topLeftGeometry(stored.toRectF(), parent->height()));
}

// A frame is relative to whichever parent the view has, so a view given its frame before it is
// added to its parent still lands in the right place.
class FrameKeeper : public QObject {
  public:
    explicit FrameKeeper(QWidget *view) : QObject(view) {
        setObjectName(kKeeperName);
        view->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::ParentChange)
            place(static_cast<QWidget *>(watched));
        return false;
    }
};

} // namespace

QRect topLeftGeometry(const QRectF &frame, double parentHeight) {
    const double top = parentHeight - frame.y() - frame.height();
    const int left = roundEdge(frame.x());
    const int right = roundEdge(frame.x() + frame.width());
    const int upper = roundEdge(top);
    const int lower = roundEdge(top + frame.height());
    return QRect(left, upper, std::max(0, right - left), std::max(0, lower - upper));
}

void setFrame(QWidget *view, const QRectF &frame) {
    view->setProperty(kFrameProperty, frame);
    if (!view->findChild<QObject *>(kKeeperName, Qt::FindDirectChildrenOnly))
        new FrameKeeper(view);
    place(view);
}

QRectF frame(const QWidget *view) {
    return view->property(kFrameProperty).toRectF();
}

void applyChildFrames(QWidget *parent) {
    for (QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        place(child);
}

void addSubview(QWidget *parent, QWidget *child) {
    child->setParent(parent);
    child->raise(); // setParent() leaves a child of the same parent where it was
    place(child);
    child->show();
}
