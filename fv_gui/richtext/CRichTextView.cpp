#include "fv_gui/richtext/CRichTextView.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QtMath>

#include <algorithm>

namespace fv {
namespace {

using richtext::PageRect;

// The first paint of any view in the process repaints the whole background.
bool g_firstPaint = true;

QRect ToQRect(const PageRect& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }

// A rectangle of view coordinates as the page's pixels.
QRectF InPixels(const QRect& r, const QImage& page) {
    const qreal ratio = page.devicePixelRatio();
    return QRectF(r.x() * ratio, r.y() * ratio, r.width() * ratio, r.height() * ratio);
}

void FillWithParameter(QPainter& painter, const QRect& client, bool, std::uint32_t parameter) {
    painter.fillRect(client, QColor::fromRgb(parameter));
}

}  // namespace

CRichTextView::CRichTextView(QWidget* parent)
    : QWidget(parent),
      backgroundPainter_(FillWithParameter),
      painterParameter_(palette().color(QPalette::Button).rgb()),
      linkOpener_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    hide();
    connect(&scrollTimer_, &QTimer::timeout, this, &CRichTextView::ScrollStep);
}

void CRichTextView::SetCursors(const QCursor& normal, const QCursor& link) {
    normalCursor_ = normal;
    linkCursor_ = link;
}

bool CRichTextView::Create(const QRect& rect) {
    setGeometry(rect);
    created_ = true;
    Render();
    show();
    scrollTimer_.start(kFirstStepPeriods * scrollPeriod_);
    return true;
}

bool CRichTextView::CreateOverItem(const QWidget* placeholder) {
    if (placeholder == nullptr || placeholder->parentWidget() != parentWidget()) return false;
    return Create(placeholder->geometry());
}

void CRichTextView::SetMarkup(std::string markup) {
    markup_ = std::move(markup);
    if (created_) Render();
}

void CRichTextView::RegisterCommand(int number, CommandCallback callback) {
    commands_[number] = std::move(callback);
}

void CRichTextView::Render() {
    pages_ = richtext::RenderPages(markup_, width(), keyColour_, palette().color(QPalette::Dark).rgb(), devicePixelRatioF());
    update();
}

void CRichTextView::ScrollStep() {
    if (!isVisible()) return;
    scrollOffset_ = richtext::NextScrollOffset(scrollOffset_, pages_.contentHeight);
    const QPoint global = QCursor::pos();
    const QPoint client = mapFromGlobal(global);
    if (rect().contains(client) && QApplication::widgetAt(global) == this) UpdateHover(client);
    repaint();
    scrollTimer_.start(scrollPeriod_);
}

void CRichTextView::UpdateHover(const QPoint& client) {
    const int link = richtext::LinkAt(pages_.links, client.x(), client.y(), scrollOffset_, pages_.contentHeight, height());
    setCursor(link >= 0 ? linkCursor_ : normalCursor_);
    const PageRect hovered = link >= 0 ? pages_.links[static_cast<std::size_t>(link)] : PageRect{};
    if (hovered != hoveredLink_) {
        hoveredLink_ = hovered;
        update();
    }
}

void CRichTextView::OpenLink(const std::string& target) {
    if (auto command = richtext::ParseInternalCommand(target)) {
        auto it = commands_.find(command->number);
        if (it != commands_.end() && it->second) it->second(command->argument);
        return;
    }
    if (linkOpener_) linkOpener_(QUrl::fromUserInput(QString::fromUtf8(target.data(), static_cast<qsizetype>(target.size()))));
}

void CRichTextView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect client = rect();
    if (backgroundPainter_) backgroundPainter_(painter, client, dragging_ || g_firstPaint, painterParameter_);
    g_firstPaint = false;

    const bool hovered = !hoveredLink_.IsEmpty();
    QRect hoverScreen;
    if (hovered) hoverScreen = ToQRect(richtext::LinkOnScreen(hoveredLink_, scrollOffset_, pages_.contentHeight, height()));
    // The hovered link shows its hover look over the background instead of its normal look.
    painter.setClipRegion(hovered ? QRegion(client).subtracted(hoverScreen) : QRegion(client));
    DrawContent(painter, pages_.normal);
    if (hovered) {
        painter.setClipRect(hoverScreen);
        painter.drawImage(QPointF(hoverScreen.topLeft()), pages_.hover, InPixels(ToQRect(hoveredLink_), pages_.hover));
    }
}

void CRichTextView::DrawContent(QPainter& painter, const QImage& page) const {
    const int view = height();
    const int content = pages_.contentHeight;
    if (content <= view) {
        DrawRows(painter, page, 0, 0, content);
        return;
    }
    const int rest = content - scrollOffset_;
    DrawRows(painter, page, 0, scrollOffset_, std::min(view, rest));
    // The content ends inside the view: it starts again right below its end.
    if (rest < view) DrawRows(painter, page, rest, 0, view - rest);
}

void CRichTextView::DrawRows(QPainter& painter, const QImage& page, int viewTop, int contentTop, int rows) const {
    const int first = std::max(contentTop, 0);
    const int pageHeight = qFloor(page.height() / page.devicePixelRatio());
    const int last = std::min(contentTop + rows, pageHeight);  // content below the page is cut off
    if (last <= first) return;
    painter.drawImage(QPointF(0, viewTop + first - contentTop), page, InPixels(QRect(0, first, width(), last - first), page));
}

void CRichTextView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPoint p = event->position().toPoint();
    const int link = richtext::LinkAt(pages_.links, p.x(), p.y(), scrollOffset_, pages_.contentHeight, height());
    if (link >= 0) {
        hoveredLink_ = {};
        update();
        OpenLink(pages_.targets[static_cast<std::size_t>(link)]);
        return;
    }
    if (dragToScroll_ && pages_.contentHeight > height()) {
        scrollTimer_.stop();
        dragging_ = true;
        dragAnchor_ = p.y() + scrollOffset_;
        update();
    }
}

void CRichTextView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    if (dragging_) {
        scrollOffset_ = richtext::DragOffset(dragAnchor_, p.y(), pages_.contentHeight);
        repaint();
    } else if (rect().contains(p)) {
        UpdateHover(p);
    }
}

void CRichTextView::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) return;
    dragging_ = false;
    ScrollStep();
}

void CRichTextView::leaveEvent(QEvent* event) {
    // A link the mouse has left loses its hover look.
    if (!dragging_ && !hoveredLink_.IsEmpty()) {
        hoveredLink_ = {};
        update();
    }
    QWidget::leaveEvent(event);
}

void CRichTextView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (created_) Render();
}

}  // namespace fv
