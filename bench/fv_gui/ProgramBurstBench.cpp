// A burst of blocked packets into the running program: the main window in this process (offscreen
// unless QT_QPA_PLATFORM says otherwise) against the real driver hosted over a simulated adapter,
// with frames injected at a fixed rate. It measures how late the window thread handles events
// posted from another thread, whether the counters and fvconns.log account for every packet the
// driver counted, the pace at which the blocked log window takes rows, and the peak memory.
//   fv_bench_program_burst [PACKETS_PER_SECOND] [SECONDS]
#include <QAbstractItemModel>
#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QTimer>

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fv_contract/DeviceNames.h"
#include "fv_gui/app/CMainDialog.h"
#include "fv_gui/controls/CLabel.h"
#include "fv_gui/logging/ConnectionLog.h"
#include "fv_gui/logging/MessageSink.h"
#include "fv_gui/logview/CLogListCtrl.h"
#include "fv_gui/logview/CLogWindow.h"
#include "fv_gui/settings/PacketStatistics.h"
#include "fv_gui/settings/Settings.h"
#include "fv_platform/NamedEvents.h"
#include "tests/fv_gui/HostedDriver.h"
#include "tests/fv_gui/desktop/FakeShell.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::duration;
using std::chrono::milliseconds;

constexpr const char kAdapter[] = "eth0";
constexpr std::uint32_t kListed = 0xCB007109;  // 203.0.113.9
constexpr milliseconds kInjectTick{1};
constexpr milliseconds kProbeInterval{5};
constexpr double kResponsiveLimitMs = 50.0;
constexpr int kAccountingGraceSeconds = 30;  // for the counters to catch up after the burst
constexpr int kPaceWindowSeconds = 5;         // log-window pace measured after the burst too

class PrintedMessages final : public fv::MessageSink {
public:
    void ShowMessage(const std::string& text, const std::string&, fv::MessageKind) override {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
    }
};

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t i = std::min(values.size() - 1, std::size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

std::uint64_t BlockedLogLines(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::uint64_t n = 0;
    for (std::string line; std::getline(in, line);) n += line.find("] BLOCKED [!] - ") != std::string::npos;
    return n;
}

void Spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int rate = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("fvburst-" + std::to_string(::getpid()));
    for (const char* sub : {"dev", "logs", "reg", "config"}) std::filesystem::create_directories(dir / sub);
    std::filesystem::create_directories(dir / "run");
    std::filesystem::permissions(dir / "run", std::filesystem::perms::owner_all);
    ::setenv(kDeviceDirVariable, (dir / "dev").c_str(), 1);
    ::setenv("FERROVANE_REGISTRY_DIR", (dir / "reg").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
    std::ofstream(dir / "list.p2p") << "Bench Net:203.0.113.0-203.0.113.255\r\n";

    QApplication app(argc, argv);
    int status = 0;
    {
        fv::test::HostedDriver driver((dir / "dev").string());
        driver.Add(kAdapter);
        driver.Adapter().KeepHistory = false;
        driver.Stack().KeepHistory = false;
        {
            fv::Settings settings((dir / "program").string());
            settings.IPDB.Set((dir / "list.p2p").string());
            settings.LogPath.Set((dir / "logs").string() + "/");
            settings.SelectedAdapter.Set(kAdapter);
            settings.AutoStart.Set(1);
        }
        PrintedMessages messages;
        fv::notify::testing::FakeShell shell;
        fv::CMainDialog::Services services;
        services.messages = &messages;
        services.tray.shell = &shell;
        auto window = std::make_unique<fv::CMainDialog>(services);
        window->OnInitDialog();
        for (int i = 0; i < 200 && window->BlockedLog() == nullptr; ++i) Spin(10);
        if (window->Controller().Session() == nullptr || !window->Controller().Session()->FilteringOn() || window->BlockedLog() == nullptr) {
            std::fprintf(stderr, "the program did not start filtering\n");
            return 1;
        }

        // Rows the blocked log window takes, time-stamped on the window thread.
        std::vector<Clock::time_point> rows;
        QObject::connect(window->BlockedLog()->List().model(), &QAbstractItemModel::rowsInserted,
                         [&](const QModelIndex&, int first, int last) {
                             for (int i = first; i <= last; ++i) rows.push_back(Clock::now());
                         });

        // Lateness of events posted to the window thread from another one.
        std::vector<double> delays;
        std::atomic<bool> probing{true};
        std::thread probe([&] {
            while (probing) {
                const auto posted = Clock::now();
                QMetaObject::invokeMethod(window.get(), [&delays, posted] {
                    delays.push_back(duration<double, std::milli>(Clock::now() - posted).count());
                }, Qt::QueuedConnection);
                std::this_thread::sleep_for(kProbeInterval);
            }
        });

        const auto frame = fv::test::HostedDriver::Outgoing(kListed, IPPROTO_UDP, 40000, 443);
        const std::uint64_t total = std::uint64_t(rate) * std::uint64_t(seconds);
        std::atomic<std::uint64_t> sent{0};
        const auto burstStart = Clock::now();
        std::thread injector([&] {
            auto next = burstStart;
            const auto ticks = std::chrono::seconds(seconds) / kInjectTick;
            for (long long t = 1; t <= ticks; ++t) {
                const std::uint64_t due = total * std::uint64_t(t) / std::uint64_t(ticks);
                while (sent < due) {
                    driver.Stack().Send(frame);
                    ++sent;
                }
                next += kInjectTick;
                std::this_thread::sleep_until(next);
            }
        });
        Spin(seconds * 1000);
        injector.join();
        const double burstSeconds = duration<double>(Clock::now() - burstStart).count();
        const std::size_t rowsDuringBurst = rows.size();
        Spin(kPaceWindowSeconds * 1000);
        const auto* counter = window->findChild<fv::CLabel*>(QString::number(fv::kBlockedCounter));
        const QString expected = QString("%1 / %1").arg(total);
        const auto graceStart = Clock::now();
        while (counter->text() != expected &&
               Clock::now() - graceStart < std::chrono::seconds(kAccountingGraceSeconds)) {
            Spin(100);
        }
        probing = false;
        probe.join();
        Spin(50);

        const std::uint64_t counted = window->Controller().Statistics()->GetRunningBlocked();
        const QString label = counter->text();
        const double windowSeconds = duration<double>(rows.back() - rows.front()).count();
        QCloseEvent close;
        QApplication::sendEvent(window.get(), &close);
        window.reset();
        const std::uint64_t logged = BlockedLogLines(dir / "logs" / fv::kLogFileName);
        const std::int64_t stored = fv::PacketStatistics().GetTotalBlocked();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);

        const double p99 = Percentile(delays, 0.99);
        std::printf("command: fv_bench_program_burst %d %d\n", rate, seconds);
        std::printf("injected %llu blocked frames in %.2f s (%.0f/s)\n", (unsigned long long)sent.load(),
                    burstSeconds, double(sent) / burstSeconds);
        std::printf("window thread, posted-event delay over %zu probes: p50 %.2f ms, p99 %.2f ms, max %.2f ms -> %s\n",
                    delays.size(), Percentile(delays, 0.5), p99, Percentile(delays, 1.0),
                    p99 <= kResponsiveLimitMs ? "responsive" : "NOT responsive");
        std::printf("counted by the program %llu, counter label \"%s\", fvconns.log blocked lines %llu, stored total %lld\n",
                    (unsigned long long)counted, label.toStdString().c_str(), (unsigned long long)logged,
                    (long long)stored);
        std::printf("blocked log window: %zu rows during the burst, %zu rows in all over %.1f s = %.1f rows/s; "
                    "backlog left %llu\n",
                    rowsDuringBurst, rows.size(), windowSeconds,
                    windowSeconds > 0 ? double(rows.size() - 1) / windowSeconds : 0.0,
                    (unsigned long long)(total - std::min<std::uint64_t>(total, rows.size())));
        std::printf("peak resident memory: %.1f MiB\n", double(usage.ru_maxrss) / 1024.0);
        const bool accounted = counted == total && logged == total && std::uint64_t(stored) == total &&
                               label == expected;
        std::printf("every packet accounted for: %s\n", accounted ? "yes" : "NO");
        status = accounted && p99 <= kResponsiveLimitMs ? 0 : 2;
    }
    for (const char* name : {kBlockedEventName, kGrantedEventName, kExitEventName}) fv::ReleaseNamedEvent(name);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return status;
}
