#include "fv_gui/app/BlocklistWatch.h"

#include <sys/stat.h>

#include <filesystem>

namespace fv {
namespace {

std::int64_t Nanoseconds(const timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

FileSignature SignatureOf(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return {};
    return {true,
            std::uint64_t(status.st_dev),
            std::uint64_t(status.st_ino),
            std::int64_t(status.st_size),
            Nanoseconds(status.st_mtim),
            Nanoseconds(status.st_ctim)};
}

BlocklistWatch::BlocklistWatch(QObject* parent, int settleMs) : QObject(parent) {
    settle_.setSingleShot(true);
    settle_.setInterval(settleMs);
    connect(&settle_, &QTimer::timeout, this, &BlocklistWatch::Settled);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &BlocklistWatch::Touched);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &BlocklistWatch::Touched);
}

void BlocklistWatch::Watch(const std::string& path) {
    settle_.stop();
    for (const QStringList& watched : {watcher_.files(), watcher_.directories()}) {
        if (!watched.isEmpty()) watcher_.removePaths(watched);
    }
    path_ = path;
    seen_ = SignatureOf(path_);
    if (path_.empty()) return;
    // A rename over the name replaces the file itself: only its folder sees the new one come.
    const std::filesystem::path folder = std::filesystem::absolute(path_).parent_path();
    watcher_.addPath(QString::fromStdString(folder.string()));
    WatchFile();
}

void BlocklistWatch::WatchFile() {
    const QString file = QString::fromStdString(path_);
    if (!watcher_.files().contains(file) && SignatureOf(path_).exists) watcher_.addPath(file);
}

bool BlocklistWatch::CheckNow() {
    const FileSignature now = SignatureOf(path_);
    if (!now.exists || now == seen_) return false;
    seen_ = now;
    return true;
}

void BlocklistWatch::Postpone() {
    seen_ = {};
    settle_.start();
}

void BlocklistWatch::Touched() {
    if (path_.empty()) return;
    // The watch on a file that was replaced ends with it; the new file is watched instead.
    WatchFile();
    settle_.start();
}

void BlocklistWatch::Settled() {
    WatchFile();
    if (CheckNow()) emit Changed();
}

}  // namespace fv
