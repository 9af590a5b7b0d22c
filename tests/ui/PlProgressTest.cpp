#include "ui/PlProgress.h"

#include "DarkPanel.h"
#include "ui/Backgroud.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr QRgb kYellow = 0xFFFFC200;

// A 100 x 40 window with the 17-high track along its bottom edge and the bar over it.
class ProgressBarTest : public testing::Test {
  protected:
    void SetUp() override {
        track_ = new Backgroud(panel_.get());
        track_->setGeometry(0, 23, 100, 17);
        bar_ = new PlProgress(panel_.get());
    }

    QRgb trackColour() const { return blended(qRgb(255, 255, 255), 0.1, kDark); }

    std::unique_ptr<QWidget> panel_{makeDarkPanel(100, 40)};
    Backgroud *track_ = nullptr;
    PlProgress *bar_ = nullptr;
};

TEST_F(ProgressBarTest, TrackIsTenPercentWhiteOverTheBackground) {
    bar_->setGeometry(0, 23, 0, 17);
    const QImage image = renderPanel(panel_.get());
    for (QPoint p : {QPoint(0, 23), QPoint(50, 30), QPoint(99, 39)})
        EXPECT_TRUE(closeTo(image.pixel(p), trackColour(), 1)) << p.x() << "," << p.y();
    EXPECT_TRUE(closeTo(trackColour(), qRgb(48, 49, 52), 1));
    EXPECT_EQ(image.pixel(50, 22), kDark);
}

TEST_F(ProgressBarTest, ZeroWidthBarDrawsNothing) {
    bar_->setGeometry(0, 23, 0, 17);
    const QImage image = renderPanel(panel_.get());
    for (int y = 23; y < 40; ++y)
        EXPECT_TRUE(closeTo(image.pixel(0, y), trackColour(), 1)) << y;
}

TEST_F(ProgressBarTest, HalfBarCoversExactlyTheLeftHalfWithSquareCorners) {
    bar_->setGeometry(0, 23, 50, 17);
    const QImage image = renderPanel(panel_.get());
    for (QPoint p : {QPoint(0, 23), QPoint(49, 23), QPoint(0, 39), QPoint(49, 39), QPoint(25, 30)})
        EXPECT_EQ(image.pixel(p), kYellow) << p.x() << "," << p.y();
    EXPECT_TRUE(closeTo(image.pixel(50, 30), trackColour(), 1));
    EXPECT_EQ(image.pixel(49, 22), kDark);
}

TEST_F(ProgressBarTest, FullBarIsAsWideAsTheTrack) {
    bar_->setGeometry(0, 23, 100, 17);
    const QImage image = renderPanel(panel_.get());
    for (int x = 0; x < 100; ++x)
        EXPECT_EQ(image.pixel(x, 31), kYellow) << x;
}

} // namespace
