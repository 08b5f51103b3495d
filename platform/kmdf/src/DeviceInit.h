#pragma once
// The device initialisation record that device add fills before WdfDeviceCreate.
#include "State.h"

struct WDFDEVICE_INIT {
    kmdf::DeviceNode* node = nullptr;
    bool filter = false;
    bool callbacksSet = false;
    WDF_PNPPOWER_EVENT_CALLBACKS callbacks{};
    kmdf::DeviceImpl* created = nullptr;
};
