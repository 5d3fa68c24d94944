// Scenes of the tray icon on the desktop's own tray: the icon after a stop that came while it
// blinked, and the icon on a StatusNotifier host, where a left click brought the window back.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/settings/Settings.h"
#include "tools/gallery/MiniStatusNotifierHost.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

constexpr int kFirstPacketMs = 400;
constexpr int kStopMs = 700;       // within the blink the first packet starts
constexpr int kHostClickMs = 1200;
constexpr int kPanelHeight = 28;
constexpr int kPanelWidth = 220;

// Blocked packets make the icon blink; the stop comes while it does. The picture shows the
// stopped icon in the tray and "Ferrovane stopped." in the window.
void ShowTrayAfterStop() {
    MainWindowScene* scene = StartMainWindowScene([](Settings& s) {
        s.TrayAlwaysVisible.Set(1);
        s.TrayBlinkingEnabled.Set(1);
    });
    for (int i = 0; i < 3; ++i) {
        QTimer::singleShot(kFirstPacketMs + i * 50, qApp, [scene, i] { SendBlockedPacket(scene, i); });
    }
    QTimer::singleShot(kStopMs, qApp, [] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<CMainDialog*>(w)) window->ToggleFiltering();
        }
    });
}

// A panel standing for the desktop's: the pictures of the items registered with the host.
class HostPanel : public QWidget {
public:
    explicit HostPanel(MiniStatusNotifierHost& host)
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), host_(host) {
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(6, 2, 6, 2);
        layout->addWidget(new QLabel(QStringLiteral("StatusNotifier host:"), this));
        icons_ = new QHBoxLayout;
        layout->addLayout(icons_);
        setStyleSheet(QStringLiteral("background: #303840; color: white;"));
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        setGeometry(screen.right() - kPanelWidth - 40, screen.bottom() - kPanelHeight - 40, kPanelWidth, kPanelHeight);
        connect(&host_, &MiniStatusNotifierHost::ItemRegistered, this, [this](const QString& service) {
            host_.FetchIcon(service, [this](const QImage& image) {
                auto* label = new QLabel(this);
                label->setPixmap(QPixmap::fromImage(image).scaled(20, 20, Qt::KeepAspectRatio, Qt::SmoothTransformation));
                icons_->addWidget(label);
            });
        });
    }

private:
    MiniStatusNotifierHost& host_;
    QHBoxLayout* icons_;
};

// The program starts minimised into a StatusNotifier tray; the host's left click (Activate)
// brings the window back, as on GNOME with the AppIndicator extension or on KDE.
void ShowStatusNotifierHost() {
    // The host must be up before the first tray icon: Qt chooses its kind of tray once.
    auto* host = new MiniStatusNotifierHost;
    auto* panel = new HostPanel(*host);
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [host, panel] {
        delete panel;
        delete host;
    });
    panel->show();
    (void)StartMainWindowScene([](Settings& s) {
        s.LoadMinimized.Set(1);
        s.TrayAlwaysVisible.Set(1);
    });
    QTimer::singleShot(kHostClickMs, qApp, [host] {
        const QStringList items = host->Items();
        if (!items.isEmpty()) host->Activate(items.front(), QPoint(0, 0));
    });
}

}  // namespace

std::vector<Scene> TrayScenes() {
    return {
        {"tray-after-stop", ShowTrayAfterStop},
        {"tray-status-notifier", ShowStatusNotifierHost},
    };
}

}  // namespace fv::gallery
