// Scenes of the log windows: both attached under a main-window stand-in, and the row menu.
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QTimer>

#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/logview/SnapGlue.h"
#include "fv_gui/notify/SkinnedDialog.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

constexpr int kLogHeight = 100;

// Stands in for the main window: drags snap, and the attached log windows follow.
class MainStandIn : public notify::CSkinnedDialog {
public:
    MainStandIn() : CSkinnedDialog(false, 102, nullptr), handle_(this) {
        snapper_.SetSnapDistance(8);
        setWindowTitle(QStringLiteral("Ferrovane v2.01 build 9"));
        InitSkinnedFrame(this, nullptr, false, true);
        SetClientSize(420, 150);
        auto* label = new QLabel(QStringLiteral("Main window stand-in: drag me, the logs follow"),
                                 ClientArea());
        label->move(12, 12);
        move(60, 40);
        show();
        snapper_.Register(&handle_, true);
    }
    ~MainStandIn() override {
        for (CLogWindow* log : findChildren<CLogWindow*>()) delete log;
        snapper_.Unregister(&handle_);
    }
    QPoint ProposeMove(QPoint proposed) override {
        return SnapMove(snapper_, handle_, this, proposed);
    }
    void CaptionPressed() override {
        for (CLogWindow* log : findChildren<CLogWindow*>()) log->SetSnapping(false);
    }
    void DragEnded() override { snapper_.ApplyPendingAttach(); }

    // Places a log window under this one as the main window does: its width, 100 pixels high.
    CLogWindow* AddLog(int kind) {
        auto* log = new CLogWindow(snapper_, kind, this);
        const QRect frame = frameGeometry();
        log->setGeometry(frame.left(), frame.bottom() + 1 + kind * kLogHeight, frame.width(),
                         kLogHeight);
        log->show();
        return log;
    }

private:
    ScreenSnapDesktop desktop_;
    WindowSnapper snapper_{desktop_};
    WidgetSnapWindow handle_;
};

MainStandIn* ShowLogWindows() {
    auto* main = new MainStandIn;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, main, [main] { delete main; });
    CLogWindow* blocked = main->AddLog(CLogWindow::kBlocked);
    CLogWindow* granted = main->AddLog(CLogWindow::kGranted);
    const char* hosts[] = {"Example hostile range", "Bogon sweep 2", "Ad tracker net"};
    for (int i = 0; i < 5; ++i) {
        const QString address = QStringLiteral("203.0.113.%1").arg(7 + i);
        blocked->AddEntry(
            CLogListCtrl::kIconWarning,
            QStringLiteral("Packet to  \"%1\" ( %2 ) blocked. [protocol: TCP - src: %3 / dst: 80]")
                .arg(QString::fromLatin1(hosts[i % 3]), address)
                .arg(40000 + i),
            0xCB007107u + static_cast<unsigned>(i));
        granted->AddEntry(
            CLogListCtrl::kIconInformation,
            QStringLiteral(
                "Packet from  \" 192.0.2.%1 \" granted. [protocol: UDP - src: 53 / dst: %2]")
                .arg(10 + i)
                .arg(53000 + i),
            0xC000020Au + static_cast<unsigned>(i));
    }
    return main;
}

void ShowLogMenu() {
    MainStandIn* main = ShowLogWindows();
    QTimer::singleShot(500, main, [main] {
        CLogWindow* blocked = nullptr;
        for (CLogWindow* log : main->findChildren<CLogWindow*>())
            if (log->Kind() == CLogWindow::kBlocked) blocked = log;
        if (blocked == nullptr || blocked->List().RowCount() == 0) return;
        // The newest row: the list has scrolled it into view.
        QWidget* viewport = blocked->List().viewport();
        const int last = blocked->List().RowCount() - 1;
        const QPoint at =
            blocked->List().visualItemRect(blocked->List().topLevelItem(last)).center();
        QContextMenuEvent e(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
        QCoreApplication::sendEvent(viewport, &e);
    });
}

}  // namespace

std::vector<Scene> LogViewScenes() {
    return {
        {"log-windows", [] { (void)ShowLogWindows(); }},
        {"log-menu", ShowLogMenu},
    };
}

}  // namespace fv::gallery
