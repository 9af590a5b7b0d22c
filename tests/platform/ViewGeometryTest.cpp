#include "platform/ViewGeometry.h"

#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct FlipCase {
    const char *name;
    QRectF frame;
    double parentHeight;
    QRect geometry;
};

std::ostream &operator<<(std::ostream &out, const FlipCase &c) {
    return out << c.name;
}

class TopLeftGeometryTest : public testing::TestWithParam<FlipCase> {};

TEST_P(TopLeftGeometryTest, FlipsAgainstTheParentHeight) {
    const FlipCase &c = GetParam();
    EXPECT_EQ(topLeftGeometry(c.frame, c.parentHeight), c.geometry);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, TopLeftGeometryTest,
    testing::Values(FlipCase{"track", {0, 0, 500, 17}, 300, {0, 283, 500, 17}},
                    FlipCase{"statusLine", {50, 27, 400, 14}, 300, {50, 259, 400, 14}},
                    FlipCase{"percentage", {190, 140, 120, 47}, 300, {190, 113, 120, 47}},
                    FlipCase{"emptyBar", {0, 0, 0, 17}, 300, {0, 283, 0, 17}},
                    FlipCase{"fillsParent", {0, 0, 378, 166}, 166, {0, 0, 378, 166}},
                    FlipCase{"edgesRoundToNearest", {0.4, 0.4, 10.2, 10.2}, 100, {0, 89, 11, 11}},
                    FlipCase{"halvesRoundUp", {10.5, 0, 20, 10}, 20.5, {11, 11, 20, 10}},
                    FlipCase{"leftOfParent", {-88.5, 0, 10, 10}, 10, {-88, 0, 10, 10}},
                    FlipCase{"aboveParent", {0, 30, 10, 10}, 20, {0, -20, 10, 10}},
                    FlipCase{"negativeSizeIsEmpty", {10, 10, -5, -5}, 100, {10, 95, 0, 0}}),
    [](const testing::TestParamInfo<FlipCase> &info) { return std::string(info.param.name); });

TEST(TopLeftGeometry, FramesThatTouchStayTouching) {
    const QRect left = topLeftGeometry({0, 0, 33.3, 10}, 10);
    const QRect right = topLeftGeometry({33.3, 0, 33.4, 10}, 10);
    EXPECT_EQ(left.right() + 1, right.left());
    const QRect lower = topLeftGeometry({0, 0, 10, 7.5}, 20);
    const QRect upper = topLeftGeometry({0, 7.5, 10, 5.2}, 20);
    EXPECT_EQ(upper.bottom() + 1, lower.top());
}

class ViewFrameTest : public testing::Test {
  protected:
    void SetUp() override { root_.resize(500, 300); }
    QWidget root_;
};

TEST_F(ViewFrameTest, FrameIsRememberedExactlyAndPlacesTheView) {
    auto *view = new QWidget(&root_);
    setFrame(view, QRectF(50.25, 27, 400, 14));
    EXPECT_EQ(frame(view), QRectF(50.25, 27, 400, 14));
    EXPECT_EQ(view->geometry(), QRect(50, 259, 400, 14));
}

TEST_F(ViewFrameTest, ViewWithoutFrameHasAnEmptyOne) {
    QWidget view;
    EXPECT_TRUE(frame(&view).isNull());
}

TEST_F(ViewFrameTest, ChildrenKeepTheirDistanceFromTheBottomAfterAResize) {
    auto *bar = new QWidget(&root_);
    setFrame(bar, QRectF(0, 0, 250, 17));
    auto *title = new QWidget(&root_);
    setFrame(title, QRectF(0, 110, 378, 16));
    auto *unframed = new QWidget(&root_);
    unframed->setGeometry(5, 6, 7, 8);

    root_.resize(378, 166);
    applyChildFrames(&root_);
    EXPECT_EQ(bar->geometry(), QRect(0, 149, 250, 17));
    EXPECT_EQ(title->geometry(), QRect(0, 40, 378, 16));
    EXPECT_EQ(unframed->geometry(), QRect(5, 6, 7, 8));
}

TEST_F(ViewFrameTest, FrameGivenBeforeTheParentAppliesOnceAdded) {
    auto *view = new QWidget;
    setFrame(view, QRectF(190, 140, 120, 47));
    view->setParent(&root_);
    EXPECT_EQ(view->geometry(), QRect(190, 113, 120, 47));

    QWidget small;
    small.resize(200, 200);
    view->setParent(&small);
    EXPECT_EQ(view->geometry(), QRect(190, 13, 120, 47));
}

TEST_F(ViewFrameTest, NewFrameReplacesTheOld) {
    auto *view = new QWidget(&root_);
    setFrame(view, QRectF(0, 0, 0, 17));
    setFrame(view, QRectF(0, 0, 125.5, 17));
    EXPECT_EQ(frame(view), QRectF(0, 0, 125.5, 17));
    EXPECT_EQ(view->geometry(), QRect(0, 283, 126, 17));
}

TEST_F(ViewFrameTest, AddedSubviewIsPlacedShownAndTopmost) {
    auto *track = new QWidget;
    setFrame(track, QRectF(0, 0, 500, 17));
    auto *bar = new QWidget;
    setFrame(bar, QRectF(0, 0, 0, 17));
    addSubview(&root_, track);
    addSubview(&root_, bar);
    EXPECT_EQ(track->geometry(), QRect(0, 283, 500, 17));
    EXPECT_FALSE(track->isHidden());
    EXPECT_EQ(root_.childAt(10, 290), track);

    setFrame(bar, QRectF(0, 0, 250, 17));
    EXPECT_EQ(root_.childAt(10, 290), bar);
    addSubview(&root_, track);
    EXPECT_EQ(root_.childAt(10, 290), track);
}

} // namespace
