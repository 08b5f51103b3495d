// Instantiates the driver's GUIDs: the event provider and the wake-line service interface.
#include <ntddk.h>
#include <initguid.h>

#include "frame/EventProvider.h"
#include "frame/WakeLineInterface.h"
