#include "cli/CommandLine.h"

// Ostrel: one command word verifies or enables the secure-boot and OTA keys of the Bluetooth
// or keyboard MCU.
int wmain(int argc, wchar_t* argv[]) {
    return RunCommandLine(argc, argv);
}
