// The credits markup: an HTML-like text with a handful of tags (font, a, img, hr, br, p, vspace,
// hspace), read one character at a time. The reader builds no tree; it calls the layout actions
// of a LayoutSink as it goes, with the font and frame in force at that moment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace fv::richtext {

// Height of each off-screen page; nothing below it is drawn.
inline constexpr int kPageHeight = 5000;

struct Rgb {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A colour, or "no colour" (the default), which draws nothing.
class Colour {
public:
    constexpr Colour() = default;
    constexpr Colour(Rgb rgb) : isSet_(true), rgb_(rgb) {}  // NOLINT: a colour is an RGB value
    constexpr bool IsNone() const { return !isSet_; }
    constexpr Rgb Value() const { return rgb_; }
    friend bool operator==(const Colour&, const Colour&) = default;

private:
    bool isSet_ = false;
    Rgb rgb_;
};

enum class HAlign { Left = 0, Centre = 1, Right = 2 };
enum class VAlign { Top = 0, Middle = 1, Bottom = 2 };

struct FontState {
    static constexpr std::size_t kMaxFaceLength = 259;

    std::string face = "Arial";
    int size = 12;  // character height in pixels
    bool bold = false;
    bool italic = false;
    bool underline = false;
    bool strikeout = false;
    Colour text = Rgb{};
    Colour background;
    friend bool operator==(const FontState&, const FontState&) = default;
};

struct LayoutFrame {
    HAlign horizontal = HAlign::Centre;
    VAlign vertical = VAlign::Middle;
    int width = 0;
    int height = kPageHeight;
    friend bool operator==(const LayoutFrame&, const LayoutFrame&) = default;
};

// The hover look of a link; every field may be unset and then follows the text's own font.
struct LinkStyle {
    std::string face;  // empty: unset
    int size = 0;      // 0: unset
    std::optional<bool> bold;
    std::optional<bool> italic;
    std::optional<bool> underline;
    std::optional<bool> strikeout;
    std::optional<Colour> text;
    std::optional<Colour> background;

    [[nodiscard]] FontState Resolve(const FontState& font) const;
};

struct RuleSettings {
    Colour colour;
    int width = 0;
    int thickness = 0;
    HAlign align = HAlign::Centre;
};

struct ImageSettings {
    int margin = 0;
    Colour marginColour;
};

// What is in force when a run or an image is placed.
struct PlacementContext {
    const FontState& font;
    const LayoutFrame& frame;
    std::string_view linkTarget;  // empty outside links
    const LinkStyle& link;
};

// The layout actions the reader drives.
class LayoutSink {
public:
    virtual ~LayoutSink() = default;
    virtual void AddRun(std::string_view text, const PlacementContext& context) = 0;
    virtual void EndLine(const LayoutFrame& frame) = 0;
    virtual void AddEmptyLine(const FontState& font) = 0;
    // The sink ends a line that has content first.
    virtual void DrawRule(const RuleSettings& rule, const LayoutFrame& frame) = 0;
    virtual void PlaceImage(int resourceId, const ImageSettings& image, const PlacementContext& context) = 0;
    virtual void AddVerticalSpace(int pixels, const LayoutFrame& frame) = 0;
    virtual void AddHorizontalSpace(int pixels) = 0;
};

// Reads the whole markup once from the base font and frame. `ruleColour` is the desktop's
// shadow colour, the default of every rule.
void ReadMarkup(std::string_view markup, int clientWidth, Rgb ruleColour, LayoutSink& sink);

// The value readers, shared with the callers that build markup.
// Leading white space, an optional sign and decimal digits; 0 without digits; saturates.
[[nodiscard]] int ParseMarkupInt(std::string_view text);
// "none"/"transparant": no colour; "r,g,b": that colour (each taken modulo 256); anything with
// fewer than two commas: std::nullopt (leave the colour as it was).
[[nodiscard]] std::optional<Colour> ParseMarkupColour(std::string_view text);

}  // namespace fv::richtext
