#include "app/InstallerWindow.h"
#include "installer/ControllerFixture.h"
#include "platform/ViewAnimations.h"
#include "platform/ViewGeometry.h"
#include "ui/ImageView.h"

#include <QCoreApplication>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

namespace {

using F = ControllerFixture;

struct Installer {
    Installer() : fixture(server) {
        server.setResponse(QStringLiteral("/v1/apps/latest"), {200, {}, "[]"});
        window.reset(makeInstallerWindow(fixture.controller.get()));
        window->show();
    }
    TestServer server;
    F fixture;
    std::unique_ptr<QWidget> window;
};

struct ShrinkCase {
    QRect before;
    QPoint after;
};

class SuccessScreenShrinkTest : public ::testing::TestWithParam<ShrinkCase> {};

// About the old centre, truncated toward zero.
TEST_P(SuccessScreenShrinkTest, ShrinksTheWindowAboutItsCentre) {
    Installer installer;
    installer.window->setMinimumSize(0, 0);
    installer.window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    installer.window->setGeometry(GetParam().before);
    installer.fixture.controller->showSuccessScreen();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return installer.window->geometry() == QRect(GetParam().after, QSize(378, 166)); },
        2000))
        << installer.window->geometry().x() << "," << installer.window->geometry().y();
}

INSTANTIATE_TEST_SUITE_P(Windows, SuccessScreenShrinkTest,
                         ::testing::Values(ShrinkCase{{100, 100, 500, 300}, {161, 167}},
                                           ShrinkCase{{100, 100, 401, 300}, {111, 167}},
                                           ShrinkCase{{-100, 100, 201, 300}, {-188, 167}},
                                           ShrinkCase{{161, 167, 378, 166}, {161, 167}}));

TEST(SuccessScreenTest, ReplacesTheProgressScreenWithThePanel) {
    Installer installer;
    ViewController &c = *installer.fixture.controller;
    QTextEdit *status = c.text();
    c.showSuccessScreen();

    EXPECT_EQ(animationForKey(c.imageView(), QStringLiteral("rotateAnimation")), nullptr);
    const QList<QWidget *> children = c.view()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    ASSERT_EQ(children.size(), 3);
    auto *button = qobject_cast<QPushButton *>(children[0]);
    auto *subtitle = qobject_cast<QTextEdit *>(children[1]);
    auto *title = qobject_cast<QTextEdit *>(children[2]);
    ASSERT_TRUE(button && subtitle && title);
    EXPECT_EQ(button->text(), "Ok");
    EXPECT_EQ(frame(button), QRectF(144, 32, 90, 32));
    EXPECT_EQ(subtitle->toPlainText(), "Click OK and start to explore spaces in Plimbo");
    EXPECT_EQ(frame(subtitle), QRectF(0, 84, 378, 14));
    EXPECT_EQ(title->toPlainText(), "The installation was successful");
    EXPECT_EQ(frame(title), QRectF(0, 110, 378, 16));
    // The progress views stay with the controller, out of the window.
    EXPECT_EQ(c.text(), status);
    EXPECT_EQ(status->parent(), nullptr);

    // Once the window has its new size, the panel's views sit where their frames say.
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.view()->height() == 166; }, 2000));
    EXPECT_EQ(button->geometry(), QRect(144, 166 - 64, 90, 32));

    c.showSuccessScreen(); // again: the same window, the panel built anew
    EXPECT_EQ(c.view()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).size(), 3);
    EXPECT_TRUE(QTest::qWaitFor([&] { return installer.window->size() == QSize(378, 166); }, 2000));
}

// The button reports the launch, runs the launch command and ends the process with status 0.
TEST(SuccessScreenDeathTest, OkLaunchesTheApplicationAndEnds) {
    // The death test's child runs this test again from the start: a path both can know.
    const QString marker = QCoreApplication::applicationDirPath() + QStringLiteral("/launched");
    QFile::remove(marker);
    EXPECT_EXIT(
        {
            Installer installer;
            installer.fixture.deployment.launchCommand = "echo launched > '" + marker + "'";
            ViewController controller(installer.fixture.deployment, F::shortTimings());
            controller.view()->resize(500, 300);
            std::unique_ptr<QWidget> window(makeInstallerWindow(&controller));
            controller.showSuccessScreen();
            QTest::mouseClick(controller.view()->findChild<QPushButton *>(), Qt::LeftButton);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(QFile::exists(marker));
}

} // namespace
