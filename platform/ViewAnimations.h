#pragma once

#include <QString>

class QVariantAnimation;
class QWidget;

// Named animations on a view, as layers keep them: one animation per key; adding under a key in
// use replaces (and deletes) the one there. The view owns its animations.
void addAnimation(QWidget *view, QVariantAnimation *animation, const QString &key);
QVariantAnimation *animationForKey(const QWidget *view, const QString &key);
void removeAnimation(QWidget *view, const QString &key);
