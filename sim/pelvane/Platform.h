#pragma once
// The platform as the PnP manager presents it to Pelvane: one device per USB controller
// instance, with the resources that the firmware assigns to it.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

#include <cstdint>
#include <optional>
#include <string>

namespace pelvane {

// What a controller's resource lists carry. By default: one memory resource at the
// instance's block and one GPIO connection resource with the instance's connection ID.
struct ResourceOptions {
    int memoryResources = 1;                   // 0, 1 or 2 copies of the instance's memory resource
    bool highAddressBit = false;               // bit 32 set in the memory resource's start
    std::optional<std::uint64_t> memoryAt;     // the memory resource at this address instead
    std::optional<std::uint32_t> memoryLength; // its length, instead of the whole block
    int gpioConnections = 1;                   // 0, 1 or 2 (the second with another ID)
};

// Resource lists of a controller instance (raw and translated alike).
kmdf::DeviceSpec ControllerDevice(int instance, const ResourceOptions& options = {});

// The GPIO connection ID of an instance's resources (distinct per instance), the ID of a
// second connection, and the resource hub path that opens a connection.
std::uint64_t GpioConnectionId(int instance);
std::uint64_t SecondGpioConnectionId(int instance);
std::wstring ResourceHubPath(std::uint64_t connectionId);

} // namespace pelvane
