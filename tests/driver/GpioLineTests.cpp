// The GPIO line: the pin writes that reach the controller behind the resource hub, with and
// without a connection, failing and timing out on the virtual clock.
#include "FirmwareHarness.h"

#include <gpio/GpioModel.h>

#include <chrono>

namespace {

struct Write {
    int level;
    NTSTATUS status;
    bool operator==(const Write&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Write& w) {
    return out << "{" << w.level << ", 0x" << std::hex << static_cast<unsigned>(w.status)
               << std::dec << "}";
}

class GpioLine : public FirmwareTest {
  protected:
    std::shared_ptr<gpio::GpioModel> controller = std::make_shared<gpio::GpioModel>(soc);

    // What prepare hardware does for the connection 0x000000010000002A.
    void Connect() {
        machine.AddNamedDevice(gpio::ResourceHubPath(0x0000002A, 0x00000001), controller);
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        attributes.ParentObject = device;
        ASSERT_EQ(WdfIoTargetCreate(device, &attributes, &context->GpioTarget), STATUS_SUCCESS);
        std::wstring name = L"\\Device\\RESOURCE_HUB\\000000010000002a";
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, name.c_str());
        WDF_IO_TARGET_OPEN_PARAMS params;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &text, GENERIC_READ | GENERIC_WRITE);
        ASSERT_EQ(WdfIoTargetOpen(context->GpioTarget, &params), STATUS_SUCCESS);
    }

    // GPIO writes as the trace shows them.
    std::vector<Write> TracedWrites() const {
        std::vector<Write> out;
        for (auto& r : soc.Records()) {
            if (r.op == soc::Op::Request && r.target == "gpio") {
                out.push_back({r.level, r.status});
            }
        }
        return out;
    }
};

TEST_F(GpioLine, DrivesTheLineThroughTheResourceHub) {
    Connect();
    EXPECT_EQ(SetGpioLine(context, 1), STATUS_SUCCESS);
    EXPECT_EQ(controller->Level(), 1);
    EXPECT_EQ(SetGpioLine(context, 0), STATUS_SUCCESS);
    EXPECT_EQ(controller->Level(), 0);
    EXPECT_EQ(TracedWrites(), (std::vector<Write>{{1, STATUS_SUCCESS}, {0, STATUS_SUCCESS}}));
    EXPECT_EQ(controller->Writes().size(), 2u);
    EXPECT_EQ(soc.Clock().NowNs(), 0u);
}

TEST_F(GpioLine, WithoutAConnectionNothingIsWritten) {
    EXPECT_EQ(SetGpioLine(context, 1), STATUS_SUCCESS);
    EXPECT_EQ(SetGpioLine(nullptr, 1), STATUS_INVALID_PARAMETER);
    EXPECT_TRUE(TracedWrites().empty());
    EXPECT_EQ(controller->Level(), -1);
}

TEST_F(GpioLine, AFailedWriteIsReportedOnly) {
    Connect();
    ASSERT_EQ(SetGpioLine(context, 1), STATUS_SUCCESS);
    controller->FailWrites(STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(SetGpioLine(context, 0), STATUS_SUCCESS);
    EXPECT_TRUE(ReportedError("GPIO write of 0 failed, status 0xC000009D"));
    EXPECT_EQ(controller->Level(), 1);
    EXPECT_EQ(TracedWrites(),
              (std::vector<Write>{{1, STATUS_SUCCESS}, {0, STATUS_DEVICE_NOT_CONNECTED}}));
}

TEST_F(GpioLine, AWriteThatNeverCompletesEndsAfter300VirtualMilliseconds) {
    Connect();
    controller->NeverAnswer();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SetGpioLine(context, 1), STATUS_SUCCESS);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(soc.Clock().NowNs(), 300000000u);
    EXPECT_TRUE(ReportedError("GPIO write of 1 failed, status 0xC00000B5"));
    auto delays = Delays();
    ASSERT_EQ(delays.size(), 1u);
    EXPECT_EQ(delays[0].interval, -3000000);
    EXPECT_EQ(TracedWrites(), (std::vector<Write>{{1, STATUS_IO_TIMEOUT}}));
    // The write's record follows the wait that ended it.
    std::vector<soc::Op> ops;
    for (auto& r : soc.Records()) {
        if (r.op != soc::Op::Trace) {
            ops.push_back(r.op);
        }
    }
    EXPECT_EQ(ops, (std::vector<soc::Op>{soc::Op::Delay, soc::Op::Request}));

    controller->Answer();
    EXPECT_EQ(SetGpioLine(context, 1), STATUS_SUCCESS);
    EXPECT_EQ(controller->Level(), 1);
    EXPECT_EQ(soc.Clock().NowNs(), 300000000u);
}

// Without a send time-out a request that never completes would wait for ever; the stand-in
// ends the simulated system rather than hang.
TEST_F(GpioLine, ASilentWriteWithoutTimeOutStopsTheSystem) {
    Connect();
    controller->NeverAnswer();
    UCHAR pins = 1;
    WDF_MEMORY_DESCRIPTOR buffer;
    WDF_MEMORY_DESCRIPTOR_INIT_BUFFER(&buffer, &pins, 1);
    EXPECT_DEATH(WdfIoTargetSendIoctlSynchronously(context->GpioTarget, nullptr, 0x00480004,
                                                   &buffer, &buffer, nullptr, nullptr),
                 "never completes");
}

TEST(ResourceHubPath, IsTheConnectionIdInLowerCaseHexHighHalfFirst) {
    EXPECT_EQ(gpio::ResourceHubPath(0x0000002A, 0x00000001),
              L"\\Device\\RESOURCE_HUB\\000000010000002a");
    EXPECT_EQ(gpio::ResourceHubPath(0xDEADBEEF, 0xFEDCBA98),
              L"\\Device\\RESOURCE_HUB\\fedcba98deadbeef");
}

} // namespace
