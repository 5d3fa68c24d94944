#include "fv_gui/richtext/RichTextPages.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPixmap>
#include <QtMath>
#include <QString>

#include <algorithm>
#include <memory>
#include <optional>

#include "fv_gui/res/Resources.h"

namespace fv::richtext {
namespace {

constexpr int kBoldWeight = 700;
constexpr int kRuleGap = 2;  // above the rule, and again below it

QRect ToQRect(const PageRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

PageRect Intersected(const PageRect& a, const PageRect& b) {
    return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

QFont MakeFont(const FontState& f) {
    QFont font(QString::fromUtf8(f.face.data(), static_cast<qsizetype>(f.face.size())));
    font.setPixelSize(f.size);
    font.setWeight(f.bold ? static_cast<QFont::Weight>(kBoldWeight) : QFont::Normal);
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeout);
    // Unblended glyph edges keep the key colour exact around the text.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QRgb ColourOr(const Colour& c, QRgb key) {
    return c.IsNone() ? key : qRgb(c.Value().red, c.Value().green, c.Value().blue);
}

// One block of the current line: a text run or an image, with its look on both pages.
struct Item {
    PageRect box;  // left, 0, right, height within the line
    VAlign valign = VAlign::Middle;
    std::string link;
    QString text;
    FontState font;
    std::optional<FontState> hoverFont;
    QPixmap image;  // drawn for the page's pixel ratio
    int margin = 0;
    Colour fill;
    Colour hoverFill;
};

class PageBuilder final : public LayoutSink {
public:
    PageBuilder(int clientWidth, QRgb key, qreal pixelRatio) : width_(clientWidth), key_(key | 0xFF000000u) {
        const int pageWidth = std::max(clientWidth, 1);
        pages_.normal = QImage(qCeil(pageWidth * pixelRatio), qCeil(kPageHeight * pixelRatio), QImage::Format_RGB32);
        pages_.normal.setDevicePixelRatio(pixelRatio);
        pages_.normal.fill(key);
        pages_.hover = pages_.normal.copy();
        normal_ = std::make_unique<QPainter>(&pages_.normal);
        hover_ = std::make_unique<QPainter>(&pages_.hover);
    }

    RichTextPages Finish() {
        normal_.reset();
        hover_.reset();
        pages_.contentHeight = y_;
        pages_.normal = KeyToTransparent(pages_.normal);
        pages_.hover = KeyToTransparent(pages_.hover);
        return std::move(pages_);
    }

    void AddRun(std::string_view text, const PlacementContext& c) override {
        Item item;
        item.text = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
        item.font = c.font;
        QSize size = Measure(item.text, c.font);
        if (!c.linkTarget.empty()) {
            item.hoverFont = c.link.Resolve(c.font);
            const QSize hoverSize = Measure(item.text, *item.hoverFont);
            if (hoverSize.width() > size.width()) size = hoverSize;
        }
        Place(std::move(item), size.width(), size.height(), c);
    }

    void EndLine(const LayoutFrame& frame) override {
        const int left = AlignedLeft(frame.horizontal, width_, x_);
        const PageRect line{left, y_, ClampedSum(left, x_), ClampedSum(y_, lineHeight_)};
        for (const Item& item : items_) {
            const int top = AlignedTop(item.valign, lineHeight_, item.box.bottom);
            const PageRect placed = item.box.Moved(left, ClampedSum(y_, top));
            const PageRect clip = Intersected(placed, line);
            Draw(*normal_, item, placed, clip, false);
            Draw(*hover_, item, placed, clip, true);
            if (!item.link.empty()) {
                pages_.links.push_back(placed);
                pages_.targets.push_back(item.link);
            }
        }
        y_ = ClampedSum(y_, lineHeight_);
        ClearLine();
    }

    void AddEmptyLine(const FontState& font) override { y_ = ClampedSum(y_, Measure(QStringLiteral(" "), font).height()); }

    void DrawRule(const RuleSettings& rule, const LayoutFrame& frame) override {
        EndLineWithContent(frame);
        const int left = AlignedLeft(rule.align, width_, rule.width);
        const PageRect r{left, ClampedSum(y_, kRuleGap), ClampedSum(left, rule.width),
                         ClampedSum(ClampedSum(y_, kRuleGap), rule.thickness)};
        if (!r.IsEmpty()) normal_->fillRect(ToQRect(r), QColor::fromRgb(ColourOr(rule.colour, key_)));
        y_ = ClampedSum(y_, ClampedSum(rule.thickness, 2 * kRuleGap));
    }

    void PlaceImage(int resourceId, const ImageSettings& image, const PlacementContext& c) override {
        Item item;
        item.image = res::Bitmap(resourceId, pages_.normal.devicePixelRatio());
        if (item.image.isNull()) return;
        const QSize size = res::LogicalSize(item.image);
        item.margin = std::clamp(image.margin, -kCoordinateLimit, kCoordinateLimit);
        item.fill = image.marginColour;
        item.hoverFill = c.linkTarget.empty() ? image.marginColour : c.link.background.value_or(image.marginColour);
        const int width = std::max(0, ClampedSum(size.width(), 2LL * image.margin));
        const int height = std::max(0, ClampedSum(size.height(), 2LL * image.margin));
        Place(std::move(item), width, height, c);
    }

    void AddVerticalSpace(int pixels, const LayoutFrame& frame) override {
        EndLineWithContent(frame);
        y_ = ClampedSum(y_, pixels);
    }

    void AddHorizontalSpace(int pixels) override { x_ = ClampedSum(x_, pixels); }

private:
    QSize Measure(const QString& text, const FontState& font) const {
        const QFontMetrics metrics(MakeFont(font), &pages_.normal);
        return metrics.boundingRect(QRect(0, 0, width_, kPageHeight), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text)
            .size();
    }

    void Place(Item item, int width, int height, const PlacementContext& c) {
        lineHeight_ = std::max(lineHeight_, height);
        item.box = PageRect{x_, 0, ClampedSum(x_, width), height};
        item.valign = c.frame.vertical;
        item.link = c.linkTarget;
        items_.push_back(std::move(item));
        x_ = ClampedSum(x_, width);
    }

    void EndLineWithContent(const LayoutFrame& frame) {
        if (!items_.empty()) EndLine(frame);
        ClearLine();
    }

    void ClearLine() {
        items_.clear();
        x_ = 0;
        lineHeight_ = 0;
    }

    void Draw(QPainter& p, const Item& item, const PageRect& placed, const PageRect& clip, bool hoverPage) const {
        if (clip.IsEmpty()) return;
        p.save();
        p.setClipRect(ToQRect(clip));
        const bool hover = hoverPage && !item.link.empty();
        if (!item.image.isNull()) {
            const Colour fill = hover ? item.hoverFill : item.fill;
            if (!fill.IsNone()) p.fillRect(ToQRect(placed), QColor::fromRgb(ColourOr(fill, key_)));
            p.drawPixmap(ClampedSum(placed.left, item.margin), ClampedSum(placed.top, item.margin), item.image);
        } else {
            const FontState& f = hover && item.hoverFont ? *item.hoverFont : item.font;
            // Glyphs of "no colour" show only as holes in a background.
            if (!f.text.IsNone() || !f.background.IsNone()) {
                p.setFont(MakeFont(f));
                p.setPen(QColor::fromRgb(ColourOr(f.text, key_)));
                p.setBackgroundMode(f.background.IsNone() ? Qt::TransparentMode : Qt::OpaqueMode);
                p.setBackground(QColor::fromRgb(ColourOr(f.background, key_)));
                p.drawText(QRect(placed.left, placed.top, width_, kPageHeight),
                           Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, item.text);
            }
        }
        p.restore();
    }

    QImage KeyToTransparent(const QImage& page) const {
        QImage out = page.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        for (int row = 0; row < out.height(); ++row) {
            auto* line = reinterpret_cast<QRgb*>(out.scanLine(row));
            for (int col = 0; col < out.width(); ++col) {
                if (line[col] == key_) line[col] = 0;
            }
        }
        return out;
    }

    const int width_;
    const QRgb key_;
    RichTextPages pages_;
    std::unique_ptr<QPainter> normal_;
    std::unique_ptr<QPainter> hover_;
    int y_ = 0;
    int x_ = 0;
    int lineHeight_ = 0;
    std::vector<Item> items_;
};

}  // namespace

RichTextPages RenderPages(std::string_view markup, int clientWidth, QRgb keyColour, QRgb ruleColour, qreal pixelRatio) {
    PageBuilder builder(clientWidth, keyColour, std::max(pixelRatio, 1.0));
    const QRgb r = ruleColour;
    ReadMarkup(markup, clientWidth, Rgb{static_cast<std::uint8_t>(qRed(r)), static_cast<std::uint8_t>(qGreen(r)),
                                        static_cast<std::uint8_t>(qBlue(r))},
               builder);
    return builder.Finish();
}

}  // namespace fv::richtext
