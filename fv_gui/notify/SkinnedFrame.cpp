#include "fv_gui/notify/SkinnedFrame.h"

#include <QAction>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QWidget>
#include <QWindow>

#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"

namespace fv::notify {
namespace {

QColor Rgb(unsigned rgb) { return QColor::fromRgb(static_cast<QRgb>(rgb)); }

const int kFrameBitmaps[] = {
    res::kFrameCornerBottomLeft, res::kFrameCornerBottomRight, res::kFrameIconNormal, res::kFrameCaptionTile,
    res::kFrameCloseNormal,      res::kFrameMaximizeNormal,    res::kFrameMinimizeNormal, res::kFrameClosePressed,
    res::kFrameMaximizePressed,  res::kFrameMinimizePressed,   res::kFrameIconHover,    res::kFrameIconPressed,
};

Qt::Edges EdgesOf(FrameHit hit) {
    switch (hit) {
    case FrameHit::Left: return Qt::LeftEdge;
    case FrameHit::Right: return Qt::RightEdge;
    case FrameHit::Top: return Qt::TopEdge;
    case FrameHit::Bottom: return Qt::BottomEdge;
    case FrameHit::TopLeft: return Qt::TopEdge | Qt::LeftEdge;
    case FrameHit::TopRight: return Qt::TopEdge | Qt::RightEdge;
    case FrameHit::BottomLeft: return Qt::BottomEdge | Qt::LeftEdge;
    case FrameHit::BottomRight: return Qt::BottomEdge | Qt::RightEdge;
    default: return {};
    }
}

Qt::CursorShape CursorFor(FrameHit hit) {
    switch (hit) {
    case FrameHit::Left:
    case FrameHit::Right: return Qt::SizeHorCursor;
    case FrameHit::Top:
    case FrameHit::Bottom: return Qt::SizeVerCursor;
    case FrameHit::TopLeft:
    case FrameHit::BottomRight: return Qt::SizeFDiagCursor;
    case FrameHit::TopRight:
    case FrameHit::BottomLeft: return Qt::SizeBDiagCursor;
    default: return Qt::ArrowCursor;
    }
}

QAction* AddSystemCommand(QMenu* menu, const char* label, unsigned command) {
    QAction* action = menu->addAction(QString::fromLatin1(label));
    action->setData(static_cast<int>(command));
    return action;
}

}  // namespace

std::optional<WindowCommand> WindowCommandOf(unsigned sysCommand) {
    switch (sysCommand & kSysCommandMask) {
    case SC_MINIMIZE: return WindowCommand::Minimize;
    case SC_MAXIMIZE: return WindowCommand::Maximize;
    case SC_RESTORE: return WindowCommand::Restore;
    case SC_CLOSE: return WindowCommand::Close;
    default: return std::nullopt;
    }
}

std::unique_ptr<QMenu> SystemMenu(QWidget* window, bool hasMinimize, bool hasMaximize) {
    auto menu = std::make_unique<QMenu>();
    const bool maximized = window->isMaximized();
    AddSystemCommand(menu.get(), "&Restore", SC_RESTORE)->setEnabled(maximized || window->isMinimized());
    AddSystemCommand(menu.get(), "Mi&nimize", SC_MINIMIZE)->setEnabled(hasMinimize);
    AddSystemCommand(menu.get(), "Ma&ximize", SC_MAXIMIZE)->setEnabled(hasMaximize && !maximized);
    menu->addSeparator();
    AddSystemCommand(menu.get(), "&Close", SC_CLOSE);
    // The window's own actions are the items a program appends to its system menu.
    for (QAction* action : window->actions()) menu->addAction(action);
    return menu;
}

SkinnedFrame::SkinnedFrame(QWidget* window, int resizeBorder, Hooks hooks)
    : window_(window), client_(new QWidget(window)), resizeBorder_(resizeBorder), hooks_(std::move(hooks)) {
    window_->setMouseTracking(true);
    QPalette palette = window_->palette();
    palette.setColor(QPalette::Window, Rgb(kFrameBackground));
    window_->setPalette(palette);
    client_->setAutoFillBackground(true);
    client_->setPalette(palette);
    captionFont_ = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    Resized();
}

void SkinnedFrame::Init(QWidget* systemMenuWindow, QMenu* iconMenu, bool hasMaximize, bool hasMinimize) {
    systemMenuWindow_ = systemMenuWindow;
    iconMenu_ = FirstSubmenu(iconMenu);
    buttons_ = {hasMaximize, hasMinimize};
    ratio_ = window_->devicePixelRatioF();
    for (int id : kFrameBitmaps) bitmaps_[id] = res::Bitmap(id, ratio_);
    captionFont_ = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    window_->update();
}

void SkinnedFrame::SetClientSize(int width, int height) {
    window_->resize(width + kClientLeft + kClientRight, height + kClientTop + kClientBottom);
}

const QPixmap& SkinnedFrame::Bitmap(int id) {
    auto it = bitmaps_.find(id);
    if (it == bitmaps_.end()) it = bitmaps_.emplace(id, res::Bitmap(id, ratio_)).first;
    return it->second;
}

void SkinnedFrame::Resized() {
    const int w = window_->width(), h = window_->height();
    client_->setGeometry(kClientLeft, kClientTop, std::max(0, w - kClientLeft - kClientRight),
                         std::max(0, h - kClientTop - kClientBottom));
    QRegion shape;
    const auto rows = RoundedRectRows(w, h, kWindowCornerEllipse, kWindowCornerEllipse);
    for (int y = 0; y < static_cast<int>(rows.size()); ++y) {
        if (rows[static_cast<std::size_t>(y)].last > rows[static_cast<std::size_t>(y)].first)
            shape += QRect(rows[static_cast<std::size_t>(y)].first, y,
                           rows[static_cast<std::size_t>(y)].last - rows[static_cast<std::size_t>(y)].first, 1);
    }
    if (!shape.isEmpty()) window_->setMask(shape);
}

void SkinnedFrame::Paint(QPainter& p) {
    const int w = window_->width(), h = window_->height();
    // The window may have moved to a screen of another scale since the pieces were drawn.
    if (const qreal ratio = window_->devicePixelRatioF(); ratio != ratio_) {
        ratio_ = ratio;
        bitmaps_.clear();
    }
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(0, 0, w, h, Qt::black);
    p.setPen(Qt::black);
    p.setBrush(Rgb(kFrameBackground));
    // GDI's outline covers its rectangle minus the right and bottom pixel.
    p.drawRoundedRect(QRect(0, 0, w - 2, h - 2), kBorderCornerEllipse / 2.0, kBorderCornerEllipse / 2.0,
                      Qt::AbsoluteSize);
    FrameState state;
    state.pressed = pressed_;
    state.iconHover = iconHover_;
    state.hasIconMenu = iconMenu_ != nullptr;
    state.buttons = buttons_;
    for (const FramePiece& piece : FrameLayout(w, h, state)) {
        if (piece.kind == FramePiece::Fill) {
            p.fillRect(piece.x, piece.y, piece.w, piece.h, Rgb(piece.rgb));
        } else if (const QPixmap& bitmap = Bitmap(piece.id); !bitmap.isNull()) {
            p.drawPixmap(QPointF(piece.x, piece.y), bitmap,
                         res::DevicePart(QRect(0, 0, piece.w, piece.h), bitmap.devicePixelRatio()));
        }
    }
    const TextBox box = CaptionTextBox(w);
    const int textWidth = box.right - box.left;
    if (textWidth > 0) {
        p.setFont(captionFont_);
        p.setPen(Qt::white);
        const QString text = QFontMetrics(captionFont_).elidedText(window_->windowTitle(), Qt::ElideRight, textWidth);
        p.drawText(QRect(box.left, box.top, textWidth, box.bottom - box.top),
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip, text);
    }
}

bool SkinnedFrame::MousePress(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return false;
    const QPoint pos = e->position().toPoint();
    const FrameHit hit = HitTest(pos.x(), pos.y(), window_->width(), window_->height(), resizeBorder_);
    if (hit != FrameHit::Caption && hit != FrameHit::Client) {
        if (QWindow* handle = window_->windowHandle()) (void)handle->startSystemResize(EdgesOf(hit));
        return true;
    }
    if (hit != FrameHit::Caption) return false;
    const CaptionButton button = CaptionButtonAt(pos.x(), pos.y(), window_->width(), buttons_);
    if (button != CaptionButton::None) {
        pressed_ = button;
        window_->update();
        return true;
    }
    dragging_ = true;
    dragOffset_ = e->globalPosition().toPoint() - window_->pos();
    if (hooks_.captionPressed) hooks_.captionPressed();
    return true;
}

bool SkinnedFrame::MouseMove(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    SetIconHover(InCaptionBand(pos.y()) && pos.y() >= 0 && pos.x() > 0 && pos.x() < kCloseSlot);
    if (dragging_ && (e->buttons() & Qt::LeftButton)) {
        const QPoint proposed = e->globalPosition().toPoint() - dragOffset_;
        window_->move(hooks_.proposeMove ? hooks_.proposeMove(proposed) : proposed);
        return true;
    }
    if (resizeBorder_ > 0 && !e->buttons()) {
        window_->setCursor(CursorFor(HitTest(pos.x(), pos.y(), window_->width(), window_->height(), resizeBorder_)));
    }
    return false;
}

bool SkinnedFrame::MouseRelease(QMouseEvent* e) {
    if (e->button() == Qt::RightButton) {
        // Only the frame opens the window menu; a right-click in the client area is its own.
        const QPoint pos = e->position().toPoint();
        if (InClientArea(pos.x(), pos.y(), window_->width(), window_->height())) return false;
        ShowSystemMenu(e->globalPosition().toPoint());
        return true;
    }
    if (e->button() != Qt::LeftButton) return false;
    EndDrag();
    if (pressed_ == CaptionButton::None) return false;
    const CaptionButton button = pressed_;
    pressed_ = CaptionButton::None;
    window_->update();
    const QPoint pos = e->position().toPoint();
    if (CaptionButtonAt(pos.x(), pos.y(), window_->width(), buttons_) == button)
        Act(button, e->globalPosition().toPoint());
    return true;
}

bool SkinnedFrame::MouseDoubleClick(QMouseEvent* e) {
    const QPoint pos = e->position().toPoint();
    if (e->button() == Qt::LeftButton && buttons_.hasMaximize &&
        HitTest(pos.x(), pos.y(), window_->width(), window_->height(), resizeBorder_) == FrameHit::Caption &&
        CaptionButtonAt(pos.x(), pos.y(), window_->width(), buttons_) == CaptionButton::None) {
        Act(CaptionButton::Maximize, e->globalPosition().toPoint());
        return true;
    }
    return MousePress(e);
}

void SkinnedFrame::MouseLeft() {
    // The icon's hover image would otherwise stay lit after the mouse has left the window.
    SetIconHover(false);
}

void SkinnedFrame::EndDrag() {
    if (!dragging_) return;
    dragging_ = false;
    if (hooks_.dragEnded) hooks_.dragEnded();
}

void SkinnedFrame::CaptureLost() {
    EndDrag();
    if (pressed_ == CaptionButton::None) return;
    pressed_ = CaptionButton::None;
    window_->update();
}

void SkinnedFrame::SetIconHover(bool hover) {
    if (hover == iconHover_) return;
    iconHover_ = hover;
    window_->update(QRect(0, 0, kCloseSlot - 1, kCaptionHeight - 1));
}

void SkinnedFrame::Act(CaptionButton button, QPoint screenPos) {
    switch (button) {
    case CaptionButton::Minimize: hooks_.windowCommand(WindowCommand::Minimize); break;
    case CaptionButton::Maximize:
        hooks_.windowCommand(window_->isMaximized() ? WindowCommand::Restore : WindowCommand::Maximize);
        break;
    case CaptionButton::Close: hooks_.windowCommand(WindowCommand::Close); break;
    case CaptionButton::Icon:
        if (iconMenu_) {
            window_->activateWindow();
            if (const int command = TrackMenuBottomAligned(iconMenu_, screenPos)) hooks_.menuCommand(command);
        }
        break;
    case CaptionButton::None: break;
    }
}

void SkinnedFrame::ShowSystemMenu(QPoint screenPos) {
    if (!systemMenuWindow_) return;
    auto menu = SystemMenu(systemMenuWindow_, buttons_.hasMinimize, buttons_.hasMaximize);
    // The window's own items have already acted through their triggered signal.
    if (const auto command = WindowCommandOf(static_cast<unsigned>(TrackMenuBottomAligned(menu.get(), screenPos))))
        hooks_.windowCommand(*command);
}

}  // namespace fv::notify
