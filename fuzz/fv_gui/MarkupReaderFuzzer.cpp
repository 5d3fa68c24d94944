// libFuzzer target for the markup reader: any text, any client width. Checks that every action
// it drives carries a sound font, and that a text of n bytes drives at most 2n actions.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fv_gui/richtext/MarkupReader.h"

namespace {

using namespace fv::richtext;

struct CheckingSink : LayoutSink {
    std::size_t actions = 0;

    static void Check(const FontState& f) {
        if (f.size <= 0 || f.size >= 2000 || f.face.size() > FontState::kMaxFaceLength) std::abort();
    }
    void AddRun(std::string_view text, const PlacementContext& c) override {
        if (text.empty()) std::abort();
        Check(c.font);
        Check(c.link.Resolve(c.font));
        ++actions;
    }
    void EndLine(const LayoutFrame&) override { ++actions; }
    void AddEmptyLine(const FontState& f) override {
        Check(f);
        ++actions;
    }
    void DrawRule(const RuleSettings&, const LayoutFrame&) override { ++actions; }
    void PlaceImage(int, const ImageSettings&, const PlacementContext& c) override {
        Check(c.font);
        ++actions;
    }
    void AddVerticalSpace(int, const LayoutFrame&) override { ++actions; }
    void AddHorizontalSpace(int) override { ++actions; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const int width = static_cast<std::int16_t>(data[0] | data[1] << 8);
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    CheckingSink sink;
    ReadMarkup(text, width, Rgb{1, 2, 3}, sink);
    if (sink.actions > 2 * text.size()) std::abort();
    return 0;
}
