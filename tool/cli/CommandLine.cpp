#include "cli/CommandLine.h"

#include <cstdint>
#include <iostream>

#include "channel/McuCommands.h"
#include "cli/EnableFlow.h"
#include "cli/VerifyFlow.h"

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = -1;

wchar_t FoldAscii(wchar_t unit) {
    return unit >= L'a' && unit <= L'z' ? static_cast<wchar_t>(unit - L'a' + L'A') : unit;
}

int RunVerify(uint32_t device) {
    return VerifySecureBootAndOta(device) ? ExitSuccess : ExitFailure;
}

int RunEnable(uint32_t device, const char* label) {
    int32_t enableCode = 0;
    const int32_t status = EnableSecureBootAndOta(device, enableCode);
    std::cout << label << enableCode << "\n" << std::flush;
    if (status != 0) {
        return ExitFailure;
    }
    return enableCode == 0 ? ExitSuccess : ExitFailure;
}

} // namespace

bool EqualsIgnoreCase(std::wstring argument, std::wstring word) {
    if (argument.size() != word.size()) {
        return false;
    }
    for (size_t i = 0; i < argument.size(); ++i) {
        if (FoldAscii(argument[i]) != FoldAscii(word[i])) {
            return false;
        }
    }
    return true;
}

int RunCommandLine(int argc, wchar_t* argv[]) {
    if (argc < 2) {
        PrintUsage();
        return ExitUsage;
    }
    const std::wstring word = argv[1];
    if (EqualsIgnoreCase(word, L"rbtmcu")) {
        return RunVerify(BluetoothMcuDevice);
    }
    if (EqualsIgnoreCase(word, L"ebtmcu")) {
        return RunEnable(BluetoothMcuDevice, "bt mcu enable error code:");
    }
    if (EqualsIgnoreCase(word, L"rkbd")) {
        return RunVerify(KeyboardMcuDevice);
    }
    if (EqualsIgnoreCase(word, L"ekbd")) {
        return RunEnable(KeyboardMcuDevice, "kbd enable error code:");
    }
    PrintUsage();
    return ExitUsage;
}
