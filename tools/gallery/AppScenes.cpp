// The main window as the program shows it: start-up against the driver hosted in this process
// on a simulated adapter, filtering on, a few blocked and granted packets in both log windows.
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "fv_drv/Driver/DriverEntry.h"
#include "fv_contract/DeviceNames.h"
#include "fv_drv/host/DeviceBridge.h"
#include "fv_drv/host/Ipv4Frame.h"
#include "fv_drv/ndis/sim/SimAdapter.h"
#include "fv_drv/ndis/sim/SimStack.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/settings/Settings.h"
#include "tools/gallery/Scene.h"

namespace fv::gallery {
namespace {

constexpr std::uint32_t kLocal = 0xC0A80102;    // 192.168.1.2
constexpr std::uint32_t kListed = 0xCB007100;   // 203.0.113.0
constexpr std::uint32_t kUnlisted = 0xC6336400; // 198.51.100.0
constexpr int kPacketGapMs = 150;

}  // namespace

// The driver on one simulated Ethernet adapter "eth0", serving its control device in `dir`.
class SimulatedDriver {
public:
    explicit SimulatedDriver(const std::string& dir)
        : bridge_(dir + "/" + kControlDeviceName, host::PeerPolicy{::geteuid(), gid_t(-1)}) {
        ndis::host::SetDeviceHost(&bridge_);
        (void)ndis::host::LoadDriver(DriverEntry);
        ndis::sim::AdapterConfig config;
        config.Name = u"eth0";
        config.UpperBindings = u"fv-eth0";
        config.Address = {0x02, 0x46, 0x56, 0x00, 0x00, 0x01};
        config.VendorDescription = "Simulated Ethernet adapter";
        adapter_ = std::make_unique<ndis::sim::Adapter>(config);
        ndis::host::AddLowerAdapter(adapter_.get());
        stack_.Bind(config.UpperBindings);
    }
    ~SimulatedDriver() {
        stack_.Close();
        ndis::host::RemoveLowerAdapter(adapter_.get());
        ndis::host::UnloadDriver();
        ndis::host::SetDeviceHost(nullptr);
    }
    // Outgoing frames go down through the stack, incoming ones up from the adapter.
    void Send(std::uint32_t source, std::uint32_t destination, std::uint8_t protocol, std::uint16_t sourcePort,
              std::uint16_t destinationPort) {
        host::Ipv4FrameSpec shape;
        shape.source = source;
        shape.destination = destination;
        shape.protocol = protocol;
        shape.sourcePort = sourcePort;
        shape.destinationPort = destinationPort;
        shape.payload = 8;
        if (source == kLocal) stack_.Send(host::BuildIpv4Frame(shape));
        else adapter_->IndicatePacket(host::BuildIpv4Frame(shape));
    }

private:
    host::DeviceBridge bridge_;
    std::unique_ptr<ndis::sim::Adapter> adapter_;
    ndis::sim::Stack stack_;
};

struct MainWindowScene {
    QTemporaryDir dir;
    std::unique_ptr<SimulatedDriver> driver;
    std::unique_ptr<CMainDialog> window;
};

// The main window's scene on its simulated driver, with `configure` applied to the settings
// after the scene's own; the window has run its start-up.
MainWindowScene* StartMainWindowScene(const std::function<void(Settings&)>& configure) {
    auto* scene = new MainWindowScene;
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [scene] {
        scene->window.reset();
        scene->driver.reset();
        delete scene;
    });
    const std::string dir = scene->dir.path().toStdString();
    ::mkdir((dir + "/run").c_str(), 0700);
    ::setenv(kDeviceDirVariable, dir.c_str(), 1);
    ::setenv("FERROVANE_REGISTRY_DIR", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir + "/run").c_str(), 1);
    std::ofstream(dir + "/demo.p2p") << "Example hostile range:203.0.113.0-203.0.113.255\r\n"
                                        "Bogon sweep:192.0.2.0-192.0.2.127\r\n";
    {
        Settings settings;
        settings.IPDB.Set(dir + "/demo.p2p");
        settings.LogPath.Set(dir + "/");
        settings.SelectedAdapter.Set("eth0");
        settings.AutoStart.Set(1);
        settings.Popup.Set(0);  // no popups in the picture
        if (configure) configure(settings);
    }
    scene->driver = std::make_unique<SimulatedDriver>(dir);
    scene->window = std::make_unique<CMainDialog>();
    scene->window->OnInitDialog();
    scene->window->move(60, 40);
    return scene;
}

void SendBlockedPacket(MainWindowScene* scene, int n) {
    const auto port = static_cast<std::uint16_t>(n);
    scene->driver->Send(kLocal, kListed + 7 + port, 6, 40000 + port, 80);
}

namespace {

void ShowMainWindow() {
    MainWindowScene* scene = StartMainWindowScene(nullptr);
    for (int i = 0; i < 6; ++i) {
        QTimer::singleShot(500 + i * kPacketGapMs, scene->window.get(), [scene, i] {
            const auto n = static_cast<std::uint16_t>(i);
            if (i % 2 == 0) scene->driver->Send(kLocal, kListed + 7 + n, 6, 40000 + n, 80);
            else scene->driver->Send(kListed + 40 + n, kLocal, 17, 53, 51000 + n);
            scene->driver->Send(kLocal, kUnlisted + 10 + n, 6, 41000 + n, 443);
        });
    }
}

}  // namespace

std::vector<Scene> AppScenes() { return {{"main-window", ShowMainWindow}}; }

}  // namespace fv::gallery
