// The default namespace of a controller device.
#include "Firmware.h"

namespace pelvane {

std::shared_ptr<acpi::AcpiModel> DefaultFirmware(soc::Soc& soc) {
    auto firmware = std::make_shared<acpi::AcpiModel>(soc);
    firmware->SetPackages("PHYC", {});
    for (const char* name : {"GEN1", "MPRD", "MPDP", "CCVL"}) {
        firmware->SetFlag(name, 0);
    }
    return firmware;
}

} // namespace pelvane
