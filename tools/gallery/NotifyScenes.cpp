// Scenes of the notification windows: the skinned frame, the popup, the tray icon and its balloon.
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "fv_gui/notify/ShellIcon.h"
#include "fv_gui/notify/SkinnedDialog.h"
#include "fv_gui/notify/TaskbarNotifier.h"
#include "fv_gui/notify/TrayIconDialog.h"
#include "fv_gui/notify/WindowCommands.h"
#include "fv_gui/res/ResourceIds.h"
#include "fv_gui/res/Resources.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

using namespace fv::notify;

const QString kPacketText = QStringLiteral(
    "Blocked an outgoing TCP packet to 203.0.113.7 port 80\n(Example hostile range)");

template <class W>
W* Keep(W* widget) {
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, widget, [widget] { delete widget; });
    return widget;
}

void SendMouse(QWidget* w, QEvent::Type type, QPoint local, Qt::MouseButtons buttons) {
    QMouseEvent e(type, QPointF(local), QPointF(w->mapToGlobal(local)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

QRect Screen() { return QGuiApplication::primaryScreen()->geometry(); }

// The program icons may not be drawn yet; the frame's icon stands in for them.
QIcon TrayIcon(int id) {
    QIcon icon = res::Icon(id);
    return icon.isNull() ? QIcon(res::Bitmap(res::kFrameIconNormal)) : icon;
}

void ShowSkinnedFrames() {
    auto* menu = Keep(new QMenu);
    menu->addMenu(QStringLiteral("Window"))->addAction(QStringLiteral("About Ferrovane..."));

    auto* dialog = Keep(new CSkinnedDialog(true, 178, nullptr));
    dialog->setWindowTitle(QStringLiteral("Ferrovane - Blocked packets: maximize held down, icon under the mouse"));
    dialog->InitSkinnedFrame(dialog, menu, true, true);
    dialog->SetClientSize(420, 160);
    auto* label = new QLabel(QStringLiteral("Client area"), dialog->ClientArea());
    label->move(12, 12);
    dialog->move(40, 40);
    dialog->show();
    SendMouse(dialog, QEvent::MouseButtonPress, QPoint(dialog->width() - 30, 10), Qt::LeftButton);
    SendMouse(dialog, QEvent::MouseMove, QPoint(10, 10), Qt::LeftButton);

    auto* plain = Keep(new CSkinnedDialog(false, 100, nullptr));
    plain->setWindowTitle(QStringLiteral("About Ferrovane"));
    plain->InitSkinnedFrame(plain, nullptr, false, false);
    plain->SetClientSize(260, 120);
    plain->move(40, 260);
    plain->show();

    auto* narrow = Keep(new CSkinnedDialog(false, 154, nullptr));
    narrow->setWindowTitle(QStringLiteral("Preferences"));
    narrow->InitSkinnedFrame(nullptr, nullptr, false, true);
    narrow->resize(56, 90);
    narrow->move(340, 260);
    narrow->show();
}

class HeldNotifier : public CTaskbarNotifier {
public:
    HeldNotifier() {
        Create(nullptr);
        (void)SetSkin(res::kNotifierSkin, 255, 0, 255);
        (void)SetCloseButton(res::kNotifierCloseButton, 189, 33, 255, 0, 255);
        SetTextFont(QStringLiteral("Tahoma"), 80, 0, kFontUnderline);
        SetTextFormat(DT_WORDBREAK);
        SetTextColors(qRgb(0, 0, 140), qRgb(0, 0, 255));
        SetTextRect(QRect(18, 60, 183, 51));
        SetMinimumGap(0);
    }
    void SlideAndHold(int ticks) {
        for (int i = 0; i < ticks; ++i) AnimationTick(NotifierAnimation::kShowTimer);
        HoldAnimation();
    }
};

void ShowNotifierSliding() {
    auto* popup = Keep(new HeldNotifier);
    popup->Show(kPacketText, 500, 4000, 200);
    popup->SlideAndHold(32);  // a little over half way out
}

void ShowNotifierWaiting() {
    auto* popup = Keep(new HeldNotifier);
    popup->Show(kPacketText, 10, 3600000, 200);
}

CTrayIconDialog* TrayDialog() {
    auto* dialog = Keep(new CTrayIconDialog(102, nullptr, {nullptr, nullptr, TrayIcon}));
    (void)dialog->SetTrayIcon(CTrayIconDialog::kIconStopped);
    dialog->SetTrayTip(QStringLiteral("Ferrovane"));
    dialog->SetTrayMenu(kTrayMenu);
    (void)dialog->AddTrayIcon();
    return dialog;
}

void ShowTrayMenu() {
    CTrayIconDialog* dialog = TrayDialog();
    QTimer::singleShot(500, dialog, [dialog] {
        dialog->ShowTrayMenu(Screen().bottomRight() - QPoint(40, 30));
    });
}

void ShowTrayBalloon() {
    CTrayIconDialog* dialog = TrayDialog();
    QTimer::singleShot(500, dialog, [dialog] {
        dialog->ShowTrayBalloon(QStringLiteral("Ferrovane - Outgoing packet"), kPacketText, BalloonIcon::Warning, 10);
    });
}

}  // namespace

std::vector<Scene> NotifyScenes() {
    return {
        {"skinned-frame", ShowSkinnedFrames},
        {"notifier-sliding", ShowNotifierSliding},
        {"notifier-waiting", ShowNotifierWaiting},
        {"tray-menu", ShowTrayMenu},
        {"tray-balloon", ShowTrayBalloon},
    };
}

}  // namespace fv::gallery
