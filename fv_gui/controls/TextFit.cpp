#include "fv_gui/controls/TextFit.h"

namespace fv {
namespace {

bool Fits(const QString& text, const QFontMetrics& metrics, const QRect& box, int flags) {
    const QRect needed = metrics.boundingRect(box, flags | Qt::TextWordWrap, text);
    return needed.width() <= box.width() && needed.height() <= box.height();
}

// The longest prefix of `head` (at least none of it) for which `compose(prefix + ellipsis)` fits.
template <typename Compose>
QString LongestFitting(const QString& head, Compose compose, const QFontMetrics& metrics, const QRect& box, int flags) {
    qsizetype low = 0;
    qsizetype high = head.size();
    while (low < high) {
        const qsizetype mid = (low + high + 1) / 2;
        if (Fits(compose(head.left(mid) + kEllipsis), metrics, box, flags)) low = mid;
        else high = mid - 1;
    }
    return compose(head.left(low).trimmed() + kEllipsis);
}

}  // namespace

int FittingPixelSize(int largest, int smallest, int room, const std::function<int(int)>& widthAt) {
    for (int size = largest; size > smallest; --size) {
        if (widthAt(size) <= room) return size;
    }
    return smallest;
}

QString FitWrapped(const QString& text, const QFontMetrics& metrics, const QRect& box, int flags) {
    if (Fits(text, metrics, box, flags)) return text;
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    if (end >= 0) {
        // The break may be "\r\n": the carriage return stays with the rest.
        const qsizetype headEnd = end > 0 && text[end - 1] == QLatin1Char('\r') ? end - 1 : end;
        const QString rest = text.mid(headEnd);
        auto withRest = [&rest](const QString& head) { return head + rest; };
        if (Fits(withRest(QString(kEllipsis)), metrics, box, flags)) {
            return LongestFitting(text.left(headEnd), withRest, metrics, box, flags);
        }
    }
    return LongestFitting(text, [](const QString& head) { return head; }, metrics, box, flags);
}

}  // namespace fv
