// A scripted control device behind the real control socket: a small model of the driver's
// requests that tests can bend (wrong versions, malformed binding lists, failing or stalling
// record reads) and that counts every request it serves.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fv_contract/ControlCodes.h"
#include "fv_contract/PacketEventRecord.h"
#include "fv_drv/host/ControlServer.h"
#include "fv_contract/Oids.h"
#include "fv_contract/DeviceNames.h"
#include "fv_contract/Statuses.h"

namespace fv::test {

struct FakeAdapter {
    std::string description = "Fake Ethernet";
    std::uint32_t medium = NdisMedium802_3;
    std::vector<std::uint8_t> address = {0x02, 0, 0, 0, 0, 1};
};

// UTF-16 pairs of (virtual, lower) names, ending with the empty string.
inline std::vector<std::uint8_t> BindingListBytes(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::u16string all;
    for (const auto& [v, l] : pairs) {
        all.append(v.begin(), v.end());
        all.push_back(u'\0');
        all.append(l.begin(), l.end());
        all.push_back(u'\0');
    }
    all.push_back(u'\0');
    std::vector<std::uint8_t> bytes(all.size() * 2);
    std::memcpy(bytes.data(), all.data(), bytes.size());
    return bytes;
}

class ScriptedDriver final : public fv::host::ControlDevice {
public:
    // Answers a request before the model does when it returns a status.
    using Override = std::function<std::optional<std::uint32_t>(
        std::uint32_t code, std::uint8_t* buffer, std::uint32_t in, std::uint32_t out,
        std::uint32_t* information)>;

    explicit ScriptedDriver(std::string dir) : dir_(std::move(dir)) {}
    ~ScriptedDriver() override {
        ReleaseStall();
        server_.Stop();
        CloseOpenedLocked();
    }

    // Whether the program's events are held (created and not released).
    bool EventsHeld() {
        std::lock_guard guard(lock_);
        return opened_.size() == 3;
    }

    bool Serve(const std::string& name = kControlDeviceName) {
        const std::string path = dir_ + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        return server_.Start(path);
    }

    // The model, changed by tests before or between requests (under Lock()).
    std::unique_lock<std::mutex> Lock() { return std::unique_lock(lock_); }
    DriverVersionInfo version{kDriverMajorVersion, kDriverMinorVersion, kDriverBuild, "Duskmere",
                              "*Beta*"};
    std::vector<std::uint8_t> bindings = BindingListBytes({});
    std::map<std::string, FakeAdapter> adapters;
    std::deque<PacketEventRecord> blocked;
    std::deque<PacketEventRecord> granted;
    Override script;
    std::map<std::uint32_t, int> served;  // requests by code
    // What a new connection is told at its hello (STATUS_ACCESS_DENIED: a user outside the
    // device group).
    std::uint32_t openStatus = STATUS_SUCCESS;
    bool filtering = false;
    std::uint8_t reportBlocked = 0;
    std::uint8_t reportGranted = 0;

    int Served(std::uint32_t code) {
        std::lock_guard guard(lock_);
        return served[code];
    }
    // Record reads wait until ReleaseStall while stalled; StalledReads counts the waiting ones.
    void StallRecordReads() {
        std::lock_guard guard(lock_);
        stalled_ = true;
    }
    void ReleaseStall() {
        std::lock_guard guard(lock_);
        stalled_ = false;
        stallChanged_.notify_all();
    }
    bool WaitForStalledRead() {
        std::unique_lock guard(lock_);
        return stallChanged_.wait_for(guard, std::chrono::seconds(10),
                                      [this] { return stalledReads_ > 0; });
    }
    // Appends records and signals the event, as the driver does for each.
    void Report(bool isBlocked, const std::vector<PacketEventRecord>& records) {
        std::lock_guard guard(lock_);
        for (const auto& r : records) (isBlocked ? blocked : granted).push_back(r);
        SignalLocked(isBlocked ? kBlockedEventName : kGrantedEventName);
    }

    std::uint32_t Create(std::vector<fv::host::NamedEventFd> events,
                         std::unique_ptr<fv::host::ControlHandle>& handle) override {
        {
            std::lock_guard guard(lock_);
            if (openStatus != STATUS_SUCCESS) return openStatus;
        }
        handle = std::make_unique<Handle>(*this, std::move(events));
        return STATUS_SUCCESS;
    }

private:
    class Handle final : public fv::host::ControlHandle {
    public:
        Handle(ScriptedDriver& driver, std::vector<fv::host::NamedEventFd> events)
            : driver_(driver), events_(std::move(events)) {}
        ~Handle() override {
            std::lock_guard guard(driver_.lock_);
            if (!adapter_.empty()) driver_.held_.erase(adapter_);
        }
        std::uint32_t DeviceControl(std::uint32_t code, std::uint8_t* buffer, std::uint32_t in,
                                    std::uint32_t out, std::uint32_t* information) override {
            *information = 0;
            std::unique_lock guard(driver_.lock_);
            ++driver_.served[code];
            if (driver_.script) {
                if (auto status = driver_.script(code, buffer, in, out, information)) return *status;
            }
            return driver_.Answer(*this, guard, code, buffer, in, out, information);
        }
        ScriptedDriver& driver_;
        std::vector<fv::host::NamedEventFd> events_;
        std::string adapter_;
    };

    std::uint32_t Answer(Handle& h, std::unique_lock<std::mutex>& guard, std::uint32_t code,
                         std::uint8_t* buffer, std::uint32_t in, std::uint32_t out,
                         std::uint32_t* information) {
        auto reply = [&](const void* data, std::uint32_t size) {
            if (out < size) return STATUS_INVALID_PARAMETER;
            std::memcpy(buffer, data, size);
            *information = size;
            return STATUS_SUCCESS;
        };
        switch (code) {
            case IOCTL_GET_VERSION:
                return reply(&version, sizeof version);
            case IOCTL_ENUM_BINDINGS:
                return reply(bindings.data(), std::uint32_t(bindings.size()));
            case IOCTL_OPEN_ADAPTER: {
                std::u16string wide(in / 2, u'\0');
                std::memcpy(wide.data(), buffer, wide.size() * 2);
                const std::string name(wide.begin(), wide.end());
                if (!adapters.count(name)) return STATUS_OBJECT_NAME_NOT_FOUND;
                if (held_.count(name)) return STATUS_DEVICE_BUSY;
                held_.insert(name);
                h.adapter_ = name;
                return STATUS_SUCCESS;
            }
            case IOCTL_CREATE_BLOCKED_EVENT:
            case IOCTL_CREATE_GRANTED_EVENT:
            case IOCTL_CREATE_EXIT_EVENT: {
                const std::string name = code == IOCTL_CREATE_BLOCKED_EVENT ? kBlockedEventName
                                         : code == IOCTL_CREATE_GRANTED_EVENT ? kGrantedEventName
                                                                              : kExitEventName;
                if (opened_.count(name)) return STATUS_INVALID_PARAMETER;
                for (const auto& e : h.events_) {
                    if (e.name == name) {
                        opened_[name] = ::dup(e.fd.Get());
                        return STATUS_SUCCESS;
                    }
                }
                return STATUS_UNSUCCESSFUL;
            }
            case IOCTL_CLOSE_EVENTS:
                CloseOpenedLocked();
                return STATUS_SUCCESS;
            default:
                break;
        }
        if (h.adapter_.empty()) return STATUS_INVALID_HANDLE;
        const FakeAdapter& a = adapters[h.adapter_];
        switch (code) {
            case IOCTL_QUERY_OID: {
                std::uint32_t oid = 0;
                std::memcpy(&oid, buffer, 4);
                if (oid == OID_GEN_VENDOR_DESCRIPTION) {
                    return reply(a.description.c_str(), std::uint32_t(a.description.size() + 1));
                }
                if (oid == OID_GEN_MEDIA_IN_USE) return reply(&a.medium, 4);
                if (oid == OID_802_3_CURRENT_ADDRESS || oid == OID_FDDI_LONG_CURRENT_ADDR) {
                    return reply(a.address.data(), std::uint32_t(a.address.size()));
                }
                return STATUS_NOT_SUPPORTED;
            }
            case IOCTL_SET_RANGES: {
                std::uint32_t count = 0;
                if (in >= 4) std::memcpy(&count, buffer, 4);
                return in >= 12 ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
            }
            case IOCTL_START_FILTER:
                filtering = true;
                reportBlocked = reportGranted = 0;
                blocked.clear();
                granted.clear();
                return STATUS_SUCCESS;
            case IOCTL_STOP_FILTER:
                filtering = false;
                SignalLocked(kExitEventName);
                return STATUS_SUCCESS;
            case IOCTL_SET_REPORT_BLOCKED:
                if (in < 1) return STATUS_INVALID_PARAMETER;
                reportBlocked = buffer[0];
                return STATUS_SUCCESS;
            case IOCTL_SET_REPORT_GRANTED:
                if (in < 1) return STATUS_INVALID_PARAMETER;
                reportGranted = buffer[0];
                return STATUS_SUCCESS;
            case IOCTL_GET_BLOCKED_COUNT:
            case IOCTL_GET_GRANTED_COUNT: {
                const std::uint32_t n = std::uint32_t(
                    (code == IOCTL_GET_BLOCKED_COUNT ? blocked : granted).size());
                return reply(&n, 4);
            }
            case IOCTL_GET_BLOCKED_RECORD:
            case IOCTL_GET_GRANTED_RECORD: {
                if (stalled_) {
                    ++stalledReads_;
                    stallChanged_.notify_all();
                    stallChanged_.wait(guard, [this] { return !stalled_; });
                    --stalledReads_;
                }
                auto& ring = code == IOCTL_GET_BLOCKED_RECORD ? blocked : granted;
                if (ring.empty()) return STATUS_INVALID_PARAMETER;
                const PacketEventRecord r = ring.front();
                ring.pop_front();
                return reply(&r, sizeof r);
            }
            default:
                return STATUS_NOT_SUPPORTED;
        }
    }

    // Sets an event the program handed over, as KeSetEvent does.
    void SignalLocked(const std::string& name) {
        const auto it = opened_.find(name);
        if (it == opened_.end()) return;
        const std::uint64_t one = 1;
        (void)!::write(it->second, &one, sizeof one);
    }
    void CloseOpenedLocked() {
        for (auto& [name, fd] : opened_) ::close(fd);
        opened_.clear();
    }

    std::string dir_;
    fv::host::ControlServer server_{*this, fv::host::PeerPolicy{::geteuid(), gid_t(-1)}};
    std::mutex lock_;
    std::condition_variable stallChanged_;
    bool stalled_ = false;
    int stalledReads_ = 0;
    std::set<std::string> held_;
    std::map<std::string, int> opened_;
};

}  // namespace fv::test
