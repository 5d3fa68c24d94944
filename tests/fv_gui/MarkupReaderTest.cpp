#include "fv_gui/richtext/MarkupReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace fv::richtext;

constexpr int kWidth = 300;
constexpr Rgb kShadow{128, 128, 128};

// Records every layout action, with the font, frame and link in force.
struct Action {
    std::string what;  // "run:text", "end", "empty", "rule", "img:id", "v:n", "h:n"
    FontState font;
    LayoutFrame frame;
    std::string link;
    LinkStyle linkStyle;
    RuleSettings rule;
    ImageSettings image;
};

struct RecordingSink : LayoutSink {
    std::vector<Action> actions;

    Action& Add(std::string what) { return actions.emplace_back(Action{std::move(what), {}, {}, {}, {}, {}, {}}); }
    void Placed(Action& a, const PlacementContext& c) {
        a.font = c.font;
        a.frame = c.frame;
        a.link = c.linkTarget;
        a.linkStyle = c.link;
    }
    void AddRun(std::string_view text, const PlacementContext& c) override { Placed(Add("run:" + std::string(text)), c); }
    void EndLine(const LayoutFrame& frame) override { Add("end").frame = frame; }
    void AddEmptyLine(const FontState& font) override { Add("empty").font = font; }
    void DrawRule(const RuleSettings& rule, const LayoutFrame&) override { Add("rule").rule = rule; }
    void PlaceImage(int id, const ImageSettings& image, const PlacementContext& c) override {
        Action& a = Add("img:" + std::to_string(id));
        Placed(a, c);
        a.image = image;
    }
    void AddVerticalSpace(int n, const LayoutFrame&) override { Add("v:" + std::to_string(n)); }
    void AddHorizontalSpace(int n) override { Add("h:" + std::to_string(n)); }

    std::string Trace() const {
        std::string out;
        for (const auto& a : actions) out += (out.empty() ? "" : " ") + a.what;
        return out;
    }
    const Action& Run(const std::string& text) const {
        for (const auto& a : actions) {
            if (a.what == "run:" + text) return a;
        }
        ADD_FAILURE() << "no run " << text << " in " << Trace();
        return actions.front();
    }
};

RecordingSink Read(std::string_view markup) {
    RecordingSink sink;
    ReadMarkup(markup, kWidth, kShadow, sink);
    return sink;
}

TEST(MarkupReaderTest, LinesRunsAndLineBreakTags) {
    EXPECT_EQ(Read("one\n\ntwo <b>x\n").Trace(), "run:one end empty run:two  run:x end");
    // br is one line end, p two, with or without attributes; capitals are not recognised.
    EXPECT_EQ(Read("a<br>b<p>c\n").Trace(), "run:a end run:b end empty run:c end");
    EXPECT_EQ(Read("a<p align=\"x\">").Trace(), "run:a end empty");
    EXPECT_EQ(Read("a<br clear=\"all\">").Trace(), "run:a end");
    EXPECT_EQ(Read("a<BR>b\n").Trace(), "run:a run:b end");
    // Text after the last line end, or in an unfinished tag, is never laid out.
    EXPECT_EQ(Read("a\ntail").Trace(), "run:a end");
    EXPECT_EQ(Read("a\n<font face=\"x").Trace(), "run:a end");
    // Carriage returns, tabs, quotes and '>' outside tags are text.
    EXPECT_EQ(Read("x\t\"y\">\r\n").Trace(), "run:x\t\"y\">\r end");
}

TEST(MarkupReaderTest, FontStackPushesOnlyWithAttributes) {
    auto sink = Read("<font size=\"20\" style=\"bi\">A<font>B</font>C</font>D</font>E\n");
    EXPECT_EQ(sink.Run("A").font.size, 20);
    EXPECT_TRUE(sink.Run("A").font.bold);
    EXPECT_TRUE(sink.Run("A").font.italic);
    EXPECT_EQ(sink.Run("B").font.size, 20);  // a bare <font> pushes nothing...
    EXPECT_EQ(sink.Run("C").font, FontState{});  // ...but </font> still pops
    EXPECT_EQ(sink.Run("D").font, FontState{});  // never below the base
    EXPECT_EQ(sink.Run("E").font, FontState{});
    EXPECT_EQ(sink.Run("E").frame.width, kWidth);
}

TEST(MarkupReaderTest, TagNamesAreLowerCasedOnlyWhenAttributesFollow) {
    auto sink = Read("<FONT SIZE=\"30\">A</FONT>B</font>C\n");
    EXPECT_EQ(sink.Run("A").font.size, 30);
    EXPECT_EQ(sink.Run("B").font.size, 30);  // the capital closing tag is ignored
    EXPECT_EQ(sink.Run("C").font.size, 12);
}

TEST(MarkupReaderTest, ValuesMustBeQuotedDirectlyAfterTheEqualsSign) {
    auto sink = Read("<font size=20 face= \"Courier\" color='1,2,3' background=\"4,5,6'>A\n");
    const FontState& f = sink.Run("A").font;
    EXPECT_EQ(f.size, 12);
    EXPECT_EQ(f.face, "Arial");
    EXPECT_EQ(f.text, Colour(Rgb{1, 2, 3}));
    // The other quote character inside a value is dropped, and '>' ends the tag even in quotes.
    EXPECT_EQ(f.background, Colour{});
    EXPECT_EQ(Read("<font face=\"a>b\">X\n").Trace(), "run:b\">X end");
    EXPECT_EQ(Read("<font face=\"a>b\">X\n").actions[0].font.face, "Arial");
    // A tag broken by '>' in quotes does not leave the next tag inside quotes.
    EXPECT_EQ(Read("<font face=\"a>b<font size=\"40\">X\n").Run("X").font.size, 40);
    EXPECT_EQ(Read("<font face=\"Tahoma 'Bold'\">X\n").Run("X").font.face, "Tahoma Bold");
}

TEST(MarkupReaderTest, ColoursStylesAndSizes) {
    auto sink = Read(
        "<font color=\"0,0,0\" background=\"none\">A</font>"
        "<font color=\"none\" background=\"transparant\">B</font>"
        "<font color=\"256,-1,x\" background=\"1,2\">C</font>"
        "<font color=\"\" size=\"2000\" style=\"BU-b\">D</font>"
        "<font style=\"-S-i\" size=\"1999\" face=\"Tahoma\">E</font>"
        "<font size=\"0\" align=\"RIGHT\" valign=\"Top\">F</font>"
        "<font align=\"middle\" valign=\"centre\">G</font>\n");
    EXPECT_EQ(sink.Run("A").font.text, Colour(Rgb{0, 0, 0}));  // black, not "no colour"
    EXPECT_EQ(sink.Run("A").font.background, Colour{});
    EXPECT_EQ(sink.Run("B").font.text, Colour{});
    EXPECT_EQ(sink.Run("C").font.text, Colour(Rgb{0, 255, 0}));
    EXPECT_EQ(sink.Run("C").font.background, Colour{});  // fewer than two commas: unchanged
    EXPECT_EQ(sink.Run("D").font.text, Colour(Rgb{}));
    EXPECT_EQ(sink.Run("D").font.size, 12);
    EXPECT_FALSE(sink.Run("D").font.bold);
    EXPECT_TRUE(sink.Run("D").font.underline);
    EXPECT_FALSE(sink.Run("E").font.strikeout);
    EXPECT_EQ(sink.Run("E").font.size, 1999);
    EXPECT_EQ(sink.Run("E").font.face, "Tahoma");
    EXPECT_EQ(sink.Run("F").font.size, 12);
    EXPECT_EQ(sink.Run("F").frame.horizontal, HAlign::Right);
    EXPECT_EQ(sink.Run("F").frame.vertical, VAlign::Top);
    EXPECT_EQ(sink.Run("G").frame, (LayoutFrame{HAlign::Centre, VAlign::Middle, kWidth, kPageHeight}));

    const std::string longFace(300, 'f');
    EXPECT_EQ(Read("<font face=\"" + longFace + "\">X\n").Run("X").font.face.size(), FontState::kMaxFaceLength);
}

TEST(MarkupReaderTest, LinksCarryTargetAndHoverStyleUntilClosed) {
    auto sink = Read("<a href=\"http://x/\" color=\"0,0,255\" style=\"u\" size=\"14\">L</a>T "
                     "<a href=\"#3#arg\">M</A>N</a>O\n");
    const Action& l = sink.Run("L");
    EXPECT_EQ(l.link, "http://x/");
    EXPECT_EQ(l.linkStyle.text, std::optional<Colour>(Rgb{0, 0, 255}));
    EXPECT_FALSE(l.linkStyle.background.has_value());
    EXPECT_FALSE(l.linkStyle.bold.has_value());
    const FontState hover = l.linkStyle.Resolve(l.font);
    EXPECT_TRUE(hover.underline);
    EXPECT_EQ(hover.size, 14);
    EXPECT_EQ(hover.face, "Arial");
    EXPECT_EQ(hover.text, Colour(Rgb{0, 0, 255}));
    EXPECT_EQ(sink.Run("T ").link, "");
    EXPECT_EQ(sink.Run("M").link, "#3#arg");
    EXPECT_FALSE(sink.Run("M").linkStyle.text.has_value());  // a new link starts unstyled
    EXPECT_EQ(sink.Run("N").link, "#3#arg");
    EXPECT_EQ(sink.Run("O").link, "");
}

TEST(MarkupReaderTest, RulesImagesAndSpaces) {
    auto sink = Read("<hr><hr width=\"50\" size=\"\" align=\"Left\" color=\"none\"><hr color=\"9,9,9\" align=\"x\">");
    ASSERT_EQ(sink.Trace(), "rule rule rule");
    EXPECT_EQ(sink.actions[0].rule.width, kWidth - 100);
    EXPECT_EQ(sink.actions[0].rule.colour, Colour(kShadow));
    EXPECT_EQ(sink.actions[0].rule.thickness, 2);
    EXPECT_EQ(sink.actions[1].rule.width, 50);
    EXPECT_EQ(sink.actions[1].rule.thickness, 2);  // empty values are ignored
    EXPECT_EQ(sink.actions[1].rule.align, HAlign::Left);
    EXPECT_EQ(sink.actions[1].rule.colour, Colour{});
    EXPECT_EQ(sink.actions[2].rule.width, kWidth - 10);
    EXPECT_EQ(sink.actions[2].rule.align, HAlign::Centre);

    sink = Read("<img src=\"#151\" color=\"1,1,1\">\n<img src=\"151\"><img border=\"4\" src=\"#7x\">x\n");
    EXPECT_EQ(sink.Trace(), "img:151 end img:7 run:x end");  // an image line ends like text
    EXPECT_EQ(sink.actions[0].image.margin, 2);
    EXPECT_EQ(sink.actions[0].image.marginColour, Colour(Rgb{1, 1, 1}));
    EXPECT_EQ(sink.actions[2].image.margin, 4);

    EXPECT_EQ(Read("<vspace size=\"12\"><hspace size=\" -3\"><VSPACE size=\"x\"><vspace>").Trace(), "v:12 h:-3 v:0");
}

TEST(MarkupReaderTest, IntegersSaturate) {
    EXPECT_EQ(ParseMarkupInt("  +42px"), 42);
    EXPECT_EQ(ParseMarkupInt("-"), 0);
    EXPECT_EQ(ParseMarkupInt("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseMarkupInt("-99999999999999999999"), -2147483647 - 1);
}

}  // namespace
