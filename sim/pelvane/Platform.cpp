// Resource lists of the SoC's USB controller instances.
#include "Platform.h"

namespace pelvane {

namespace {

CM_PARTIAL_RESOURCE_DESCRIPTOR MemoryResource(std::uint64_t start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.ShareDisposition = CmResourceShareDeviceExclusive;
    d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(start);
    d.u.Memory.Length = length;
    return d;
}

CM_PARTIAL_RESOURCE_DESCRIPTOR GpioConnection(ULONG low, ULONG high) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeConnection;
    d.u.Connection.Class = CM_RESOURCE_CONNECTION_CLASS_GPIO;
    d.u.Connection.Type = CM_RESOURCE_CONNECTION_TYPE_GPIO_IO;
    d.u.Connection.IdLowPart = low;
    d.u.Connection.IdHighPart = high;
    return d;
}

} // namespace

kmdf::DeviceSpec ControllerDevice(int instance) {
    kmdf::DeviceSpec spec;
    spec.name = soc::InstanceName(instance);
    spec.instance = instance;
    spec.translated.push_back(
        MemoryResource(soc::kControllerBase[instance], static_cast<ULONG>(soc::kControllerSize)));
    if (instance == soc::kMultiport) {
        spec.translated.push_back(GpioConnection(0x0000002A, 0x00000001));
    }
    spec.raw = spec.translated;
    return spec;
}

} // namespace pelvane
