#pragma once
// The ACPI firmware of a controller device as a platform ships it unless a test says
// otherwise: "PHYC" with no override package, and the four switches "GEN1", "MPRD", "MPDP" and
// "CCVL" as one-byte buffers holding 0.
#include <acpi/AcpiModel.h>
#include <soc/Soc.h>

#include <memory>

namespace pelvane {

std::shared_ptr<acpi::AcpiModel> DefaultFirmware(soc::Soc& soc);

} // namespace pelvane
