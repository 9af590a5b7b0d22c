#include "platform/ViewAnimations.h"

#include <QPointer>
#include <QVariantAnimation>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

QVariantAnimation *makeAnimation() {
    auto *animation = new QVariantAnimation;
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    animation->setDuration(1000);
    return animation;
}

class ViewAnimationsTest : public testing::Test {
  protected:
    QWidget view_;
};

TEST_F(ViewAnimationsTest, AddedAnimationIsFoundUnderItsKeyAndOwnedByTheView) {
    QVariantAnimation *animation = makeAnimation();
    addAnimation(&view_, animation, "rotateAnimation");
    EXPECT_EQ(animationForKey(&view_, "rotateAnimation"), animation);
    EXPECT_EQ(animation->parent(), &view_);
    EXPECT_EQ(animationForKey(&view_, "fadeAnimation"), nullptr);
}

TEST_F(ViewAnimationsTest, AddingUnderAUsedKeyReplacesAndDeletesTheOldOne) {
    QPointer<QVariantAnimation> old = makeAnimation();
    addAnimation(&view_, old, "rotateAnimation");
    old->start();
    QVariantAnimation *replacement = makeAnimation();
    addAnimation(&view_, replacement, "rotateAnimation");
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(animationForKey(&view_, "rotateAnimation"), replacement);
    EXPECT_EQ(view_.findChildren<QVariantAnimation *>().size(), 1);
}

TEST_F(ViewAnimationsTest, AddingTheSameAnimationAgainKeepsIt) {
    QPointer<QVariantAnimation> animation = makeAnimation();
    addAnimation(&view_, animation, "rotateAnimation");
    addAnimation(&view_, animation, "rotateAnimation");
    ASSERT_FALSE(animation.isNull());
    EXPECT_EQ(animationForKey(&view_, "rotateAnimation"), animation);
}

TEST_F(ViewAnimationsTest, RemovingStopsAndDeletesOnlyThatKey) {
    QPointer<QVariantAnimation> spin = makeAnimation();
    QPointer<QVariantAnimation> fade = makeAnimation();
    addAnimation(&view_, spin, "rotateAnimation");
    addAnimation(&view_, fade, "fadeAnimation");
    spin->start();
    bool stopped = false;
    QObject::connect(spin, &QAbstractAnimation::stateChanged, [&](QAbstractAnimation::State now) {
        stopped = now == QAbstractAnimation::Stopped;
    });

    removeAnimation(&view_, "rotateAnimation");
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(spin.isNull());
    EXPECT_EQ(animationForKey(&view_, "rotateAnimation"), nullptr);
    EXPECT_EQ(animationForKey(&view_, "fadeAnimation"), fade);

    removeAnimation(&view_, "rotateAnimation");
    EXPECT_EQ(animationForKey(&view_, "fadeAnimation"), fade);
}

TEST_F(ViewAnimationsTest, EmptyKeyFindsNothing) {
    addAnimation(&view_, makeAnimation(), "rotateAnimation");
    EXPECT_EQ(animationForKey(&view_, QString()), nullptr);
}

TEST_F(ViewAnimationsTest, KeysBelongToOneView) {
    QWidget other;
    addAnimation(&view_, makeAnimation(), "rotateAnimation");
    EXPECT_EQ(animationForKey(&other, "rotateAnimation"), nullptr);
}

} // namespace
