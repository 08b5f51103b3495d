#include "version/ComponentTable.h"

#include <cstring>

constinit const ComponentEntry ComponentTable[ComponentCount] = {
    {"BT_MCU", "BRIDGE", "", BtMcu},
    {"MCU_SOFTWARE", "MCU_SOFTWARE", "", McuSoftware},
    {"TALMER_KBD_KX71", "TALMER_KBD", "", KeyboardMcu},
    {"TALMER_KBD_KX71_UK", "TALMER_KBD", "UK", KeyboardMcu},
    {"OSKEN_KBD_S", "KBD_S", "", KeyboardMcu},
    {"OSKEN_KBD_S_UK", "KBD_S", "UK", KeyboardMcu},
    {"OSKEN_KBD_D", "KBD_D", "", KeyboardMcu},
    {"OSKEN_KBD_D_UK", "KBD_D", "UK", KeyboardMcu},
    {"PEN_KX92", "KX92", "", PenMcu},
    {"TP", "TP", "", TouchpadMcu},
    {"MCU_DRIVER", "MCU_DRIVER", "", McuDriver},
    {"KB_APP", "KB_APP", "", KeyboardApp},
    {"PEN_APP", "PEN_APP", "", PenApp},
};

// The path names the 32-bit registry view in its text; the key is opened without a view flag.
constinit const RegistryVersionSource RegistrySourceTable[RegistrySourceCount] = {
    {McuSoftware, L"SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\MCUSoftware",
     L"MCUSoftwareVersion"},
};

int FindComponent(const char* name) {
    for (size_t i = 0; i < ComponentCount; ++i) {
        if (std::strcmp(ComponentTable[i].name, name) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const RegistryVersionSource* FindRegistrySource(int32_t kind) {
    for (const RegistryVersionSource& source : RegistrySourceTable) {
        if (source.kind == kind) {
            return &source;
        }
    }
    return nullptr;
}
