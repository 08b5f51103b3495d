// Instantiates the driver's GUIDs: the event provider, the wake-line service interface and the
// Plug and Play events it is told of (the kernel exports none of them).
#include <ntddk.h>
#include <initguid.h>
#include <wdmguid.h>

#include "frame/EventProvider.h"
#include "frame/WakeLineInterface.h"
