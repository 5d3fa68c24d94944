// A driver-session test against a scripted device that serves one adapter, bound under its
// virtual name.
#pragma once

#include <memory>

#include "tests/fv_gui/ClientFixture.h"
#include "tests/fv_gui/ScriptedDriver.h"

namespace fv::test {

inline constexpr char kAdapter[] = "eth0";

class ScriptedSessionFixture : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        driver = std::make_unique<ScriptedDriver>(DeviceDir());
        {
            auto lock = driver->Lock();
            driver->adapters[kAdapter] = FakeAdapter{};
            driver->bindings = BindingListBytes({{"fv-eth0", kAdapter}});
        }
        ASSERT_TRUE(driver->Serve());
    }
    void TearDown() override {
        // A read left stalled by a test would hold the session's readers as it closes.
        if (driver) driver->ReleaseStall();
        ClientFixture::TearDown();
        driver.reset();
    }

    std::unique_ptr<ScriptedDriver> driver;
};

}  // namespace fv::test
