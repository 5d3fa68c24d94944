// fv_about_animation_load [SECONDS]: opens the about box (offscreen unless a platform is named),
// keeps its water moving, and prints the CPU time its animation thread and the whole program
// used, as a share of one core.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fv_gui/dialogs/CAboutDialog.h"

namespace {

constexpr int kDefaultSeconds = 5;
constexpr int kDropPeriodMs = 500;

// User plus system time of the thread named `name`, in seconds; negative when not found.
double ThreadCpuSeconds(const std::string& name) {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string taskName;
        std::getline(comm, taskName);
        if (taskName != name) continue;
        std::ifstream statFile(task.path() / "stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
        // Fields after the parenthesised name: state is field 3, utime 14, stime 15.
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int n = 3; n <= 15 && rest >> field; ++n) {
            if (n == 14) utime = std::stoull(field);
            if (n == 15) stime = std::stoull(field);
        }
        return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    return -1;
}

double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultSeconds;

    DriverVersionInfo info{};
    std::strcpy(info.codeName, "Duskmere");
    fv::dialogs::CAboutDialog about(info, true, nullptr);
    about.show();
    QTimer drops;
    QObject::connect(&drops, &QTimer::timeout, &about, [&about] {
        about.OnLeftButtonDown(fv::dialogs::CAboutDialog::PictureRect().center());
    });
    drops.start(kDropPeriodMs);

    const auto wallStart = std::chrono::steady_clock::now();
    const double processStart = ProcessCpuSeconds();
    const double threadStart = ThreadCpuSeconds("fv-ripple");
    double threadUsed = 0;
    double processUsed = 0;
    double wall = 0;
    // Measured before quitting: quitting closes the box, which ends its thread.
    QTimer::singleShot(seconds * 1000, &app, [&] {
        threadUsed = ThreadCpuSeconds("fv-ripple") - threadStart;
        processUsed = ProcessCpuSeconds() - processStart;
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        QCoreApplication::quit();
    });
    app.exec();

    if (threadStart < 0) {
        std::fprintf(stderr, "animation thread not found\n");
        return 1;
    }
    std::printf("about box over %.1f s at a %lld ms period:\n", wall,
                static_cast<long long>(fv::dialogs::kRipplePeriod.count()));
    std::printf("  animation thread  %5.1f %% of one core\n", 100.0 * threadUsed / wall);
    std::printf("  whole program     %5.1f %% of one core (with the window thread's drawing)\n",
                100.0 * processUsed / wall);
    return 0;
}
