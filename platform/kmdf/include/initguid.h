#pragma once
// GUID instantiation (Linux stand-in). DEFINE_GUID always defines here, so this only marks
// the one source that instantiates the driver's GUIDs, as under the WDK.
#define INITGUID
