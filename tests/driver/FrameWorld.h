#pragma once
// A machine with the driver loaded and the platform around it: a GPIO connection endpoint for
// every instance at its resource hub path and the firmware's SoC information.
#include "Harness.h"
#include "Firmware.h"
#include "Platform.h"
#include "SocInformation.h"
#include "frame/Driver.h"

#include <memory>

class FrameWorld : public MachineTest {
  protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            machine.AddNamedDevice(pelvane::ResourceHubPath(pelvane::GpioConnectionId(i)),
                                   std::make_shared<kmdf::Endpoint>());
        }
        pelvane::InstallSocInformation(machine, soc, pelvane::SocInformation{});
        ASSERT_EQ(machine.LoadDriver(DriverEntry), STATUS_SUCCESS);
    }

    kmdf::DeviceId Add(int instance, const pelvane::ResourceOptions& options = {}) {
        kmdf::DeviceId id = 0;
        kmdf::DeviceSpec spec = pelvane::ControllerDevice(instance, options);
        spec.lowerDevice = pelvane::DefaultFirmware(soc);
        EXPECT_EQ(machine.AddDevice(spec, &id), STATUS_SUCCESS);
        return id;
    }

    PFILTER_EXTENSION Context(kmdf::DeviceId id) { return GetFilterExtension(machine.Device(id)); }

    std::size_t RegisterAccesses() const { return Accesses().size(); }

    bool Reported(const std::string& fragment) const {
        for (auto& d : machine.Diagnostics()) {
            if (d.message.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    void ExpectBalancedAfterUnload() {
        machine.UnloadDriver();
        EXPECT_TRUE(machine.GetBooks().AllZero()) << machine.GetBooks().Describe();
    }
};
