// The platform around the controllers, set up for a scenario.
#include "World.h"

#include <algorithm>

#include "frame/EventProvider.h"

#include "Firmware.h"

namespace pelvane {

World::World(soc::Soc& soc, kmdf::Machine& machine, WorldOptions options)
    : soc_(soc), machine_(machine), options_(std::move(options)) {}

World::~World() = default;

void World::Install() {
    std::vector<acpi::Argument> packages;
    for (const PhyOverride& o : options_.overrides) {
        packages.push_back(acpi::Override(o.kind, o.address, o.value));
    }
    for (int instance = 0; instance < kInstances; ++instance) {
        firmware_[instance] = DefaultFirmware(soc_);
        firmware_[instance]->SetPackages("PHYC", packages);
        for (const AcpiSetting& s : options_.acpi) {
            if (s.kind == AcpiSetting::Kind::Missing) {
                firmware_[instance]->RemoveObject(s.name);
            } else if (s.kind == AcpiSetting::Kind::Integer) {
                firmware_[instance]->SetFlagInteger(s.name, s.value);
            } else {
                firmware_[instance]->SetFlag(s.name, static_cast<std::uint8_t>(s.value));
            }
        }
        gpio_[instance] = std::make_shared<gpio::GpioModel>(soc_);
        std::uint64_t id = GpioConnectionId(instance);
        machine_.AddNamedDevice(gpio::ResourceHubPath(static_cast<std::uint32_t>(id),
                                                      static_cast<std::uint32_t>(id >> 32)),
                                gpio_[instance]);
    }
    SocInformation info;
    info.named = options_.sosi;
    if (options_.socVersion) {
        info.version = *options_.socVersion;
    }
    InstallSocInformation(machine_, soc_, info);
    for (int instance = 0; instance < kInstances; ++instance) {
        for (int k = 1; k <= 4 && options_.portResetNs; ++k) {
            soc_.SetPortResetTime(instance, k, *options_.portResetNs);
        }
        for (const PortValue& port : options_.portsc) {
            soc_.SetPortValue(instance, port.k, port.value);
        }
    }
    for (int phy = 0; phy < 4; ++phy) {
        soc_.SsPhyReadyAfter(phy, options_.ssPhyReadyAfter < 0 ? -1 : options_.ssPhyReadyAfter - 1);
    }
    for (int instance : options_.hsSuspendStuck) {
        // Suspend enable (GUSB2PHYCFG(0) bit 6) written: the glue's status bit 4 stays busy.
        soc_.OnWrite(soc::BlockKind::Controller, instance, 0xC200,
                     [instance](std::uint32_t written, soc::Soc::RegisterView& view) {
                         if (written & 0x40) {
                             view.ClearBitsAfterReads(soc::BlockKind::Controller, instance, 0xF88F8,
                                                      0x10, -1);
                         }
                     });
    }
    machine_.AllowRestarts(options_.restarts);
    machine_.SetWppSession(options_.wpp);
    if (options_.provider) {
        // Level 4 (information) and every keyword: all the power events.
        machine_.EnableProvider(PELVANE_PROVIDER_GUID, 4, 0);
    }
    service_ = wakeline::WakeLineService::Create(soc_);
    ApplyHistoryLimit();
    if (options_.service == ServiceArrival::Early) {
        Publish();
    }
}

void World::AfterStart() {
    if (options_.service == ServiceArrival::Late) {
        Publish();
    }
}

void World::Publish() {
    if (!published_) {
        service_->Publish(machine_);
        published_ = true;
    }
}

void World::LimitHistory(std::size_t entries) {
    historyLimit_ = entries;
    machine_.LimitHistory(entries);
    ApplyHistoryLimit();
}

void World::ApplyHistoryLimit() {
    for (int instance = 0; instance < kInstances; ++instance) {
        if (firmware_[instance]) {
            firmware_[instance]->LimitHistory(historyLimit_);
        }
        if (gpio_[instance]) {
            gpio_[instance]->LimitHistory(historyLimit_);
        }
    }
    if (service_) {
        service_->LimitHistory(historyLimit_);
    }
}

// A vetoed query-remove: by a file object of a target that the query told (its holder did
// not let go), or only by files whose targets registered while the query was being delivered,
// which they could not know of: those are counted, not held against anybody. A file that
// nobody registered for keeps the books unbalanced, which the walk checks on its own.
void World::Vetoed(const std::wstring& device) {
    std::vector<std::uint64_t> told = machine_.FilesToldOfLastQuery();
    for (std::uint64_t file : machine_.DeviceFiles(device)) {
        if (std::find(told.begin(), told.end(), file) != told.end()) {
            vetoed_ = true;
            return;
        }
    }
    ++racedVetoes_;
}

bool World::Withdraw() {
    if (published_) {
        std::wstring device = wakeline::WakeLineService::DeviceName(service_->Present());
        if (!service_->Withdraw(machine_)) {
            Vetoed(device);
            return false; // the instance stays
        }
        published_ = false;
    }
    return true;
}

void World::CancelledUpdate() {
    if (published_) {
        std::wstring device = wakeline::WakeLineService::DeviceName(service_->Present());
        if (service_->QueryRemove(machine_)) {
            service_->CancelRemove(machine_);
        } else {
            Vetoed(device);
        }
    }
}

void World::SurpriseRemoveService() {
    if (published_) {
        service_->SurpriseRemove(machine_);
        published_ = false;
    }
}

void World::System(const char* event) {
    soc_.RecordSystem(event);
    // S4, by hibernation or fast startup: the image goes to the disk with the hibernation file.
    const std::string s4 = event;
    if (options_.hibernationDevice && (s4 == "hibernate" || s4 == "fast-startup")) {
        soc_.WatchHibernationPath(*options_.hibernationDevice);
    }
}

NTSTATUS World::AnnounceSpecialFiles(int instance, kmdf::DeviceId id) {
    NTSTATUS status = STATUS_SUCCESS;
    if (options_.pagingDevice == instance) {
        status = machine_.NotifyUsage(id, DeviceUsageTypePaging, true);
    }
    if (NT_SUCCESS(status) && options_.hibernationDevice == instance) {
        status = machine_.NotifyUsage(id, DeviceUsageTypeHibernation, true);
    }
    return status;
}

void World::PowerOff() {
    // The D0 exits are over: the image is written before the power goes.
    bool written = true;
    lastImageLost_ = soc_.WriteHibernationImage(&written) && !written;
    imageLost_ = imageLost_ || lastImageLost_;
    soc_.RecordSystem("power-off");
    soc_.PowerLoss();
    for (auto& gpio : gpio_) {
        if (gpio) {
            gpio->PowerLoss();
        }
    }
}

void World::PowerOn() {
    soc_.RecordSystem("power-on");
}

void World::NeverConfirmHsSuspend(int instance) {
    options_.hsSuspendStuck.push_back(instance);
}

bool World::HsSuspendNeverConfirms(int instance) const {
    for (int stuck : options_.hsSuspendStuck) {
        if (stuck == instance) {
            return true;
        }
    }
    return false;
}

kmdf::DeviceSpec World::Device(int instance) const {
    ResourceOptions resources;
    resources.gpioConnections = options_.gpio ? 1 : 0;
    resources.memoryLength = options_.controllerLength;
    kmdf::DeviceSpec spec = ControllerDevice(instance, resources);
    spec.lowerDevice = firmware_[instance];
    return spec;
}

} // namespace pelvane
