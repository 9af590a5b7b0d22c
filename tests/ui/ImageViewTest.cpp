#include "ui/ImageView.h"

#include "platform/ViewAnimations.h"
#include "platform/ViewGeometry.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QVariantAnimation>
#include <QtMath>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>

namespace {

const QString kLogo = QStringLiteral(":/plimbo.svg");
const QSizeF kLogoSize(68, 68);

QImage renderView(ImageView &view) {
    QImage image(view.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    view.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// Mean difference per channel, 0 to 255.
double difference(const QImage &a, const QImage &b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    return sum / (4.0 * a.width() * a.height());
}

// The smallest rectangle holding every pixel that is not fully transparent.
QRect paintedArea(const QImage &image) {
    QRect area;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > 0)
                area |= QRect(x, y, 1, 1);
    return area;
}

TEST(ImageView, LogoResourceIsCompiledIn) {
    EXPECT_TRUE(QFile(kLogo).exists());
}

TEST(ImageView, ImageFrameIsTheImageSquareOnTheFrameCentre) {
    QWidget root;
    root.resize(500, 300);
    auto *view = new ImageView(kLogo, kLogoSize, &root);
    setFrame(view, QRectF(202, 161, 96, 96));
    EXPECT_EQ(view->imageFrame(), QRectF(216, 175, 68, 68));
}

TEST(ImageView, WideImageIsFittedKeepingItsProportionsAndCentred) {
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.svg");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 200 100">)"
               R"(<rect width="200" height="100" fill="#FF0000"/></svg>)");
    file.close();

    ImageView view(path, QSizeF(68, 68));
    view.resize(96, 96);
    EXPECT_EQ(paintedArea(renderView(view)), QRect(14, 31, 68, 34));
}

TEST(ImageView, MissingImageShowsNothing) {
    ImageView view(QStringLiteral(":/no-such-image.svg"), kLogoSize);
    view.resize(96, 96);
    EXPECT_TRUE(paintedArea(renderView(view)).isNull());
}

TEST(ImageView, PositiveRotationTurnsCounterClockwiseAboutTheCentre) {
    ImageView view(kLogo, kLogoSize);
    view.resize(96, 96);
    const QImage upright = renderView(view);
    EXPECT_EQ(paintedArea(upright).center(), QPoint(47, 47));

    view.setRotation(std::numbers::pi / 2);
    const QImage turned = renderView(view);
    const QImage counterClockwise = upright.transformed(QTransform().rotate(-90));
    const QImage clockwise = upright.transformed(QTransform().rotate(90));
    EXPECT_LT(difference(turned, counterClockwise), 0.5);
    EXPECT_GT(difference(turned, clockwise), 5.0);
}

class SpinningTest : public testing::Test {
  protected:
    void SetUp() override {
        view_.resize(96, 96);
        upright_ = renderView(view_);
        startSpinning(&view_);
    }

    QVariantAnimation *spin() const { return animationForKey(&view_, "rotateAnimation"); }

    ImageView view_{kLogo, kLogoSize};
    QImage upright_;
};

TEST_F(SpinningTest, OneEndlessLinearClockwiseTurnEveryFourSeconds) {
    ASSERT_NE(spin(), nullptr);
    EXPECT_EQ(spin()->state(), QAbstractAnimation::Running);
    EXPECT_EQ(spin()->duration(), 4000);
    EXPECT_EQ(spin()->loopCount(), -1);
    EXPECT_EQ(spin()->easingCurve().type(), QEasingCurve::Linear);

    spin()->setCurrentTime(0);
    EXPECT_DOUBLE_EQ(view_.rotation(), 2 * std::numbers::pi);
    spin()->setCurrentTime(1000);
    EXPECT_NEAR(view_.rotation(), 1.5 * std::numbers::pi, 1e-9);
    spin()->setCurrentTime(3000);
    EXPECT_NEAR(view_.rotation(), 0.5 * std::numbers::pi, 1e-9);
    spin()->setCurrentTime(4000 * 7 + 2000);
    EXPECT_NEAR(view_.rotation(), std::numbers::pi, 1e-9);
}

TEST_F(SpinningTest, AngleFallsAsTimePasses) {
    const double before = view_.rotation();
    ASSERT_TRUE(QTest::qWaitFor([&] { return view_.rotation() < before - 0.05; }, 2000));
}

TEST_F(SpinningTest, SpinningAgainKeepsOneAnimation) {
    QPointer<QVariantAnimation> first = spin();
    startSpinning(&view_);
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(view_.findChildren<QVariantAnimation *>().size(), 1);
}

TEST_F(SpinningTest, RemovingTheAnimationLeavesTheLogoUpright) {
    spin()->setCurrentTime(1000);
    ASSERT_GT(difference(renderView(view_), upright_), 2.0);
    removeAnimation(&view_, "rotateAnimation");
    EXPECT_EQ(view_.rotation(), 0.0);
    EXPECT_EQ(difference(renderView(view_), upright_), 0.0);
}

TEST(ImageView, SpinningViewCanBeDestroyedWithItsParent) {
    auto parent = std::make_unique<QWidget>();
    auto *view = new ImageView(kLogo, kLogoSize, parent.get());
    startSpinning(view);
    QPointer<QVariantAnimation> spin = animationForKey(view, "rotateAnimation");
    parent.reset();
    EXPECT_TRUE(spin.isNull());
}

} // namespace
