#include "fv_gui/richtext/CRichTextView.h"

#include <QTest>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "tests/fv_gui/desktop/ScaledArt.h"

namespace {

using fv::CRichTextView;
using fv::richtext::PageRect;
using fv::richtext::RenderPages;

constexpr QRgb kKey = 0xFFFF00FFu;
constexpr QRgb kRule = 0xFF808080u;

bool RowHasInk(const QImage& page, int row) {
    for (int x = 0; x < page.width(); ++x) {
        if (qAlpha(page.pixel(x, row)) != 0) return true;
    }
    return false;
}

TEST(RichTextPagesTest, LinesRulesAndLinksLandWhereTheLayoutSays) {
    const auto pages = RenderPages(
        "<font size=\"20\">Big</font><a href=\"http://x.example/\">small</a>\n"
        "<vspace size=\"10\"><hr width=\"40\" size=\"3\" align=\"left\" color=\"0,0,255\">"
        "unfinished",
        200, kKey, kRule);
    ASSERT_EQ(pages.links.size(), 1u);
    EXPECT_EQ(pages.targets[0], "http://x.example/");
    const PageRect link = pages.links[0];
    // One line as high as its tallest run; the small link sits centred beside "Big".
    const int lineHeight = pages.contentHeight - 10 - (3 + 4);
    EXPECT_GT(lineHeight, 18);
    EXPECT_GT(link.top, 0);
    EXPECT_LT(link.bottom, lineHeight);
    EXPECT_GT(link.left, 100 / 2);  // right of the centre-placed "Big"

    // The rule is on the normal page only, two rows below the space; the tail line is never drawn.
    const int ruleTop = lineHeight + 10 + 2;
    EXPECT_EQ(pages.normal.pixel(0, ruleTop), 0xFF0000FFu);
    EXPECT_EQ(pages.normal.pixel(39, ruleTop + 2), 0xFF0000FFu);
    EXPECT_EQ(qAlpha(pages.normal.pixel(40, ruleTop)), 0);
    EXPECT_EQ(qAlpha(pages.hover.pixel(0, ruleTop)), 0);
    for (int row = pages.contentHeight; row < pages.contentHeight + 40; ++row) ASSERT_FALSE(RowHasInk(pages.normal, row));
    // Key colour is transparent everywhere it was not painted over.
    EXPECT_EQ(qAlpha(pages.normal.pixel(199, 0)), 0);
}

TEST(RichTextPagesTest, AScaledScreenGetsPagesOfMorePixelsWithTheSameLayout) {
    const std::string markup = "Some <a href=\"#1\">credits</a>\n<hr width=\"40\" size=\"3\" align=\"left\" color=\"0,0,255\">end\n";
    const auto plain = RenderPages(markup, 200, kKey, kRule);
    const auto scaled = RenderPages(markup, 200, kKey, kRule, 2.0);
    EXPECT_EQ(scaled.normal.width(), 400);
    EXPECT_EQ(scaled.normal.devicePixelRatio(), 2.0);
    EXPECT_EQ(scaled.contentHeight, plain.contentHeight);
    EXPECT_EQ(scaled.links, plain.links);
    // The rule covers twice the rows and columns of device pixels.
    int plainRule = 0;
    int scaledRule = 0;
    for (int y = 0; y < plain.normal.height(); ++y) plainRule += plain.normal.pixel(0, y) == 0xFF0000FFu;
    for (int y = 0; y < scaled.normal.height(); ++y) scaledRule += scaled.normal.pixel(0, y) == 0xFF0000FFu;
    EXPECT_EQ(plainRule, 3);
    EXPECT_EQ(scaledRule, 6);
}

// An image on pages for a scaled screen is drawn with the screen's pixels, at its size in the
// view's coordinates.
TEST(RichTextPagesTest, ImagesOnScaledPagesAreDrawnWithTheScreensPixels) {
    const std::string markup = "<a href=\"x\"><img src=\"#" + std::to_string(fv::res::kBitmapSliderThumb) + "\" border=\"0\"></a>\n";
    const QSize size = fv::res::Bitmap(fv::res::kBitmapSliderThumb).size();
    for (qreal ratio : {1.0, 2.0}) {
        SCOPED_TRACE(ratio);
        const auto pages = RenderPages(markup, 200, qRgb(1, 2, 3), kRule, ratio);
        ASSERT_EQ(pages.links.size(), 1u);
        const PageRect box = pages.links[0];
        EXPECT_EQ(QSize(box.right - box.left, box.bottom - box.top), size);
        EXPECT_EQ(fv::test::DifferingPixels(pages.normal, QPoint(box.left, box.top) * ratio,
                                            fv::res::Bitmap(fv::res::kBitmapSliderThumb, ratio)),
                  0);
    }
}

TEST(RichTextPagesTest, TextOfNoColourIsInvisibleAndBlackIsNot) {
    const auto none = RenderPages("<font color=\"none\">Hidden</font>\n", 120, kKey, kRule);
    const auto black = RenderPages("<font color=\"0,0,0\">Hidden</font>\n", 120, kKey, kRule);
    EXPECT_EQ(none.contentHeight, black.contentHeight);
    bool inkNone = false;
    bool inkBlack = false;
    for (int row = 0; row < black.contentHeight; ++row) {
        inkNone = inkNone || RowHasInk(none.normal, row);
        inkBlack = inkBlack || RowHasInk(black.normal, row);
    }
    EXPECT_FALSE(inkNone);
    EXPECT_TRUE(inkBlack);
}

TEST(RichTextPagesTest, ExtremeRuleWidthsAndImageMarginsLayOutWithoutOverflow) {
    for (const char* value : {"2147483647", "-2147483648", "2147483646", "-2147483647"}) {
        const std::string v = value;
        const auto pages = RenderPages("x<img src=\"#128\" margin=\"" + v + "\">y\n<hr width=\"" + v +
                                           "\" size=\"" + v + "\" align=\"right\">\n<hr width=\"" + v +
                                           "\" align=\"center\">z\n",
                                       200, kKey, kRule);
        EXPECT_GE(pages.contentHeight, -fv::richtext::kCoordinateLimit) << value;
        EXPECT_LE(pages.contentHeight, fv::richtext::kCoordinateLimit) << value;
    }
}

class RichTextViewTest : public testing::Test {
protected:
    QWidget window;
    CRichTextView* view = new CRichTextView(&window);
    std::optional<QUrl> opened;

    void SetUp() override {
        window.resize(300, 200);
        view->SetLinkOpener([this](const QUrl& url) { opened = url; });
        // The tests step the scroll themselves: a timer step while a slow machine waits for the
        // window would move every offset they expect.
        view->SetScrollPeriod(kNoTimerStep);
    }
    static constexpr int kNoTimerStep = 3'600'000;  // an hour in milliseconds
    void Create(const std::string& markup, int height) {
        view->SetMarkup(markup);
        ASSERT_TRUE(view->Create(QRect(10, 10, 200, height)));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QPoint LinkCentre(std::size_t n) const {
        const PageRect r = view->Pages().links.at(n);
        return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2 - view->ScrollOffset());
    }
};

TEST_F(RichTextViewTest, ContentThatFitsNeitherDragsNorMovesItsLinks) {
    Create("<a href=\"#3#arg\">cmd</a>\n<a href=\"mailto:a@b.example\">mail</a>\n", 150);
    std::optional<std::string> argument;
    int calls = 0;
    view->RegisterCommand(3, [&](const std::optional<std::string>& a) {
        argument = a;
        ++calls;
    });
    const QImage before = view->grab().toImage();
    view->ScrollStep();
    view->ScrollStep();
    EXPECT_EQ(view->ScrollOffset(), 2);
    EXPECT_EQ(view->grab().toImage(), before);  // short content stays drawn at the top

    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(2, 140));
    EXPECT_FALSE(view->IsDragging());
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(2, 140));

    const QPoint first(LinkCentre(0).x(), LinkCentre(0).y() + view->ScrollOffset());
    QTest::mouseMove(view, first);
    EXPECT_EQ(view->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(view->HoveredLink(), view->Pages().links[0]);
    QTest::mouseClick(view, Qt::LeftButton, {}, first);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(argument, "arg");
    EXPECT_TRUE(view->HoveredLink().IsEmpty());

    const PageRect mail = view->Pages().links[1];
    QTest::mouseClick(view, Qt::LeftButton, {}, QPoint((mail.left + mail.right) / 2, (mail.top + mail.bottom) / 2));
    ASSERT_TRUE(opened.has_value());
    EXPECT_EQ(opened->toString(), "mailto:a@b.example");
    QTest::mouseMove(view, QPoint(2, 140));
    EXPECT_EQ(view->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(RichTextViewTest, HoverLookOfShortContentIsDrawnAtTheLinkWhateverTheOffset) {
    Create("<a href=\"#1\">a link with a look of its own</a>\n", 150);
    for (int n = 0; n < 5; ++n) view->ScrollStep();
    ASSERT_EQ(view->ScrollOffset(), 5);
    const PageRect link = view->Pages().links.at(0);
    QTest::mouseMove(view, QPoint((link.left + link.right) / 2, (link.top + link.bottom) / 2));
    ASSERT_EQ(view->HoveredLink(), link);
    const QImage shown = view->grab().toImage();
    const QImage& hover = view->Pages().hover;
    int inked = 0;
    int wrong = 0;
    for (int y = link.top; y < link.bottom; ++y) {
        for (int x = link.left; x < link.right; ++x) {
            if (qAlpha(hover.pixel(x, y)) == 0) continue;
            ++inked;
            if (shown.pixel(x, y) != hover.pixel(x, y)) ++wrong;
        }
    }
    EXPECT_GT(inked, 0);
    EXPECT_EQ(wrong, 0);
}

TEST_F(RichTextViewTest, TallContentDragsModuloItsHeightAndResumesScrolling) {
    std::string markup;
    for (int n = 0; n < 20; ++n) markup += "line " + std::to_string(n) + "\n";
    Create(markup, 60);
    const int content = view->ContentHeight();
    ASSERT_GT(content, 60);

    QTest::mousePress(view, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_TRUE(view->IsDragging());
    QTest::mouseMove(view, QPoint(5, 40));  // dragged 30 rows down from offset 0
    EXPECT_EQ(view->ScrollOffset(), content - 30);
    QTest::mouseMove(view, QPoint(5, 4));
    EXPECT_EQ(view->ScrollOffset(), 6);
    QTest::mouseRelease(view, Qt::LeftButton, {}, QPoint(5, 4));
    EXPECT_FALSE(view->IsDragging());
    EXPECT_EQ(view->ScrollOffset(), 7);  // one step at once on release

    // A resize lays the text out again and keeps the offset.
    view->resize(120, 60);
    EXPECT_GT(view->ContentHeight(), 0);
    EXPECT_EQ(view->ScrollOffset(), 7);
    EXPECT_EQ(view->Pages().normal.width(), 120);
}

}  // namespace
