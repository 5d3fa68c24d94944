#include "fv_gui/notify/CControlTip.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTimerEvent>

#include <cmath>

namespace fv {
namespace {

constexpr int kTextLeft = 18;  // text starts right of the arrow strip
constexpr int kTextTop = 2;

TipRect ScreenRect(const QWidget* widget) {
    const QRect r(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
}

}  // namespace

CControlTip::CControlTip() { CreateFont(); }

void CControlTip::CreateFont() {
    const QFont menu = QApplication::font("QMenu");
    int height = menu.pixelSize();
    if (height <= 0) {
        const qreal dpi = screen() ? screen()->logicalDotsPerInchY() : 96.0;
        height = static_cast<int>(std::lround(menu.pointSizeF() * dpi / 72.0));
    }
    font_ = QFont(QStringLiteral("Tahoma"));
    font_.setWeight(menu.weight());
    font_.setItalic(menu.italic());
    const int lfHeight = TipFontHeight(-height);
    font_.setPixelSize(std::max(1, std::abs(lfHeight)));
}

bool CControlTip::Create(QWidget* parent) {
    owner_ = parent;
    setParent(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(0, 0);
    return true;
}

void CControlTip::AddControlTip(QWidget* control, const QString& text) {
    if (control == nullptr) return;
    controlRect_ = ScreenRect(control);
    tracker_.AddTool(control, text.toStdString());
}

void CControlTip::RelayMouseMessage(QWidget* window, const QEvent* event) {
    if (event == nullptr || event->type() != QEvent::MouseMove) return;
    const bool onTip = window != nullptr && (window == this || isAncestorOf(window));
    Carry(tracker_.OnMouseMove(window, onTip));
}

bool CControlTip::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseMove && watched->isWidgetType()) {
        const auto* move = static_cast<const QMouseEvent*>(event);
        const bool repeat = move->timestamp() == lastRelayed_ &&
                            move->globalPosition() == lastRelayedAt_;
        if (!repeat) {
            lastRelayed_ = move->timestamp();
            lastRelayedAt_ = move->globalPosition();
            RelayMouseMessage(static_cast<QWidget*>(watched), event);
        }
    } else if (event->type() == QEvent::Leave && watched->isWidgetType() && watched != this &&
               static_cast<QWidget*>(watched)->isWindow()) {
        PointerLeftWindow();
    }
    return QWidget::eventFilter(watched, event);
}

void CControlTip::PointerLeftWindow() {
    // Moves outside the program never reach it: leaving one of its windows counts as a move onto
    // whatever is under the pointer now, which is nothing of the program's when it left them all.
    QWidget* under = QApplication::widgetAt(QCursor::pos());
    const bool onTip = under != nullptr && (under == this || isAncestorOf(under));
    Carry(tracker_.OnMouseMove(under, onTip));
}

void CControlTip::Carry(const TipActions& actions) {
    if (actions.hide) hide();
    if (actions.stopShowTimer) showTimer_.stop();
    if (actions.stopHideTimer) hideTimer_.stop();
    if (actions.startShowTimer) showTimer_.start(TipTracker::kShowDelayMs, this);
    if (actions.layoutAndShow) LayOut();
    if (actions.startHideTimer) hideTimer_.start(TipTracker::kHideDelayMs, this);
}

void CControlTip::timerEvent(QTimerEvent* event) {
    if (event->timerId() == hideTimer_.timerId()) {
        Carry(tracker_.OnHideTimer(isVisible()));
    } else if (event->timerId() == showTimer_.timerId()) {
        Carry(tracker_.OnShowTimer());
    } else {
        QWidget::timerEvent(event);
    }
}

void CControlTip::LayOut() {
    const QPoint cursor = QCursor::pos();
    if (const QWidget* under = QApplication::widgetAt(cursor); under != nullptr) {
        controlRect_ = ScreenRect(under);
    }
    const QFontMetrics metrics(font_);
    size_ = MeasureTip(
        TipLines(tracker_.CurrentText()),
        [&metrics](const std::string& line) {
            return metrics.horizontalAdvance(QString::fromStdString(line));
        },
        metrics.height());
    const QScreen* screen = QGuiApplication::screenAt(cursor);
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect();
    const TipRect screenRect{area.x(), area.y(), area.x() + area.width(), area.y() + area.height()};
    const TipPlacement place = PlaceTip({cursor.x(), cursor.y()}, controlRect_, size_,
                                        screenRect, tracker_.options.atCursor);
    direction_ = place.direction;
    setGeometry(place.left, place.top, size_.width, size_.height);
    show();
    raise();
    update();
}

void CControlTip::paintEvent(QPaintEvent*) {
    // Widgets paint into a back buffer that reaches the screen in one copy.
    QPainter painter(this);
    const QRect client = rect();
    painter.fillRect(client, background_);

    QString text = QString::fromStdString(tracker_.CurrentText());
    text.remove(QLatin1Char('\r'));
    painter.setFont(font_);
    painter.setPen(textColour_);
    const int wrap = size_.multiLine ? Qt::TextWordWrap : 0;
    painter.drawText(client.adjusted(kTextLeft, kTextTop, 0, 0),
                     Qt::AlignLeft | Qt::AlignTop | wrap, text);

    painter.fillRect(0, 0, kTipStripWidth, client.height(), strip_);
    const auto arrow = ArrowPolyline(direction_, client.height());
    QPoint points[kTipArrowPoints];
    for (int i = 0; i < kTipArrowPoints; ++i) points[i] = QPoint(arrow[i].x, arrow[i].y);
    painter.setPen(QPen(arrow_, 1));
    painter.drawPolyline(points, kTipArrowPoints);

    painter.setPen(Qt::NoPen);
    painter.fillRect(0, 0, client.width(), 1, border_);
    painter.fillRect(0, 0, 1, client.height(), border_);
    painter.fillRect(client.width() - 1, 0, 1, client.height(), border_);
    painter.fillRect(0, client.height() - 1, client.width(), 1, border_);
}

}  // namespace fv
