#pragma once
// The power sequences run on the blocks that PhyFixture maps, with a device context as prepare
// hardware leaves it, a wake-line service that records its requests in the SoC's trace, and
// the expected register sequences typed from the hardware documentation's power tables.
#include "PhyFixture.h"
#include "Platform.h"
#include "sequencing/PowerDown.h"
#include "sequencing/PowerUp.h"

#include <gpio/GpioModel.h>

#include <map>
#include <memory>
#include <utility>

namespace seq {

// Controller block.
constexpr std::uint32_t kPortsc1 = 0x420, kPortsc2 = 0x430, kPortsc3 = 0x440, kPortsc4 = 0x450;
constexpr std::uint32_t kUsb2Cfg0 = 0xC200, kUsb2Cfg1 = 0xC204, kPipe0 = 0xC2C0, kPipe1 = 0xC2C4;
constexpr std::uint32_t kIrqEnable = 0xF8820, kIrqStat0 = 0xF8824, kEvtStat0 = 0xF8858,
                        kEvtEnable0 = 0xF885C, kStatus0 = 0xF88F8, kStatus1 = 0xF89D8,
                        kEvtStat1 = 0xF89DC, kEvtEnable1 = 0xF89E0, kIrqStat1 = 0xF89F0;
// PHY block.
constexpr std::uint32_t kSharedCtl = 0x1018;

// The registers of SS PHY p and HS PHY p that the power sequences use.
struct PhyRegs {
    std::uint32_t hsControl, common, power, lowPower, wakeDetect, eventStatus, eventClear;
};
constexpr PhyRegs kPhys[] = {
    {0x2064, 0x8008, 0x9C40, 0x9C8C, 0x9F08, 0x9F10, 0x9F14},
    {0x3064, 0xD008, 0xEC40, 0xEC8C, 0xEF08, 0xEF10, 0xEF14},
    {0x4064, 0, 0xB840, 0xB88C, 0xBE08, 0xBE10, 0xBE14},
    {0x5064, 0, 0xC840, 0xC88C, 0xCE08, 0xCE10, 0xCE14},
};

// Write back: read, and write what was read.
inline Step WriteBack(soc::BlockKind block, std::uint32_t offset) {
    return Field(block, offset, 0, 0);
}

// The PORTSC reads of one pass over the pairs: HS port, then SS port of each pair.
inline Sequence PortReads(int instance) {
    if (instance == 2) {
        return {Read(kCtl, kPortsc1), Read(kCtl, kPortsc3), Read(kCtl, kPortsc2),
                Read(kCtl, kPortsc4)};
    }
    return {Read(kCtl, kPortsc1), Read(kCtl, kPortsc2)};
}

// One pass of the SS PHY event clearing with the status clear at the first read, or the
// whole bounded run when bit 2 never clears (`busyForever`) and events stay pending for
// `passes` passes.
inline Sequence ClearEvents(unsigned p, int passes = 1, bool busyForever = false) {
    Sequence s;
    for (int pass = 0; pass < passes; ++pass) {
        for (int poll = 0; poll < (busyForever ? 10 : 1); ++poll) {
            s += {Read(kPhy, kPhys[p].eventStatus), SleepUs(100)};
        }
        s += {Write(kPhy, kPhys[p].eventClear, 1), SleepUs(100),
              Write(kPhy, kPhys[p].eventClear, 0), Read(kPhy, kPhys[p].eventStatus)};
    }
    return s;
}

// A status poll that ends at its first read, or runs to its 300 busy-waits.
inline Sequence Poll(std::uint32_t offset, bool forever = false) {
    Sequence s = {Read(kCtl, offset)};
    for (int i = 0; forever && i < 300; ++i) {
        s += {StallUs(10), Read(kCtl, offset)};
    }
    return s;
}

} // namespace seq

// One wake-line request as the service saw it.
struct WakeLineCall {
    ULONG line, enable, mode;
    bool operator==(const WakeLineCall&) const = default;
};

class PowerFixture : public PhyFixture {
  protected:
    void SetUp() override {
        PhyFixture::SetUp();
        current = this;
    }
    void TearDown() override {
        current = nullptr;
        PhyFixture::TearDown();
    }

    // The context as prepare hardware and the bring-up leave it, the wake-line service ready.
    FILTER_EXTENSION Context(LONG instance) {
        FILTER_EXTENSION c;
        std::memset(&c, 0xA5, sizeof c);
        c.Instance = instance;
        c.ControllerBase = controller[instance >= 0 && instance < 3 ? instance : 0];
        c.ClockResetBase = clockReset;
        c.PhyBase = phy;
        c.PhyOverrides = overrides;
        c.PortPairCount = instance == 2 ? 2 : 1;
        c.PortPairs = pairs;
        c.PoweredDown = 0;
        c.SsPhyFailed = 0;
        c.Mprd = 0;
        c.Mpdp = 0;
        c.Gen1 = 0;
        c.GpioTarget = nullptr;
        std::memset(&c.WakeLineInterface, 0, sizeof c.WakeLineInterface);
        c.WakeLineInterface.Size = sizeof c.WakeLineInterface;
        c.WakeLineInterface.Version = 1;
        c.WakeLineInterface.ConfigureWakeLine = ConfigureWakeLine;
        c.WakeInterfaceReady = 1;
        ExInitializeRundownProtection(&c.WakeLineRundown); // as device add leaves it
        c.WakeLineRanDown = 0;
        std::memset(pairs, 0, sizeof pairs);
        return c;
    }

    // A GPIO target open on the simulated controller behind the resource hub, as prepare
    // hardware opens it for the Multiport instance (on a device of its own).
    WDFIOTARGET OpenGpioTarget() {
        machine.AddNamedDevice(gpio::ResourceHubPath(0x2A, 0x1), gpioLine);
        kmdf::DeviceId id = 0;
        EXPECT_EQ(machine.AddDevice(pelvane::ControllerDevice(soc::kMultiport), &id),
                  STATUS_SUCCESS);
        WDFDEVICE device = machine.Device(id);
        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        attributes.ParentObject = device;
        WDFIOTARGET target = nullptr;
        EXPECT_EQ(WdfIoTargetCreate(device, &attributes, &target), STATUS_SUCCESS);
        std::wstring name = L"\\Device\\RESOURCE_HUB\\000000010000002a";
        UNICODE_STRING text;
        RtlInitUnicodeString(&text, name.c_str());
        WDF_IO_TARGET_OPEN_PARAMS params;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &text, GENERIC_READ | GENERIC_WRITE);
        EXPECT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);
        soc.ClearTrace();
        return target;
    }

    // The levels driven on the GPIO line, in trace order.
    std::vector<int> GpioLevels() const {
        std::vector<int> out;
        for (auto& r : Trace()) {
            if (r.op == soc::Op::Request && r.target == "gpio") {
                out.push_back(r.level);
            }
        }
        return out;
    }

    void Attach(int instance, int k, std::uint32_t speed, std::uint32_t link) {
        soc.AttachPort(instance, k, speed, link);
    }

    // The wake-line service: every call recorded, in order; a line in `failingLines` answers
    // with that status.
    static NTSTATUS ConfigureWakeLine(WAKE_LINE_REQUEST request) {
        current->wakeLineCalls.push_back({request.LineNumber, request.Enable, request.Mode});
        auto failing = current->failingLines.find(request.LineNumber);
        return failing == current->failingLines.end() ? STATUS_SUCCESS : failing->second;
    }

    // The events that reached the consumer, as (id, opcode, payload).
    std::vector<std::tuple<int, int, std::vector<std::uint32_t>>> EventRows() const {
        std::vector<std::tuple<int, int, std::vector<std::uint32_t>>> out;
        for (auto& r : Trace()) {
            if (r.op == soc::Op::Event) {
                out.emplace_back(r.eventId, r.opcode, r.payload);
            }
        }
        return out;
    }

    bool Diagnosed(UCHAR level, const std::string& fragment) const {
        for (auto& d : machine.Diagnostics()) {
            if (d.level == level && d.message.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    static inline PowerFixture* current = nullptr;
    std::shared_ptr<gpio::GpioModel> gpioLine = std::make_shared<gpio::GpioModel>(soc);
    PORT_PAIR_STATE pairs[2];
    std::vector<WakeLineCall> wakeLineCalls;
    std::map<ULONG, NTSTATUS> failingLines;
};
