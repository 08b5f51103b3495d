#pragma once
// The platform as the PnP manager presents it to Pelvane: one device per USB controller
// instance, with the resources that the firmware assigns to it.
#include <kmdf/Machine.h>
#include <soc/Soc.h>

namespace pelvane {

// Resource lists of a controller instance: its memory block and, for the Multiport instance,
// the GPIO connection of its super-speed PHY supply.
kmdf::DeviceSpec ControllerDevice(int instance);

} // namespace pelvane
