// Tells when the blocklist file changes on disk: a new file renamed over its name (how list
// updates arrive) or the same file rewritten in place. The file must have been quiet for a
// while first, so that one still being written is not read halfway.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>

namespace fv {

// How long the file must stay untouched before it is looked at.
inline constexpr int kBlocklistSettleMs = 1000;

// What tells one version of a file from another without reading it.
struct FileSignature {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    std::int64_t changedNs = 0;
    bool operator==(const FileSignature&) const = default;
};

FileSignature SignatureOf(const std::string& path);

class BlocklistWatch : public QObject {
    Q_OBJECT
public:
    explicit BlocklistWatch(QObject* parent = nullptr, int settleMs = kBlocklistSettleMs);

    // Watches `path` from now on; what the file holds now counts as seen.
    void Watch(const std::string& path);
    // Looks at the file now: true when it exists and is not what was last seen, which it then
    // becomes. A file that went away is no change: there is nothing new to read.
    bool CheckNow();
    // Looks again once the file has settled, and reports it even if unchanged: its owner could
    // not take the last change when it came.
    void Postpone();

signals:
    // The file changed and has settled.
    void Changed();

private:
    void Touched();
    void Settled();
    void WatchFile();

    QFileSystemWatcher watcher_;
    QTimer settle_;
    std::string path_;
    FileSignature seen_;
};

}  // namespace fv
