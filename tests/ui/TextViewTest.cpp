#include "ui/TextView.h"

#include "DarkPanel.h"
#include "ui/Colors.h"
#include "ui/Fonts.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <gtest/gtest.h>
#include <memory>

namespace {

// The attributes of the character at `position` (the format before the following one).
QTextCharFormat formatAt(const QTextEdit *view, int position) {
    QTextCursor cursor(view->document());
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

class TextViewTest : public testing::Test {
  protected:
    const QFont font_ = namedFont("Rubik-Regular", 14);
    const QColor base_ = hexColor("#FFFFFF", 0.6);
    std::unique_ptr<QTextEdit> view_{
        makeTextView("Downloading...", font_, base_, Qt::transparent, Qt::AlignCenter)};

    void expectBase(int from, int to) const {
        for (int i = from; i < to; ++i) {
            const QTextCharFormat format = formatAt(view_.get(), i);
            EXPECT_EQ(format.foreground().color(), base_) << i;
            EXPECT_EQ(format.font(), font_) << i;
        }
    }
};

TEST_F(TextViewTest, ActsLikeALabel) {
    EXPECT_TRUE(view_->isReadOnly());
    EXPECT_EQ(view_->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(view_->document()->documentMargin(), 0);
    EXPECT_EQ(view_->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(view_->textInteractionFlags(), Qt::NoTextInteraction);
    EXPECT_EQ(view_->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(view_->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(view_->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(TextViewTest, TextStartsInTheBaseAttributes) {
    EXPECT_EQ(view_->toPlainText(), "Downloading...");
    expectBase(0, 14);
    EXPECT_EQ(view_->document()->firstBlock().blockFormat().alignment(), Qt::AlignCenter);
}

TEST_F(TextViewTest, SetAttributesChangesExactlyTheRange) {
    const QColor white = hexColor("#FFFFFF", 1.0);
    setAttributes(view_.get(), 2, 3, white, font_);
    expectBase(0, 2);
    for (int i = 2; i < 5; ++i) {
        EXPECT_EQ(formatAt(view_.get(), i).foreground().color(), white) << i;
        EXPECT_EQ(formatAt(view_.get(), i).font(), font_) << i;
    }
    expectBase(5, 14);
}

TEST_F(TextViewTest, SetAttributesReplacesTheFont) {
    const QFont bold = namedFont("Rubik-Bold", 20);
    setAttributes(view_.get(), 0, 1, base_, bold);
    EXPECT_EQ(formatAt(view_.get(), 0).font(), bold);
}

TEST_F(TextViewTest, RangeBeyondTheTextIsCutToIt) {
    const QColor white = hexColor("#FFFFFF", 1.0);
    setAttributes(view_.get(), 12, 50, white, font_);
    setAttributes(view_.get(), -3, 4, white, font_);
    EXPECT_EQ(formatAt(view_.get(), 0).foreground().color(), white);
    expectBase(1, 12);
    EXPECT_EQ(formatAt(view_.get(), 13).foreground().color(), white);
    EXPECT_EQ(view_->toPlainText(), "Downloading...");
}

TEST_F(TextViewTest, ReplacedTextReturnsToTheBaseAttributes) {
    setAttributes(view_.get(), 0, 14, hexColor("#FFFFFF", 1.0), namedFont("Rubik-Bold", 32));
    replaceText(view_.get(), "1.5 MB of 10 MB (2 MB/sec)\nsecond line");
    EXPECT_EQ(view_->toPlainText(), "1.5 MB of 10 MB (2 MB/sec)\nsecond line");
    expectBase(0, view_->document()->characterCount() - 1);
    for (QTextBlock block = view_->document()->begin(); block.isValid(); block = block.next())
        EXPECT_EQ(block.blockFormat().alignment(), Qt::AlignCenter);
}

TEST_F(TextViewTest, EmptyTextKeepsTheBaseFontForItsLine) {
    replaceText(view_.get(), "");
    EXPECT_EQ(view_->document()->firstBlock().charFormat().font(), font_);
    replaceText(view_.get(), "x");
    expectBase(0, 1);
}

// Over the dark window: the clear background lets it through, the text is centred.
TEST_F(TextViewTest, ClearBackgroundAndCentredText) {
    std::unique_ptr<QWidget> panel(makeDarkPanel(400, 20));
    QTextEdit *view = view_.release();
    view->setParent(panel.get());
    view->setGeometry(0, 0, 400, 20);
    replaceText(view, "Downloading");
    const QImage image = renderPanel(panel.get());

    QRect inked;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != kDark)
                inked |= QRect(x, y, 1, 1);
    EXPECT_EQ(image.pixel(0, 0), kDark);
    EXPECT_EQ(image.pixel(399, 19), kDark);
    ASSERT_FALSE(inked.isNull());
    EXPECT_NEAR(inked.center().x(), 200, 2);
    EXPECT_GT(inked.width(), 50);
}

TEST(TextView, OpaqueBackgroundFillsTheView) {
    std::unique_ptr<QWidget> panel(makeDarkPanel(100, 20));
    QTextEdit *view = makeTextView("Ok", namedFont("Rubik-Regular", 14), Qt::white,
                                   hexColor("#1D1E25", 1.0), Qt::AlignLeft);
    view->setParent(panel.get());
    view->setGeometry(0, 0, 100, 20);
    const QImage image = renderPanel(panel.get());
    EXPECT_EQ(image.pixel(99, 19), qRgb(29, 30, 37));
}

} // namespace
