#pragma once

#include <QRect>
#include <QRectF>

class QWidget;

// Frames are kept in the installer's own coordinates: points, origin at the bottom-left corner of
// the parent, y upward. Qt places widgets from the top-left, so a view's frame is remembered on the
// view and turned into Qt geometry against its parent's height; applyChildFrames() places every
// child again after the parent has changed height.

// Converts a bottom-left frame into top-left geometry inside a parent `parentHeight` high.
QRect topLeftGeometry(const QRectF &frame, double parentHeight);

// Remembers `frame` on `view` and places the view inside its current parent.
void setFrame(QWidget *view, const QRectF &frame);

// The frame last given to `view` with setFrame (an empty rectangle if none).
QRectF frame(const QWidget *view);

// Places every child of `parent` that has a frame again, for the parent's current height.
void applyChildFrames(QWidget *parent);

// Makes `child` the topmost child of `parent`, placed by its frame, and shows it.
void addSubview(QWidget *parent, QWidget *child);
