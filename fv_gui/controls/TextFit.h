// Making a text fit its box visibly: a smaller face for a value that must stay whole, an
// ellipsis where something had to go. Text is never cut off silently at a box's edge.
#pragma once

#include <QFontMetrics>
#include <QRect>
#include <QString>

#include <functional>

namespace fv {

inline constexpr QChar kEllipsis{0x2026};

// The largest pixel size from `largest` down to `smallest` at which `widthAt` is at most `room`;
// `smallest` when none is (the caller then elides).
[[nodiscard]] int FittingPixelSize(int largest, int smallest, int room, const std::function<int(int)>& widthAt);

// `text` as it can be drawn word-wrapped (`flags` | Qt::TextWordWrap) into `box`: unchanged
// when it fits. Otherwise the first paragraph is cut short with an ellipsis, so that the
// paragraphs after it stay whole; when those alone do not fit, the whole text is cut short
// with an ellipsis at its end instead.
[[nodiscard]] QString FitWrapped(const QString& text, const QFontMetrics& metrics, const QRect& box, int flags);

}  // namespace fv
