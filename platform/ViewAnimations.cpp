#include "platform/ViewAnimations.h"

#include <QVariantAnimation>
#include <QWidget>

// The key is the animation's object name; the view is its parent. An empty key names nothing
// (an unnamed animation is kept but cannot be found).

void addAnimation(QWidget *view, QVariantAnimation *animation, const QString &key) {
    if (QVariantAnimation *old = animationForKey(view, key); old && old != animation)
        removeAnimation(view, key);
    animation->setObjectName(key);
    animation->setParent(view);
}

QVariantAnimation *animationForKey(const QWidget *view, const QString &key) {
    if (key.isEmpty())
        return nullptr;
    return view->findChild<QVariantAnimation *>(key, Qt::FindDirectChildrenOnly);
}

void removeAnimation(QWidget *view, const QString &key) {
    QVariantAnimation *animation = animationForKey(view, key);
    if (!animation)
        return;
    animation->stop();
    delete animation;
}
