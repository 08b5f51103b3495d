#pragma once
// The platform around the controllers as a scenario sets it up: each instance's ACPI firmware
// with the settings asked for, a GPIO controller at each instance's resource hub path, the
// firmware's SoC information, the SS PHYs' readiness and the wake-line service, published
// before the driver loads, after the controllers have started, or not at all.
#include "Platform.h"
#include "SocInformation.h"

#include <acpi/AcpiModel.h>
#include <gpio/GpioModel.h>
#include <kmdf/Machine.h>
#include <soc/Soc.h>
#include "WakeLineService.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelvane {

// One of the switches "GEN1", "MPRD", "MPDP", "CCVL" as the firmware answers it.
struct AcpiSetting {
    enum class Kind { Byte, Integer, Missing };
    std::string name;
    Kind kind = Kind::Byte;
    std::uint32_t value = 0;
};

// One "PHYC" package: {kind, physical address, value}.
struct PhyOverride {
    std::uint32_t kind = 0;
    std::uint32_t address = 0;
    std::uint32_t value = 0;
};

// What PORTSC k (1..4) of a controller reads, with the port's behaviour on top.
struct PortValue {
    int k = 1;
    std::uint32_t value = 0;
};

inline constexpr int kInstances = 3;

enum class ServiceArrival { Early, Late, Absent };

struct WorldOptions {
    int ssPhyReadyAfter = 1;            // the status read that reports ready; -1 never
    std::vector<AcpiSetting> acpi;      // applied in order over the default firmware
    std::vector<PhyOverride> overrides; // "PHYC" in this order
    std::optional<std::uint32_t> socVersion;
    bool sosi = true; // the DSDT names the SoC information record
    bool gpio = true; // the resource lists carry the GPIO connection
    // The length of each controller's memory resource; none gives the whole block.
    std::optional<std::uint32_t> controllerLength;
    ServiceArrival service = ServiceArrival::Early;
    bool provider = true; // a trace consumer enables the driver's event provider
    // The WPP trace session on the driver's control GUID; none: nobody traces.
    std::optional<kmdf::WppSession> wpp = kmdf::WppSession{};
    int cycles = 1;                // rounds of the cycle scenario
    std::vector<PortValue> portsc; // applied in order to every instance's ports
    // How long a port reset takes on every port (soc::PortModel::kNever: it never completes);
    // none keeps the SoC's default.
    std::optional<std::uint64_t> portResetNs;
    // Instances (Primary or Secondary) whose HS PHY never confirms its suspend.
    std::vector<int> hsSuspendStuck;
    // How often the framework has a device enumerated again after a failed D0 exit or entry.
    int restarts = 0;
    // The instance with a disk behind it that carries the paging file, and the one whose disk
    // carries the hibernation file; none: no special file behind any controller.
    std::optional<int> pagingDevice;
    std::optional<int> hibernationDevice;
};

class World {
  public:
    World(soc::Soc& soc, kmdf::Machine& machine, WorldOptions options = {});
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Everything that is in place before the driver loads.
    void Install();
    // What arrives once the controllers have started: the late wake-line service.
    void AfterStart();
    // The service goes away again (call after the driver unloaded).
    bool Withdraw(); // false when the removal was vetoed
    // Query-remove of the service, then a cancel; and its surprise removal.
    void CancelledUpdate();
    void SurpriseRemoveService();
    // Whether any removal of the service was vetoed in the run by a file object of a target
    // that its query told; and how many only by files of targets that registered during it.
    bool ServiceVetoed() const { return vetoed_; }
    std::size_t RacedVetoes() const { return racedVetoes_; }

    // An instance's device with its resource lists and its own firmware below it.
    kmdf::DeviceSpec Device(int instance) const;

    acpi::AcpiModel& Firmware(int instance) const { return *firmware_[instance]; }
    gpio::GpioModel& Gpio(int instance) const { return *gpio_[instance]; }
    wakeline::WakeLineService& Service() const { return *service_; }
    const WorldOptions& Options() const { return options_; }
    soc::Soc& Soc() const { return soc_; }

    // The machine and the devices keep only the last `entries` of each list of what happened
    // (kmdf/History.h), so that a long run does not grow.
    void LimitHistory(std::size_t entries);

    // The wake-line service's device arrives now (once).
    void Publish();

    // A system power event in the trace ("idle", "sleep", "hibernate", "resume", ...).
    void System(const char* event);
    // The system is off: the SoC and the GPIO lines lose their state; the firmware's settings
    // and the wake-line service are unchanged. Then the power comes back.
    void PowerOff();
    void PowerOn();

    // The disks behind a started instance arrive: the usage notification of each special
    // file behind it reaches its stack.
    NTSTATUS AnnounceSpecialFiles(int instance, kmdf::DeviceId id);
    // A hibernation image was to be written and was not.
    bool HibernationImageLost() const { return imageLost_; }
    // Whether the image of the last power-off was lost.
    bool LastHibernationImageLost() const { return lastImageLost_; }

    // The HS PHY of Primary or Secondary never confirms its suspend (before Install).
    void NeverConfirmHsSuspend(int instance);
    bool HsSuspendNeverConfirms(int instance) const;
    bool AnyHsSuspendNeverConfirms() const { return !options_.hsSuspendStuck.empty(); }

  private:
    void ApplyHistoryLimit();
    void Vetoed(const std::wstring& device);

    soc::Soc& soc_;
    kmdf::Machine& machine_;
    WorldOptions options_;
    std::shared_ptr<acpi::AcpiModel> firmware_[kInstances];
    std::shared_ptr<gpio::GpioModel> gpio_[kInstances];
    std::shared_ptr<wakeline::WakeLineService> service_;
    bool vetoed_ = false;
    std::size_t racedVetoes_ = 0;
    bool published_ = false;
    bool imageLost_ = false;
    bool lastImageLost_ = false;
    std::size_t historyLimit_ = 0;
};

} // namespace pelvane
