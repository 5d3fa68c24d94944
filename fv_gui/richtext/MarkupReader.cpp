#include "fv_gui/richtext/MarkupReader.h"

#include <climits>
#include <vector>

namespace fv::richtext {
namespace {

constexpr int kMaxFontSize = 2000;          // sizes must lie strictly between 0 and this
constexpr int kTaggedRuleInset = 10;        // <hr ...> with attributes
constexpr int kBareRuleInset = 100;         // plain <hr>
constexpr int kDefaultRuleThickness = 2;
constexpr int kDefaultImageMargin = 2;

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = Lower(c);
    return out;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Per style letter (b, i, u, s): cleared by "-x", else set by "x" anywhere, else unchanged.
std::array<std::optional<bool>, 4> ParseStyle(std::string_view value) {
    static constexpr char kLetters[4] = {'b', 'i', 'u', 's'};
    std::array<std::optional<bool>, 4> flags;
    for (std::size_t k = 0; k < flags.size(); ++k) {
        bool seen = false;
        bool cleared = false;
        for (std::size_t n = 0; n < value.size(); ++n) {
            if (Lower(value[n]) != kLetters[k]) continue;
            seen = true;
            if (n > 0 && value[n - 1] == '-') cleared = true;
        }
        if (cleared) {
            flags[k] = false;
        } else if (seen) {
            flags[k] = true;
        }
    }
    return flags;
}

std::optional<HAlign> ParseHAlign(std::string_view value) {
    const std::string v = Lowered(value);
    if (v == "left") return HAlign::Left;
    if (v == "center") return HAlign::Centre;
    if (v == "right") return HAlign::Right;
    return std::nullopt;
}

std::optional<VAlign> ParseVAlign(std::string_view value) {
    const std::string v = Lowered(value);
    if (v == "top") return VAlign::Top;
    if (v == "middle") return VAlign::Middle;
    if (v == "bottom") return VAlign::Bottom;
    return std::nullopt;
}

std::optional<int> ParseFontSize(std::string_view value) {
    const int n = ParseMarkupInt(value);
    if (n > 0 && n < kMaxFontSize) return n;
    return std::nullopt;
}

std::string Face(std::string_view value) {
    return std::string(value.substr(0, FontState::kMaxFaceLength));
}

class Reader {
public:
    Reader(int clientWidth, Rgb ruleColour, LayoutSink& sink)
        : ruleColour_(ruleColour), sink_(sink) {
        fonts_.emplace_back();
        LayoutFrame base;
        base.width = clientWidth;
        frames_.push_back(base);
    }

    void Read(std::string_view text) {
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            const char c = text[pos];
            if (!inTag_) {
                Outside(c);
            } else {
                Inside(c, pos > 0 ? text[pos - 1] : '\0');
            }
        }
    }

private:
    void Outside(char c) {
        if (c == '<') {
            if (!pending_.empty()) {
                AddRun();
                lineEmpty_ = false;
            }
            tagName_.clear();
            pending_.clear();
            inQuotes_ = false;
            inTag_ = true;
        } else if (c == '\n') {
            if (lineEmpty_) {
                sink_.AddEmptyLine(fonts_.back());
            } else {
                if (!pending_.empty()) AddRun();
                sink_.EndLine(frames_.back());
            }
            pending_.clear();
            lineEmpty_ = true;
        } else {
            pending_ += c;
            lineEmpty_ = false;
        }
    }

    void Inside(char c, char previous) {
        if (c == '>') {
            const int lineBreaks = EndTag();
            pending_.clear();
            inTag_ = false;
            inQuotes_ = false;
            // br and p act as if their tag text had been replaced by line ends.
            for (int n = 0; n < lineBreaks; ++n) Outside('\n');
        } else if (c == ' ' && !inQuotes_) {
            if (pending_.empty()) return;
            if (tagName_.empty()) {
                tagName_ = Lowered(pending_);
                SetTagDefaults();
            }
            pending_.clear();
        } else if (IsQuote(c) && !(inQuotes_ && c == quote_)) {
            if (previous != '=') return;
            std::string name = Lowered(std::string_view(pending_).substr(0, pending_.size() - 1));
            while (!name.empty() && name.back() == ' ') name.pop_back();
            attribute_ = std::move(name);
            pending_.clear();
            quote_ = c;
            inQuotes_ = true;
        } else if (inQuotes_ && c == quote_) {
            ApplyAttribute(pending_);
            pending_.clear();
            inQuotes_ = false;
        } else {
            pending_ += c;
        }
    }

    void AddRun() { sink_.AddRun(pending_, Context()); }

    PlacementContext Context() const {
        return PlacementContext{fonts_.back(), frames_.back(), linkTarget_, link_};
    }

    void SetTagDefaults() {
        if (tagName_ == "font") {
            editedFont_ = fonts_.back();
            editedFrame_ = frames_.back();
        } else if (tagName_ == "hr") {
            rule_ = RuleSettings{ruleColour_, frames_.back().width - kTaggedRuleInset,
                                 kDefaultRuleThickness, HAlign::Centre};
        } else if (tagName_ == "a") {
            link_ = LinkStyle{};
        } else if (tagName_ == "img") {
            image_ = ImageSettings{kDefaultImageMargin, Colour{}};
            imageSource_.clear();
        }
    }

    // Returns how many line ends the tag stands for.
    int EndTag() {
        const std::string& word = pending_;
        const bool bare = tagName_.empty();
        if (tagName_ == "font") {
            fonts_.push_back(editedFont_);
            frames_.push_back(editedFrame_);
        } else if (bare && word == "/font") {
            if (fonts_.size() > 1) fonts_.pop_back();
            if (frames_.size() > 1) frames_.pop_back();
        } else if (bare && word == "hr") {
            rule_ = RuleSettings{ruleColour_, frames_.back().width - kBareRuleInset,
                                 kDefaultRuleThickness, HAlign::Centre};
            sink_.DrawRule(rule_, frames_.back());
        } else if (tagName_ == "hr") {
            sink_.DrawRule(rule_, frames_.back());
        } else if (bare && word == "/a") {
            linkTarget_.clear();
        } else if (tagName_ == "img") {
            if (imageSource_.size() > 0 && imageSource_[0] == '#') {
                sink_.PlaceImage(ParseMarkupInt(std::string_view(imageSource_).substr(1)), image_, Context());
                // An image is content: the line end after it draws it rather than adding space.
                lineEmpty_ = false;
            }
            imageSource_.clear();
            image_ = ImageSettings{0, Colour{}};
        } else if (tagName_ == "br" || (bare && word == "br")) {
            return 1;
        } else if (tagName_ == "p" || (bare && word == "p")) {
            return 2;
        }
        return 0;
    }

    void ApplyAttribute(std::string_view value) {
        if (tagName_ == "font") {
            ApplyFontAttribute(value);
        } else if (tagName_ == "a") {
            ApplyLinkAttribute(value);
        } else if (tagName_ == "img") {
            if (attribute_ == "src") {
                if (!value.empty()) imageSource_ = value;
            } else if (attribute_ == "color") {
                if (auto colour = ParseMarkupColour(value)) image_.marginColour = *colour;
            } else if (attribute_ == "border") {
                if (!value.empty()) image_.margin = ParseMarkupInt(value);
            }
        } else if (tagName_ == "hr") {
            if (value.empty()) return;
            if (attribute_ == "color") {
                if (auto colour = ParseMarkupColour(value)) rule_.colour = *colour;
            } else if (attribute_ == "width") {
                rule_.width = ParseMarkupInt(value);
            } else if (attribute_ == "size") {
                rule_.thickness = ParseMarkupInt(value);
            } else if (attribute_ == "align") {
                const std::string v = Lowered(value);
                rule_.align = v == "left" ? HAlign::Left : v == "right" ? HAlign::Right : HAlign::Centre;
            }
        } else if (tagName_ == "vspace") {
            if (attribute_ == "size") sink_.AddVerticalSpace(ParseMarkupInt(value), frames_.back());
        } else if (tagName_ == "hspace") {
            if (attribute_ == "size") sink_.AddHorizontalSpace(ParseMarkupInt(value));
        }
    }

    void ApplyFontAttribute(std::string_view value) {
        FontState& f = editedFont_;
        if (attribute_ == "face") {
            f.face = Face(value);
        } else if (attribute_ == "size") {
            if (auto size = ParseFontSize(value)) f.size = *size;
        } else if (attribute_ == "style") {
            const auto flags = ParseStyle(value);
            bool* targets[4] = {&f.bold, &f.italic, &f.underline, &f.strikeout};
            for (std::size_t k = 0; k < flags.size(); ++k) {
                if (flags[k]) *targets[k] = *flags[k];
            }
        } else if (attribute_ == "color") {
            if (auto colour = ParseMarkupColour(value)) f.text = *colour;
        } else if (attribute_ == "background") {
            if (auto colour = ParseMarkupColour(value)) f.background = *colour;
        } else if (attribute_ == "align") {
            if (auto align = ParseHAlign(value)) editedFrame_.horizontal = *align;
        } else if (attribute_ == "valign") {
            if (auto align = ParseVAlign(value)) editedFrame_.vertical = *align;
        }
    }

    void ApplyLinkAttribute(std::string_view value) {
        if (attribute_ == "href") {
            linkTarget_ = value;
        } else if (attribute_ == "size") {
            if (auto size = ParseFontSize(value)) link_.size = *size;
        } else if (attribute_ == "face") {
            link_.face = Face(value);
        } else if (attribute_ == "style") {
            const auto flags = ParseStyle(value);
            std::optional<bool>* targets[4] = {&link_.bold, &link_.italic, &link_.underline, &link_.strikeout};
            for (std::size_t k = 0; k < flags.size(); ++k) {
                if (flags[k]) *targets[k] = *flags[k];
            }
        } else if (attribute_ == "color") {
            if (auto colour = ParseMarkupColour(value)) link_.text = *colour;
        } else if (attribute_ == "background") {
            if (auto colour = ParseMarkupColour(value)) link_.background = *colour;
        }
    }

    const Rgb ruleColour_;
    LayoutSink& sink_;

    std::vector<FontState> fonts_;
    std::vector<LayoutFrame> frames_;
    FontState editedFont_;
    LayoutFrame editedFrame_;
    LinkStyle link_;
    std::string linkTarget_;
    RuleSettings rule_;
    ImageSettings image_;
    std::string imageSource_;

    bool inTag_ = false;
    bool inQuotes_ = false;
    char quote_ = '\0';
    bool lineEmpty_ = true;
    std::string pending_;
    std::string tagName_;
    std::string attribute_;
};

}  // namespace

FontState LinkStyle::Resolve(const FontState& font) const {
    FontState out = font;
    if (!face.empty()) out.face = face;
    if (size != 0) out.size = size;
    out.bold = bold.value_or(font.bold);
    out.italic = italic.value_or(font.italic);
    out.underline = underline.value_or(font.underline);
    out.strikeout = strikeout.value_or(font.strikeout);
    out.text = text.value_or(font.text);
    out.background = background.value_or(font.background);
    return out;
}

int ParseMarkupInt(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() && (text[n] == ' ' || (text[n] >= '\t' && text[n] <= '\r'))) ++n;
    bool negative = false;
    if (n < text.size() && (text[n] == '+' || text[n] == '-')) negative = text[n++] == '-';
    long long value = 0;
    for (; n < text.size() && text[n] >= '0' && text[n] <= '9'; ++n) {
        value = value * 10 + (text[n] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

std::optional<Colour> ParseMarkupColour(std::string_view text) {
    if (text == "none" || text == "transparant") return Colour{};
    const std::size_t first = text.find(',');
    if (first == std::string_view::npos) return std::nullopt;
    const std::size_t second = text.find(',', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    auto component = [](std::string_view part) {
        return static_cast<std::uint8_t>(static_cast<unsigned>(ParseMarkupInt(part)) & 0xFFu);
    };
    return Colour{Rgb{component(text.substr(0, first)), component(text.substr(first + 1, second - first - 1)),
                      component(text.substr(second + 1))}};
}

void ReadMarkup(std::string_view markup, int clientWidth, Rgb ruleColour, LayoutSink& sink) {
    Reader reader(clientWidth, ruleColour, sink);
    reader.Read(markup);
}

}  // namespace fv::richtext
