#include "fv_gui/app/Ripple.h"

#include <algorithm>
#include <cstddef>

namespace fv {
namespace {

// The unused fourth byte of a pixel: Qt's RGB32 images expect it set.
constexpr std::uint32_t kUnusedByte = 0xFF000000u;
// Far beyond any wave the mouse can raise; keeps the neighbour sums inside 32 bits.
constexpr std::int32_t kMaxHeight = 1 << 20;

std::uint32_t Channel(std::uint32_t pixel, int shift, int minus) {
    const int v = static_cast<int>((pixel >> shift) & 0xFFu) - minus;
    return static_cast<std::uint32_t>(std::clamp(v, 0, 255)) << shift;
}

}  // namespace

Ripple::Ripple(int width, int height)
    : width_(std::max(width, 0)),
      height_(std::max(height, 0)),
      field0_(static_cast<std::size_t>(width_) * static_cast<std::size_t>(height_), 0),
      field1_(field0_.size(), 0) {}

bool Ripple::Step(std::span<const std::uint32_t> source, std::span<std::uint32_t> display, int scale) {
    if (!Render(source, display, scale)) return false;
    Update();
    return true;
}

bool Ripple::Render(std::span<const std::uint32_t> source, std::span<std::uint32_t> display, int scale) const {
    if (scale < 1 || scale > kMaxScale) return false;
    const std::size_t cells = field0_.size();
    const auto s = static_cast<std::size_t>(scale);
    if (source.size() != cells * s * s || display.size() != cells * s * s) return false;
    const int w = width_;
    const std::size_t rowPixels = static_cast<std::size_t>(w) * s;
    const long long total = static_cast<long long>(cells);
    const std::int32_t* f = field0_.data();
    for (int row = 1; row < height_ - 1; ++row) {
        for (int col = 1; col < w - 1; ++col) {
            const int i = row * w + col;
            const int dx = f[i] - f[i + 1];
            const int dy = f[i] - f[i + w];
            const long long j = i + static_cast<long long>(w) * (dy >> 3) + (dx >> 3);
            if (j <= 0 || j >= total) continue;
            // The cell's block of pixels shows the block of the cell the slope points at.
            const std::size_t fromRow = static_cast<std::size_t>(j / w) * s;
            const std::size_t fromCol = static_cast<std::size_t>(j % w) * s;
            const std::size_t toRow = static_cast<std::size_t>(row) * s;
            const std::size_t toCol = static_cast<std::size_t>(col) * s;
            for (std::size_t y = 0; y < s; ++y) {
                const std::uint32_t* from = &source[(fromRow + y) * rowPixels + fromCol];
                std::uint32_t* to = &display[(toRow + y) * rowPixels + toCol];
                for (std::size_t x = 0; x < s; ++x) {
                    const std::uint32_t p = from[x];
                    to[x] = kUnusedByte | Channel(p, 16, dx) | Channel(p, 8, dx) | Channel(p, 0, dx);
                }
            }
        }
    }
    return true;
}

void Ripple::Update() {
    const std::vector<std::int32_t>& read = toggle_ == 0 ? field1_ : field0_;
    std::vector<std::int32_t>& written = toggle_ == 0 ? field0_ : field1_;
    const int w = width_;
    for (int row = 1; row < height_ - 1; ++row) {
        for (int col = 1; col < w - 1; ++col) {
            const int i = row * w + col;
            const std::int32_t sum = read[i - w - 1] + read[i - w] + read[i - w + 1] + read[i - 1] +
                                     read[i + 1] + read[i + w - 1] + read[i + w] + read[i + w + 1];
            const std::int32_t v = (sum >> 2) - written[i];
            written[i] = v - (v >> kDampingShift);
        }
    }
    toggle_ ^= 1;
}

void Ripple::Disturb(int x, int y, int radius, int depth) {
    std::vector<std::int32_t>& field = toggle_ == 1 ? field1_ : field0_;
    const long long r = radius;
    const long long r2 = r * r;
    // Only rows and columns of the interior within the radius are visited.
    const long long rowFirst = std::max<long long>(1, y - r);
    const long long rowLast = std::min<long long>(height_ - 2, y + r);
    const long long colFirst = std::max<long long>(1, x - r);
    const long long colLast = std::min<long long>(width_ - 2, x + r);
    for (long long row = rowFirst; row <= rowLast; ++row) {
        for (long long col = colFirst; col <= colLast; ++col) {
            const long long di = row - y;
            const long long dj = col - x;
            if (di * di + dj * dj >= r2) continue;
            std::int32_t& cell = field[static_cast<std::size_t>(row * width_ + col)];
            cell = static_cast<std::int32_t>(std::clamp<long long>(static_cast<long long>(cell) + depth,
                                                                   -kMaxHeight, kMaxHeight));
        }
    }
}

}  // namespace fv
