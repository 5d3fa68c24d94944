// A small popup that explains a control when the mouse rests on it, with an arrow pointing at
// the control. The owner registers controls and relays mouse moves to it.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QWidget>

#include "fv_gui/notify/TipLayout.h"
#include "fv_gui/notify/TipTracker.h"

class QMouseEvent;

namespace fv {

class CControlTip : public QWidget {
    Q_OBJECT

public:
    CControlTip();

    // Makes the tip a popup window owned by parent. True when the window exists.
    bool Create(QWidget* parent);
    void AddControlTip(QWidget* control, const QString& text);
    void SetOptions(const TipOptions& options) { tracker_.options = options; }

    // The owner passes every event here before its own handling; only mouse moves count, and
    // window is the widget under the mouse.
    void RelayMouseMessage(QWidget* window, const QEvent* event);

    // Installed on the application, relays every mouse move once (Qt hands a move the widget
    // ignores on to its parents; the first receiver is the widget under the mouse), and the
    // pointer leaving one of the program's windows.
    bool eventFilter(QObject* watched, QEvent* event) override;

    [[nodiscard]] int ArrowDirection() const { return direction_; }
    [[nodiscard]] const TipTracker& Tracker() const { return tracker_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void CreateFont();
    void Carry(const TipActions& actions);
    void PointerLeftWindow();
    void LayOut();

    QPointer<QWidget> owner_;
    QColor background_{Qt::white};
    QColor strip_{183, 208, 254};
    QColor border_{0, 62, 135};
    QColor textColour_{Qt::black};
    QColor arrow_{55, 10, 53};
    int direction_ = 1;
    TipSize size_;
    TipRect controlRect_;
    QBasicTimer hideTimer_;
    QBasicTimer showTimer_;
    QFont font_;
    TipTracker tracker_;
    ulong lastRelayed_ = 0;
    QPointF lastRelayedAt_;
};

}  // namespace fv
