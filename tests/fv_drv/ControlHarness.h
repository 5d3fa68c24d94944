// Drives the control device in-process: handles are file objects carrying the opener's named
// events (eventfds), requests are IRPs sent through the stand-in's dispatcher.
#pragma once

#include <sys/eventfd.h>
#include <unistd.h>

#include <list>
#include <set>

#include "tests/fv_drv/DriverHarness.h"
#include "fv_contract/ControlCodes.h"

namespace fv::test {

struct Reply {
    NTSTATUS status;
    ULONG_PTR information;
    std::vector<std::uint8_t> output;  // the whole output buffer after the call
};

// One of the program's named events.
struct ProgramEvent {
    explicit ProgramEvent(std::string n) : name(std::move(n)), fd(eventfd(0, EFD_NONBLOCK)) {}
    ~ProgramEvent() { close(fd); }
    // Sets since the last call (the driver writes 1 per set).
    std::uint64_t Signals() const {
        std::uint64_t n = 0;
        return read(fd, &n, sizeof n) == sizeof n ? n : 0;
    }
    std::string name;
    int fd;
};

class ControlTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        for (int i = 0; i < 2; ++i) {
            ndis::sim::Adapter& a = AddAdapter(SimConfig(i));
            sims.push_back(&a);
            bindings.push_back(BindingOf(a));
        }
        ASSERT_NE(deviceHost.live, nullptr);
        // A copy of the dispatch table: closing a handle must work after the device is gone.
        std::copy(std::begin(deviceHost.live->MajorFunction),
                  std::end(deviceHost.live->MajorFunction), device.MajorFunction);
    }
    void TearDown() override {
        for (FILE_OBJECT& f : files) Close(&f);
        DriverTest::TearDown();
    }

    // A new handle of a process with these events.
    FILE_OBJECT* Open(const std::vector<const ProgramEvent*>& events = {}) {
        FILE_OBJECT& file = files.emplace_back();
        for (const ProgramEvent* e : events) file.Events.push_back({e->name, e->fd});
        file.FsContext2 = &file;  // create clears both contexts
        EXPECT_EQ(Send(&file, IRP_MJ_CREATE), STATUS_SUCCESS);
        EXPECT_EQ(file.FsContext2, nullptr);
        openFiles.insert(&file);
        return &file;
    }
    void Close(FILE_OBJECT* file) {
        if (openFiles.erase(file) == 0) return;
        EXPECT_EQ(Send(file, IRP_MJ_CLEANUP), STATUS_SUCCESS);
        EXPECT_EQ(Send(file, IRP_MJ_CLOSE), STATUS_SUCCESS);
        EXPECT_EQ(file->FsContext, nullptr);
    }
    NTSTATUS Send(FILE_OBJECT* file, UCHAR major) {
        IRP irp;
        irp.Stack.MajorFunction = major;
        irp.Stack.FileObject = file;
        return ndis::host::DispatchIrp(&device, &irp);
    }

    Reply Call(FILE_OBJECT* file, ULONG code, const std::vector<std::uint8_t>& input = {},
               ULONG outputLength = 0) {
        std::vector<std::uint8_t> buffer(std::max<std::size_t>(input.size(), outputLength), 0xCC);
        std::copy(input.begin(), input.end(), buffer.begin());
        IRP irp;
        irp.SystemBuffer = buffer.empty() ? nullptr : buffer.data();
        irp.Stack.MajorFunction = IRP_MJ_DEVICE_CONTROL;
        irp.Stack.FileObject = file;
        irp.Stack.DeviceIoControl.IoControlCode = code;
        irp.Stack.DeviceIoControl.InputBufferLength = ULONG(input.size());
        irp.Stack.DeviceIoControl.OutputBufferLength = outputLength;
        const NTSTATUS status = ndis::host::DispatchIrp(&device, &irp);
        EXPECT_EQ(status, irp.IoStatus.Status);
        buffer.resize(outputLength);
        return {status, irp.IoStatus.Information, buffer};
    }

    static std::vector<std::uint8_t> Utf16(const std::u16string& s) {
        std::vector<std::uint8_t> bytes(s.size() * 2);
        std::memcpy(bytes.data(), s.data(), bytes.size());
        return bytes;
    }
    static std::vector<std::uint8_t> Word(std::uint32_t v) {
        std::vector<std::uint8_t> bytes(4);
        std::memcpy(bytes.data(), &v, 4);
        return bytes;
    }
    static std::uint32_t WordAt(const std::vector<std::uint8_t>& bytes, std::size_t at = 0) {
        std::uint32_t v;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    }
    // A range upload: count, the entries, four trailing bytes.
    static std::vector<std::uint8_t> Upload(const std::vector<RangeEntry>& ranges) {
        std::vector<std::uint8_t> bytes = Word(std::uint32_t(ranges.size()));
        for (const RangeEntry& r : ranges) {
            for (std::uint32_t v : {r.first, r.span}) {
                const auto w = Word(v);
                bytes.insert(bytes.end(), w.begin(), w.end());
            }
        }
        bytes.resize(bytes.size() + 4, 0);
        return bytes;
    }

    // A handle bound to adapter `index`.
    FILE_OBJECT* OpenAdapter(int index, const std::vector<const ProgramEvent*>& events = {}) {
        FILE_OBJECT* file = Open(events);
        EXPECT_EQ(Call(file, IOCTL_OPEN_ADAPTER, Utf16(sims[index]->Name())).status, STATUS_SUCCESS);
        return file;
    }

    DEVICE_OBJECT device;
    std::vector<ndis::sim::Adapter*> sims;
    std::vector<AdapterBinding*> bindings;
    std::list<FILE_OBJECT> files;
    std::set<FILE_OBJECT*> openFiles;
};

}  // namespace fv::test
