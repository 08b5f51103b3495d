// Resource lists of the SoC's USB controller instances.
#include "Platform.h"

#include <cwchar>

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

CM_PARTIAL_RESOURCE_DESCRIPTOR GpioConnection(std::uint64_t id) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeConnection;
    d.u.Connection.Class = CM_RESOURCE_CONNECTION_CLASS_GPIO;
    d.u.Connection.Type = CM_RESOURCE_CONNECTION_TYPE_GPIO_IO;
    d.u.Connection.IdLowPart = static_cast<ULONG>(id);
    d.u.Connection.IdHighPart = static_cast<ULONG>(id >> 32);
    return d;
}

} // namespace

std::uint64_t GpioConnectionId(int instance) {
    return 0x0000000100000029ull + static_cast<std::uint64_t>(instance);
}

std::uint64_t SecondGpioConnectionId(int instance) {
    return 0x00000002000000A0ull + static_cast<std::uint64_t>(instance);
}

std::wstring ResourceHubPath(std::uint64_t connectionId) {
    wchar_t text[64];
    std::swprintf(text, 64, L"\\Device\\RESOURCE_HUB\\%016llx",
                  static_cast<unsigned long long>(connectionId));
    return text;
}

kmdf::DeviceSpec ControllerDevice(int instance, const ResourceOptions& options) {
    kmdf::DeviceSpec spec;
    spec.name = soc::InstanceName(instance);
    spec.instance = instance;
    std::uint64_t start = options.memoryAt.value_or(soc::kControllerBase[instance]);
    if (options.highAddressBit) {
        start |= 1ull << 32;
    }
    const ULONG length = options.memoryLength.value_or(static_cast<ULONG>(soc::kControllerSize));
    for (int i = 0; i < options.memoryResources; ++i) {
        spec.translated.push_back(MemoryResource(start, length));
        if (i == 0 && options.gpioConnections > 0) {
            spec.translated.push_back(GpioConnection(GpioConnectionId(instance)));
        }
    }
    if (options.memoryResources == 0 && options.gpioConnections > 0) {
        spec.translated.push_back(GpioConnection(GpioConnectionId(instance)));
    }
    if (options.gpioConnections > 1) {
        spec.translated.push_back(GpioConnection(SecondGpioConnectionId(instance)));
    }
    spec.raw = spec.translated;
    return spec;
}

} // namespace pelvane
